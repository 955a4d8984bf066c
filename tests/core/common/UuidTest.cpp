#include "core/common/Uuid.h"

#include <gtest/gtest.h>

#include <regex>
#include <unordered_set>

namespace quorlin {
namespace {

TEST(UuidTest, CanonicalUpperCaseVersion4Text) {
  const std::regex canonical("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(std::regex_match(Uuid::random().uuidString(), canonical));
}

TEST(UuidTest, RandomIdentifiersDoNotRepeat) {
  std::unordered_set<Uuid> seen;
  for (int i = 0; i < 10000; ++i) EXPECT_TRUE(seen.insert(Uuid::random()).second);
}

TEST(UuidTest, ParsesItsOwnTextInEitherCase) {
  auto id = Uuid::random();
  EXPECT_EQ(Uuid::fromString(id.uuidString()), id);
  std::string lower = id.uuidString();
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(Uuid::fromString(lower), id);
  EXPECT_FALSE(Uuid::fromString("not-a-uuid"));
  EXPECT_FALSE(Uuid::fromString("6F1C2E1A_3B4D-4C5E-8F90-0A1B2C3D4E5F"));
  EXPECT_TRUE(Uuid().isNil());
}

}  // namespace
}  // namespace quorlin
