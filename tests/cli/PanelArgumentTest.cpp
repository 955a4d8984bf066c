// The command line's panel fields, walked over the codec catalog: each codec
// takes exactly its catalog settings, at exactly their ranges (the panel view
// is checked against the same settings in the GUI suite). Also the argument
// habits every subcommand shares.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <variant>

#include "cli/CliArguments.h"
#include "cli/CompareOptions.h"
#include "support/CodecParameters.h"

namespace quorlin::test {
namespace {

class PanelArgumentTest : public ::testing::TestWithParam<CompressionCodec> {
 protected:
  // The panel's settings signature, or nothing when the argument is refused.
  static std::optional<std::string> parsed(std::string_view field, std::string_view value) {
    const std::string text = std::string(codecInfo(GetParam()).cliKey) + ":" + std::string(field) + "=" +
                             std::string(value);
    auto panel = cli::parsePanelArgument(text);
    if (!std::holds_alternative<CodecPanel>(panel)) return std::nullopt;
    return std::get<CodecPanel>(panel).settingsSignature();
  }
};

// Also: the usage lists the codec with its first field, on lines of at most 88 columns.
TEST_P(PanelArgumentTest, TakesExactlyTheCatalogSettingsAtTheirEdges) {
  const auto settings = panelSettings(GetParam());
  std::set<std::string_view> ownFields;
  for (const PanelSetting& setting : settings) {
    SCOPED_TRACE(setting.field);
    ownFields.insert(setting.field);
    const bool numeric = setting.kind == PanelSettingKind::wholeNumber || setting.kind == PanelSettingKind::number;
    const bool flag = setting.kind == PanelSettingKind::flag;
    EXPECT_FALSE(numeric && parsed(setting.field, std::to_string(setting.range.lowerBound - 1)));
    for (std::string_view choice : setting.choices) EXPECT_TRUE(parsed(setting.field, choice)) << choice;
    const std::string low = numeric ? std::to_string(setting.range.lowerBound) : flag ? "false" : std::string(setting.choices.front());
    const std::string high = numeric ? std::to_string(setting.range.upperBound) : flag ? "true" : std::string(setting.choices.back());
    auto atLow = parsed(setting.field, low), atHigh = parsed(setting.field, high);
    ASSERT_TRUE(atLow && atHigh);
    EXPECT_NE(*atLow, *atHigh) << "the value must reach the panel";
    EXPECT_FALSE(parsed(setting.field, numeric ? std::to_string(setting.range.upperBound + 1) : flag ? "maybe" : "x"));
  }
  for (CompressionCodec other : allCompressionCodecs()) {
    for (const PanelSetting& setting : panelSettings(other)) {
      EXPECT_FALSE(!ownFields.contains(setting.field) && parsed(setting.field, "1")) << setting.field;
    }
  }
  const std::string usage = cli::compareUsage();
  const std::size_t at = usage.find("\n  " + std::string(codecInfo(GetParam()).cliKey) + " ");
  ASSERT_NE(at, std::string::npos) << usage;
  EXPECT_NE(usage.find(std::string(settings.front().field) + "=", at), std::string::npos);
  for (std::size_t start = 0, end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1) {
    EXPECT_LE(end - start, 88u) << usage.substr(start, end - start);
  }
}

INSTANTIATE_TEST_SUITE_P(Catalog, PanelArgumentTest, catalogCodecs(), codecParameterName);

}  // namespace
}  // namespace quorlin::test
