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

TEST_P(PanelArgumentTest, TakesExactlyTheCatalogSettingsAtTheirEdges) {
  const auto settings = panelSettings(GetParam());
  std::set<std::string_view> ownFields;
  for (const PanelSetting& setting : settings) {
    SCOPED_TRACE(setting.field);
    ownFields.insert(setting.field);
    std::string low, high, outside;
    switch (setting.kind) {
      case PanelSettingKind::wholeNumber:
      case PanelSettingKind::number:
        low = std::to_string(setting.range.lowerBound);
        high = std::to_string(setting.range.upperBound);
        EXPECT_FALSE(parsed(setting.field, std::to_string(setting.range.lowerBound - 1)));
        outside = std::to_string(setting.range.upperBound + 1);
        break;
      case PanelSettingKind::flag:
        low = "false";
        high = "true";
        outside = "maybe";
        break;
      case PanelSettingKind::choice:
        low = setting.choices.front();
        high = setting.choices.back();
        outside = "x";
        for (std::string_view choice : setting.choices) EXPECT_TRUE(parsed(setting.field, choice)) << choice;
        break;
    }
    auto atLow = parsed(setting.field, low);
    auto atHigh = parsed(setting.field, high);
    ASSERT_TRUE(atLow && atHigh);
    EXPECT_NE(*atLow, *atHigh) << "the value must reach the panel";
    EXPECT_FALSE(parsed(setting.field, outside));
  }
  for (CompressionCodec other : allCompressionCodecs()) {
    for (const PanelSetting& setting : panelSettings(other)) {
      if (!ownFields.contains(setting.field)) {
        EXPECT_FALSE(parsed(setting.field, "1")) << setting.field;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Catalog, PanelArgumentTest, catalogCodecs(), codecParameterName);

TEST(CliUsageTest, ListsEveryOptionAndEveryCodecWithItsFields) {
  const std::string usage = cli::compareUsage();
  for (const char* option : {"--panel PANEL]...", "--target SCORE]", "--serial]", "--tool-dir DIR]..."}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
  for (CompressionCodec codec : allCompressionCodecs()) {
    std::string line = "\n  " + std::string(codecInfo(codec).cliKey) + " ";
    std::size_t at = usage.find(line);
    ASSERT_NE(at, std::string::npos) << line;
    EXPECT_NE(usage.find(std::string(panelSettings(codec).front().field) + "=", at), std::string::npos);
  }
  for (std::size_t start = 0, end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1) {
    EXPECT_LE(end - start, 88u) << usage.substr(start, end - start);
  }
}

}  // namespace
}  // namespace quorlin::test
