#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "core/common/CompressionError.h"
#include "core/common/PlatformTexts.h"
#include "core/workspace/AppSettings.h"
#include "core/workspace/CodecPanelPresentation.h"
#include "core/workspace/ResultsTable.h"
#include "core/workspace/TabTitle.h"
#include "core/workspace/WorkspaceTexts.h"
#include "support/TestSupport.h"

// Results are built with designated initialisers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quorlin {
namespace {

TEST(PlatformTextsTest, UsersSeeTheLinuxTableWhichNamesNoMacOSPartsWhileTheMacOSTableKeepsThem) {
  const PlatformTexts& t = linuxTexts();
  for (std::string_view sentence : {t.chooseSupportedImage, t.installMissingTool, t.requiredToolsExplanation,
                                    t.acknowledgementsIntro, t.requiredToolsHelp, t.toolDirectoriesExplanation,
                                    t.systemHEIFQualityTooltip, t.systemJPEGQualityTooltip}) {
    for (std::string_view foreign : {"macOS", "Homebrew", "ImageIO", "brew"}) EXPECT_EQ(sentence.find(foreign), std::string_view::npos) << sentence;
  }
  EXPECT_FALSE(linuxTexts().creditsHomebrew);
  EXPECT_NE(macOSTexts().requiredToolsExplanation.find("macOS ImageIO"), std::string_view::npos);
  EXPECT_NE(macOSTexts().installMissingTool.find("Homebrew"), std::string_view::npos);
  // The texts users see come from this platform's table.
#ifndef __APPLE__
  ASSERT_EQ(&platformTexts(), &linuxTexts());
#endif
  EXPECT_EQ(CompressionError::missingTool("cjpegli").message(),
            "Missing command-line tool: cjpegli. " + std::string(platformTexts().installMissingTool));
  EXPECT_EQ(WorkspaceTexts::loadErrorAlert("a.bin"),
            "\u201C" "a.bin\u201D could not be read as an image. " + std::string(platformTexts().chooseSupportedImage));
}

TEST(ResultsTableTest, CSVHasOneRowPerPanelWithPlainNumbersQuotedTextsAndTheStateOfEachResult) {
  std::vector<CodecPanel> panels = makeDefaultPanels();
  const CompressionResult result{.codec = CompressionCodec::jpegXL, .encodedSize = 250'000, .ssimulacra2Score = 84.256,
                                 .encodeDuration = 1.5, .decodeDuration = 0.0421,
                                 .commandLine = "cjxl -d 1, \"fast\"", .settingsSignature = panels[0].settingsSignature()};
  panels[0].result = result;
  panels[1].errorMessage = "avifenc failed.";
  panels[2].result = result;   // made with another codec's settings: stale
  panels[2].result->settingsSignature = "old";

  const auto rows = resultsTableRows(panels, 1'000'000, 2'000'000);
  ASSERT_EQ(rows.size(), 4U);
  EXPECT_EQ(rows[2].cells[1].text, "JPEG XL");   // the codec the shown numbers are of
  EXPECT_EQ(resultsTableCSV(rows),
            "Panel,Codec,Settings,File Size (bytes),Bits Per Pixel,Savings (%),SSIMULACRA2,Encode Time (s),"
            "Decode Time (s),Status\r\n"
            "1,JPEG XL,\"cjxl -d 1, \"\"fast\"\"\",250000,1.000,75.00,84.26,1.500,0.042,\r\n"
            "2,AVIF,,,,,,,,Failed\r\n"
            "3,JPEG XL,\"cjxl -d 1, \"\"fast\"\"\",250000,1.000,75.00,84.26,1.500,0.042,Needs Regeneration\r\n"
            "4,JPEGli,,,,,,,,Not Generated\r\n");
  // Without a pixel count or a source size those figures stay empty, not zero.
  const auto cells = resultsTableRows(panels, 0, std::nullopt)[0].cells;
  EXPECT_FALSE(cells[4].number || cells[5].number);
}

// Builds a title of `count` user-perceived characters from one repeated piece.
std::string repeated(std::string_view piece, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += piece;
  return text;
}

TEST(TabTitleTest, UpTo28CharactersStayWholeAndLongerKeepTheFirst16AndTheLast9) {
  const std::string title28 = "abcdefghijklmnopqrstuvwxyz12";
  EXPECT_EQ(shortenedTabTitle("") + shortenedTabTitle(title28) + "|" + shortenedTabTitle(title28 + "3"), title28 + "|abcdefghijklmnop...uvwxyz123");
  // User-perceived characters count, not bytes.
  const std::string flag = "\U0001F1EB\U0001F1F7";                       // regional indicators F + R
  const std::string accented = "e\u0301";                                // e + combining acute accent
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // man ZWJ woman ZWJ girl
  const std::string hangul = "\u1100\u1161\u11A8";                       // conjoining jamo: one syllable
  for (const std::string& piece : {flag, accented, family, hangul, std::string("\u00E9"), std::string("\r\n")}) {
    EXPECT_EQ(userPerceivedCharacterCount(piece), 1u) << piece;
    EXPECT_EQ(shortenedTabTitle(repeated(piece, 28)), repeated(piece, 28));
    EXPECT_EQ(shortenedTabTitle(repeated(piece, 29)), repeated(piece, 16) + "..." + repeated(piece, 9));
  }
  // Never cut inside a cluster: a family emoji straddles the cut point.
  const std::string title = "abcdefghijklmno" + family + "pqrstuvwxyz12";
  ASSERT_EQ(userPerceivedCharacterCount(title), 29u);
  EXPECT_EQ(shortenedTabTitle(title), "abcdefghijklmno" + family + "...tuvwxyz12");
}

TEST(TabTitleTest, InvalidUTF8IsCountedWithoutFailing) {
  const std::string broken = std::string(30, 'a') + "\xFF\xFE";
  // A truncated three-byte character counts once.
  EXPECT_EQ(std::pair(userPerceivedCharacterCount(broken), userPerceivedCharacterCount("\xE2\x80")), std::pair(std::size_t{32}, std::size_t{1}));
  EXPECT_EQ(shortenedTabTitle(broken).substr(0, 19), std::string(16, 'a') + "...");
}

// What a codec panel shows for a panel value: rows per codec and mode, the
// distance slider's mapping and texts, and the result lines.
CodecPanel panelWith(CompressionCodec codec, RateControlMode mode = RateControlMode::manual) {
  CodecPanel panel;
  panel.codec = codec;
  panel.rateControlMode = mode;
  return panel;
}

TEST(CodecPanelRowsTest, EffortRowOnlyForTheThreeEffortCodecsAndRateRowDistanceOrQualityOrCaption) {
  EXPECT_EQ((std::vector{effortRange(CompressionCodec::jpegXL), effortRange(CompressionCodec::avif), effortRange(CompressionCodec::webP)}),
            (std::vector<std::optional<IntegerRange>>{IntegerRange{1, 10}, IntegerRange{0, 10}, IntegerRange{0, 6}}));
  for (CompressionCodec codec : allCompressionCodecs()) {
    const bool hasEffort =
        codec == CompressionCodec::jpegXL || codec == CompressionCodec::avif || codec == CompressionCodec::webP;
    EXPECT_EQ(std::pair(effortRange(codec).has_value(), !effortTooltip(codec).empty()), std::pair(hasEffort, hasEffort)) << rawValue(codec);
    const bool distance = codec == CompressionCodec::jpegXL || codec == CompressionCodec::jpegli;
    EXPECT_EQ(rateParameterRow(panelWith(codec)),
              distance ? RateParameterRow::distanceSlider : RateParameterRow::qualitySlider)
        << rawValue(codec);
    EXPECT_EQ(rateParameterRow(panelWith(codec, RateControlMode::targetScore)), RateParameterRow::searchCaption);
    EXPECT_EQ(searchCaption(codec), distance ? "Distance set by target score search"
                                             : "Quality set by target score search");
    EXPECT_FALSE(rateParameterTooltip(codec).empty()) << rawValue(codec);
  }
  EXPECT_NE(rateParameterTooltip(CompressionCodec::jpegli).find("cjpegli --distance"), std::string_view::npos);
}

TEST(CodecPanelRowsTest, LosslessTogglesShowOnlyInSetQualityModeAndTranscodeDimsOnlyJPEGXLControls) {
  std::string withToggle, withTranscode;
  for (CompressionCodec codec : allCompressionCodecs()) {
    if (showsLosslessToggle(panelWith(codec))) withToggle += std::string(rawValue(codec)) + ";";
    if (showsLosslessJPEGTranscodeToggle(panelWith(codec))) withTranscode += std::string(rawValue(codec)) + ";";
    EXPECT_FALSE(showsLosslessToggle(panelWith(codec, RateControlMode::targetScore))) << rawValue(codec);
  }
  EXPECT_EQ(withToggle + " " + withTranscode, "AVIF;WebP;HEIF (libheif);AVIF (libheif);JPEG 2000 (libheif); JPEG XL;");
  EXPECT_FALSE(showsLosslessJPEGTranscodeToggle(panelWith(CompressionCodec::jpegXL, RateControlMode::targetScore)));
  CodecPanel panel = panelWith(CompressionCodec::jpegXL);
  EXPECT_EQ(distanceSliderOpacity(panel), 1.0);
  panel.isJPEGLosslessTranscode = true;
  EXPECT_EQ(std::pair(distanceSliderOpacity(panel), jpegXLProgressiveOpacity(panel)), std::pair(0.45, 0.45));
  panel.codec = CompressionCodec::jpegli;   // the switch can linger in the stored settings
  EXPECT_EQ(distanceSliderOpacity(panel), 1.0);
}

TEST(DistanceSliderMappingTest, PositionIsTheRootOfTheDistanceShareAndMovingSetsTheSquareRoundedToTwentieths) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::pair<double, double> positions[] = {{1.0, 0.2},     {6.25, 0.5}, {25.0, 1.0}, {25.01, 1.0},
                                                 {1000.0, 1.0}, {0.0, 0.0},  {-3.0, 0.0}, {nan, 0.0}};
  for (const auto& [distance, position] : positions) EXPECT_DOUBLE_EQ(distanceSliderPosition(distance), position);
  // Clamped at both ends (not squared to a positive distance); 0.3^2 x 25 = 2.25 lies on a twentieth,
  // 0.31^2 x 25 = 2.4025 rounds to 2.4, and a position just right of 0 still rounds to 0.
  const std::pair<double, double> distances[] = {{1.0, 25.0}, {0.0, 0.0},  {0.5, 6.25}, {0.2, 1.0}, {1.7, 25.0},
                                                 {-0.4, 0.0}, {0.3, 2.25}, {0.31, 2.4}, {0.01, 0.0}};
  for (const auto& [position, distance] : distances) EXPECT_DOUBLE_EQ(distanceForSliderPosition(position), distance);
  // Every slider stop maps back onto itself once rounded.
  for (int step = 0; step <= 100; ++step) {
    double d = distanceForSliderPosition(step / 100.0);
    EXPECT_DOUBLE_EQ(distanceForSliderPosition(distanceSliderPosition(d)), d) << step;
  }
}

