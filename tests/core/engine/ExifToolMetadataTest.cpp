#include "core/engine/ExifToolMetadata.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "EngineHarness.h"
#include "core/common/CompressionError.h"

namespace quorlin {
namespace {

TEST(ExifToolFilterTest, DropsTheSevenFileKeysFromARealListing) {
  std::string listing = test::readTextFile(std::filesystem::path(QUORLIN_SOURCE_DIR) / "tests" / "core" / "engine" /
                                           "fixtures" / "exiftool-12.57-avif.txt");
  std::string filtered = filterExifToolOutput(listing);
  EXPECT_TRUE(filtered.starts_with("ExifTool Version Number         : 12.57\n"
                                   "File Type                       : AVIF\n"
                                   "File Type Extension             : avif\n"
                                   "MIME Type                       : image/avif\n"))
      << filtered;
  for (const char* key : {"File Name", "Directory", "File Size", "File Modification", "File Access",
                          "File Inode Change", "File Permissions"}) {
    EXPECT_EQ(filtered.find(std::string("\n") + key), std::string::npos) << key;
  }
  EXPECT_NE(filtered.find("\nImage Size                      : 64x48"), std::string::npos);
  EXPECT_FALSE(filtered.ends_with('\n'));
}

TEST(ExifToolFilterTest, KeysAreTrimmedAndMatchedExactly) {
  EXPECT_EQ(filterExifToolOutput("   File Name   : a.jxl\nImage Size  : 1x1"), "Image Size  : 1x1");
  // A value full of colons does not move the key's end.
  EXPECT_EQ(filterExifToolOutput("File Modification Date/Time : 2026:12:05 17:13:40+00:00\nCreate Date : 2026:12:05"),
            "Create Date : 2026:12:05");
  // Only the exact keys: case and longer keys stay.
  EXPECT_EQ(filterExifToolOutput("file name : x\nFile Names : y\nFile Type Extension : jxl"),
            "file name : x\nFile Names : y\nFile Type Extension : jxl");
  // Empty lines and lines without a colon stay; the whole text is trimmed.
  EXPECT_EQ(filterExifToolOutput("\n  Header\n\nDirectory : /tmp\nKey : v\n\n"), "Header\n\nKey : v");
  EXPECT_EQ(filterExifToolOutput("File Name : a\nDirectory : b\nFile Size : 3 kB\n"), "");
}

TEST(ExifToolReadTest, RunsExiftoolWithThePathAlone) {
  test::EngineHarness harness;
  harness.recordingToolPrinting("exiftool", "ExifTool Version Number : 12.57\nFile Name : my photo.jxl\n"
                                            "File Type : JXL");
  std::filesystem::path file = harness.scratch / "my photo.jxl";
  EXPECT_EQ(readExifToolMetadata(harness.runner, file), "ExifTool Version Number : 12.57\nFile Type : JXL");
  EXPECT_EQ(harness.recordedArguments("exiftool"), std::vector<std::string>{file.string()});
}

TEST(ExifToolReadTest, FailuresPassUpUnchanged) {
  test::EngineHarness harness;
  harness.tool("exiftool", "echo 'Error: File not found - /nowhere/x.jxl'\nexit 1");
  try {
    readExifToolMetadata(harness.runner, "/nowhere/x.jxl");
    ADD_FAILURE() << "no error";
  } catch (const CompressionError& error) {
    EXPECT_EQ(error.message(), "exiftool failed. Error: File not found - /nowhere/x.jxl");
  }
}

}  // namespace
}  // namespace quorlin
