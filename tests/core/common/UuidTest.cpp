#include "core/common/Uuid.h"

#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <unordered_set>

namespace quorlin {
namespace {

TEST(UuidTest, RandomIdentifiersAreDistinctCanonicalVersion4TextsThatParseBackInEitherCase) {
  // 8-4-4-4-12 upper-case hex digits, version nibble 4, variant 8, 9, A or B.
  const std::regex canonical("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::unordered_set<Uuid> seen;
  for (int i = 0; i < 10000; ++i) {
    const Uuid id = Uuid::random();
    ASSERT_TRUE(seen.insert(id).second);
    if (i % 100 != 0) continue;
    ASSERT_TRUE(std::regex_match(id.uuidString(), canonical)) << id.uuidString();
    std::string lower = id.uuidString();
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(Uuid::fromString(id.uuidString()), id);
    EXPECT_EQ(Uuid::fromString(lower), id);
  }
  EXPECT_FALSE(Uuid::fromString("not-a-uuid"));
  EXPECT_FALSE(Uuid::fromString("6F1C2E1A_3B4D-4C5E-8F90-0A1B2C3D4E5F"));
  EXPECT_TRUE(Uuid().isNil());
}

}  // namespace
}  // namespace quorlin