TEST(DistanceSliderMappingTest, ValueTexts) {
  using C = CompressionCodec;
  const std::tuple<double, C, const char*> texts[] = {
      {1.0, C::jpegXL, "1.00 visually lossless"},  {1.0, C::jpegli, "1.00 visually lossless"},
      {0.55, C::jpegli, "0.55 visually lossless"}, {1.05, C::jpegXL, "1.1"},
      {3.0, C::jpegXL, "3.0"},                      {25.0, C::jpegli, "25.0"},
      {0.0, C::jpegXL, "0.0 mathematically lossless"}, {0.0, C::jpegli, "0.00 visually lossless"},
      {0.05, C::jpegXL, "0.05 visually lossless"}};
  for (const auto& [distance, codec, text] : texts) EXPECT_EQ(distanceValueText(distance, codec), text) << distance;
}

class ResultMetricRowsTest : public ::testing::Test {
 protected:
  ResultMetricRowsTest() {
    panel.codec = CompressionCodec::webP;
    panel.result = CompressionResult{.codec = CompressionCodec::webP, .encodedSize = 250'000, .ssimulacra2Score = 84.26,
                                     .encodeDuration = 0.1234, .decodeDuration = 0.05};
  }
  std::string valueOf(const std::vector<ResultMetricRow>& rows, std::string_view label) {
    auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.label == label; });
    return row == rows.end() ? "<absent>" : row->value;
  }
  CodecPanel panel;
};

