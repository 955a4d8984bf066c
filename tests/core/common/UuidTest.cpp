#include "core/common/Uuid.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string_view>
#include <unordered_set>

namespace quorlin {
namespace {

TEST(UuidTest, RandomIdentifiersAreDistinctCanonicalVersion4TextsThatParseBackInEitherCase) {
  // 8-4-4-4-12 upper-case hex digits, version nibble 4, variant 8, 9, A or B.
  auto isCanonical = [](const std::string& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
      const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
      if (dash != (text[i] == '-')) return false;
      if (!dash && !std::isdigit(static_cast<unsigned char>(text[i])) && !(text[i] >= 'A' && text[i] <= 'F')) {
        return false;
      }
    }
    return text[14] == '4' && std::string_view("89AB").find(text[19]) != std::string_view::npos;
  };
  std::unordered_set<Uuid> seen;
  for (int i = 0; i < 10000; ++i) {
    const Uuid id = Uuid::random();
    ASSERT_TRUE(seen.insert(id).second);
    if (i % 100 != 0) continue;
    ASSERT_TRUE(isCanonical(id.uuidString())) << id.uuidString();
    std::string lower = id.uuidString();
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(Uuid::fromString(id.uuidString()), id);
    EXPECT_EQ(Uuid::fromString(lower), id);
  }
  EXPECT_FALSE(isCanonical("6f1c2e1a-3b4d-4c5e-8f90-0a1b2c3d4e5f"));
  EXPECT_FALSE(Uuid::fromString("not-a-uuid"));
  EXPECT_FALSE(Uuid::fromString("6F1C2E1A_3B4D-4C5E-8F90-0A1B2C3D4E5F"));
  EXPECT_TRUE(Uuid().isNil());
}

}  // namespace
}  // namespace quorlin
