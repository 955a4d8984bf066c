// quorlin-cli info: the source description lines as text and JSON, and --prepare.
#include "CliHarness.h"

namespace quorlin::test {
namespace {

using InfoCommandTest = CliTest;

TEST_F(InfoCommandTest, TextAndJSONHoldEveryFieldAndPrepareWritesOnlySourcePNG) {
  makeTestPicture(3, 2).pngsave((scratch / "tiny.png").c_str());
  auto size = std::to_string(fs::file_size(scratch / "tiny.png"));
  // Text: the summary line, then the description lines (their texts are the engine's).
  const std::string summary = "3 x 2 px  |  8-bit  |  profile unknown  |  " + size + " bytes";
  const std::vector<std::string> lines = {"File Size: " + size + " bytes", "Dimensions: 3 x 2 px", "Format: PNG image",
                                          "Bit Depth: 8-bit", "Color Model: RGB", "Color Profile: --", "Alpha: no",
                                          "DPI: 25"};
  ProgramRun text = run({"info", (scratch / "tiny.png").string()});
  EXPECT_EQ(text.status, 0) << text.errors;
  EXPECT_EQ(text.errors, "");
  std::string expected = summary + "\n", quoted;  // quoted: the description lines as a JSON array
  for (const auto& line : lines) expected += line + "\n", quoted += (quoted.empty() ? "\n    \"" : ",\n    \"") + line + "\"";
  EXPECT_EQ(text.output, expected);
  // pngsave states 1 pixel per millimetre: 1000 px/m is 25.4 dpi exactly; absent fields are null.
  ProgramRun result = run({"info", "--json", (scratch / "tiny.png").string()});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(result.output, "{\n  \"pixelWidth\": 3,\n  \"pixelHeight\": 2,\n  \"formatDescription\": \"PNG image\",\n"
                           "  \"bitDepth\": 8,\n  \"colorModel\": \"RGB\",\n  \"colorProfileName\": null,\n"
                           "  \"contentHeadroom\": null,\n  \"hasAlpha\": false,\n  \"orientation\": null,\n"
                           "  \"dpiWidth\": 25.4,\n  \"dpiHeight\": 25.4,\n  \"isJPEG\": false,\n"
                           "  \"summaryLine\": \"" + summary + "\",\n  \"specLines\": [" + quoted + "\n  ]\n}\n");

  makeTestPicture(10, 5).jpegsave((scratch / "photo.jpg").c_str());
  fs::path out = scratch / "prepared here";
  ProgramRun prepared = run({"info", (scratch / "photo.jpg").string(), "--prepare", out.string()});
  EXPECT_EQ(prepared.status, 0) << prepared.errors;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"source.png"});
  // An 8-bit JPEG keeps its precision: 8-bit RGB (colour type 2).
  const auto header = readPNGHeader(out / "source.png");
  EXPECT_EQ(std::tuple(header.width, header.height, header.bitDepth, header.colorType), std::tuple(10, 5, 8, 2));
}

}  // namespace
}  // namespace quorlin::test