TEST_F(ResultMetricRowsTest, EveryLineInOrderSecondsFromOneSecondAndDashesWithoutMetadata) {
  auto rows = resultMetricRows(panel, 1'000'000, 2'000'000);
  std::vector<ResultMetricRow> expected{
      {"File Size", "250.0 KB", ResultEmphasis::strong}, {"Savings", "75.0%"}, {"Encode Time", "123 ms"},
      {"Decode Speed", "40.0 MP/s"}, {"Bits Per Pixel", "1.00 bpp"}, {"SSIMULACRA2", "84.3", ResultEmphasis::strong},
      {"Compression", "lossy"}};
  EXPECT_EQ(rows, expected);
  panel.result->encodeDuration = 1.0;
  rows = resultMetricRows(panel, 0, std::nullopt);
  EXPECT_EQ(valueOf(rows, "Encode Time") + valueOf(rows, "Savings") + valueOf(rows, "Decode Speed") + valueOf(rows, "Bits Per Pixel"),
            "1.00 s------");
  panel.result->encodeDuration = 0.9994;
  EXPECT_EQ(valueOf(resultMetricRows(panel, 0, std::nullopt), "Encode Time"), "999 ms");
}

TEST_F(ResultMetricRowsTest, SavingsMayBeNegativeCompressionFollowsThePanelAndSearchResultsSayWhenOutOfReach) {
  panel.isWebPLossless = true;
  auto rows = resultMetricRows(panel, 200'000, 1);
  EXPECT_EQ(valueOf(rows, "Savings") + valueOf(rows, "Compression") + valueOf(rows, "Search Result"), "-25.0%lossless<absent>");
  panel.rateControlMode = RateControlMode::targetScore;
  panel.targetScore = 85.0;
  panel.result->foundQuality = 72;
  panel.result->ssimulacra2Score = 83.9;
  rows = resultMetricRows(panel, 1, 1);
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows.back(), (ResultMetricRow{"Search Result", "Quality 72 \u2014 target 85 not reachable", ResultEmphasis::warning}));
  panel.result->ssimulacra2Score = 84.5;   // within half a point: reached
  EXPECT_EQ(resultMetricRows(panel, 1, 1).back(),
            (ResultMetricRow{"Search Result", "Quality 72", ResultEmphasis::strong}));
  panel.codec = CompressionCodec::jpegXL;
  panel.result->foundQuality.reset();
  panel.result->foundDistance = 1.35;
  EXPECT_EQ(valueOf(resultMetricRows(panel, 1, 1), "Search Result"), "Distance 1.35");
  panel.result.reset();
  EXPECT_TRUE(resultMetricRows(panel, 1000, 1000).empty());
}

