#include "core/workspace/ResultsTable.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

TEST(ResultsTableTest, CSVHasOneRowPerPanelWithPlainNumbersQuotedTextsAndTheStateOfEachResult) {
  std::vector<CodecPanel> panels = makeDefaultPanels();
  CompressionResult result;
  result.codec = CompressionCodec::jpegXL;
  result.encodedSize = 250'000;
  result.ssimulacra2Score = 84.256;
  result.encodeDuration = 1.5;
  result.decodeDuration = 0.0421;
  result.commandLine = "cjxl -d 1, \"fast\"";
  result.settingsSignature = panels[0].settingsSignature();
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
  EXPECT_FALSE(resultsTableRows(panels, 0, std::nullopt)[0].cells[4].number.has_value());
  EXPECT_FALSE(resultsTableRows(panels, 0, std::nullopt)[0].cells[5].number.has_value());
}

}  // namespace
}  // namespace quorlin