// Every value a start reads, in table order, with the search path's directories last.
std::string readBack(const AppSettings& settings, const ToolSearchPath& searchPath) {
  std::string text = std::string(rawValue(settings.appearance())) + " " + std::to_string(settings.autoRegenerate()) +
                     " " + std::to_string(settings.autoRegenerateDelay()) + " " +
                     std::to_string(settings.encodeInParallel()) + " " +
                     std::to_string(settings.hasSeenToolRequirements()) + " [";
  for (const auto& directory : settings.customToolDirectories()) text += directory + ";";
  text += "] " + (settings.threadsPerPass() ? std::to_string(*settings.threadsPerPass()) : "auto") + " " +
          std::to_string(settings.toolTimeLimit()) + " " + std::to_string(settings.maximumPixelCount()) + " [";
  for (const auto& directory : searchPath.customToolDirectories()) text += directory + ";";
  return text + "]";
}

const char* const defaults = "auto 0 1.000000 1 0 [] auto 1800.000000 268435456 []";

class AppSettingsTest : public ::testing::Test {
 protected:
  std::unique_ptr<AppSettings> start() { return std::make_unique<AppSettings>(store, searchPath); }
  std::string startAndReadBack() { return readBack(*start(), searchPath); }
  // Stores the values in the order of the settings table.
  void storeAll(const std::vector<SettingsValue>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) store->setValue(appSettingsTable()[i].key, values[i]);
  }

  std::shared_ptr<InMemorySettingsStore> store = std::make_shared<InMemorySettingsStore>();
  ExecutableURLCache cache;
  ToolSearchPath searchPath{cache, {}};
};

TEST_F(AppSettingsTest, TheTableListsEveryKeyInOrderAndStoredValuesOfTheRightTypeAreReadBackAndOthersAsDefaults) {
  const char* keys[] = {"appAppearance",    "autoRegenerate", "autoRegenerateDelay", "encodeInParallel",
                        "hasSeenToolRequirements", "customToolDirectories", "threadsPerPass", "toolTimeLimit",
                        "maximumPixelCount"};
  auto table = appSettingsTable();
  ASSERT_EQ(table.size(), std::size(keys));
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(table[i].key, keys[i]);
    EXPECT_EQ(static_cast<std::size_t>(table[i].setting), i);
  }
  // An empty store gives the defaults without writing.
  EXPECT_EQ(startAndReadBack(), defaults);
  for (const auto& row : appSettingsTable()) EXPECT_FALSE(store->value(row.key).has_value()) << row.key;
  using L = std::vector<std::string>;
  storeAll({std::string("dark"), true, 2.6, false, true, L{"/opt/a", "/opt/b"}, 6.0, 600.0, 1e6});
  EXPECT_EQ(startAndReadBack(), "dark 1 2.600000 0 1 [/opt/a;/opt/b;] 6 600.000000 1000000 [/opt/a;/opt/b;]");
  storeAll({std::string("sepia"), std::string("true"), std::string("2.5"), 0.0, L{"yes"}, std::string("/opt/a"),
            std::string("4"), -5.0, std::string("many")});
  EXPECT_EQ(startAndReadBack(), defaults);
  // Raw values are matched exactly; counts that are not whole, or outside 1...1024, are Auto too.
  for (const SettingsValue& appearance : {SettingsValue(true), SettingsValue(std::string("Light"))}) {
    store->setValue("appAppearance", appearance);
    EXPECT_EQ(start()->appearance(), AppAppearance::automatic);
  }
  for (double count : {2.5, 0.0, -3.0, 1025.0}) {
    store->setValue("threadsPerPass", count);
    EXPECT_EQ(start()->threadsPerPass(), std::nullopt) << count;
  }
  // The store's typed readers give nothing for another type.
  store->setValue("k", 1.5);
  EXPECT_EQ(std::tuple(store->doubleValue("k"), store->boolValue("k"), store->stringValue("k"), store->stringListValue("k")),
            std::tuple(std::optional(1.5), std::optional<bool>(), std::optional<std::string>(), std::optional<L>()));
  store->removeValue("k");
  EXPECT_FALSE(store->value("k").has_value());
}

TEST_F(AppSettingsTest, AssignmentsWriteThroughAtOnceAndTellTheObserversAndTheToolsWindowOpensByItselfOnce) {
  auto settings = start();
  std::vector<AppSetting> heard;
  auto subscription = settings->observe([&](AppSetting setting) { heard.push_back(setting); });
  settings->setAppearance(AppAppearance::light);
  settings->setAutoRegenerate(true);
  settings->setAutoRegenerateDelay(4.5);
  settings->setEncodeInParallel(false);
  settings->setHasSeenToolRequirements(true);
  settings->setCustomToolDirectories({"/x"});
  settings->setThreadsPerPass(3);
  EXPECT_EQ(store->doubleValue("threadsPerPass"), 3.0);
  settings->setThreadsPerPass(std::nullopt);
  EXPECT_TRUE(store->doubleValue("threadsPerPass") == 0.0 && store->boolValue("autoRegenerate") == true) << "Auto is stored as 0";
  EXPECT_EQ(heard, (std::vector<AppSetting>{AppSetting::appearance, AppSetting::autoRegenerate,
                                            AppSetting::autoRegenerateDelay, AppSetting::encodeInParallel,
                                            AppSetting::hasSeenToolRequirements, AppSetting::customToolDirectories,
                                            AppSetting::threadsPerPass, AppSetting::threadsPerPass}));
  // A later start sees the same values; the delay stays stored while auto-regeneration is off.
  settings->setAutoRegenerate(false);
  EXPECT_EQ(startAndReadBack(), "light 0 4.500000 0 1 [/x;] auto 1800.000000 268435456 [/x;]");
  store->setValue("hasSeenToolRequirements", false);
  auto fresh = start();
  EXPECT_TRUE(fresh->takeFirstToolRequirementsShowing() && fresh->hasSeenToolRequirements());
  EXPECT_FALSE(fresh->takeFirstToolRequirementsShowing() || start()->takeFirstToolRequirementsShowing());
}

TEST_F(AppSettingsTest, CustomDirectoriesAreKeptOnceAndReachToolLookupAtOnce) {
  auto settings = start();
  EXPECT_TRUE(settings->addCustomToolDirectory("/opt/tools") && settings->addCustomToolDirectory("/opt/tools/"));
  EXPECT_FALSE(settings->addCustomToolDirectory("/opt/tools"));
  EXPECT_EQ(settings->customToolDirectories(), (std::vector<std::string>{"/opt/tools", "/opt/tools/"}));
  settings->removeCustomToolDirectory(7);
  EXPECT_EQ(settings->customToolDirectories().size(), 2u);
  settings->removeCustomToolDirectory(0);
  settings->removeCustomToolDirectory(0);
  test::ScratchDirectory scratch;
  test::writeFakeTool(scratch.path(), "cjxl", "exit 0");
  EXPECT_FALSE(cache.locate("cjxl", searchPath.toolSearchDirectories()).has_value());
  settings->addCustomToolDirectory(scratch.path().string());
  EXPECT_EQ(cache.locate("cjxl", searchPath.toolSearchDirectories()), scratch / "cjxl");
  settings->removeCustomToolDirectory(0);
  EXPECT_TRUE(searchPath.customToolDirectories().empty());
  EXPECT_FALSE(cache.locate("cjxl", searchPath.toolSearchDirectories()).has_value())
      << "a tool found only there is missing at the next lookup";
}

}  // namespace
}  // namespace quorlin
