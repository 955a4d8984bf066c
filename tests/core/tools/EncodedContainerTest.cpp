#include "core/tools/EncodedContainer.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/common/CompressionError.h"
#include "core/tools/ToolVersionCache.h"
#include "core/tools/ToolVersionRules.h"
#include "ToolTestSupport.h"

namespace quorlin {
namespace {

std::string bigEndian32(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

std::string box(std::string_view type, std::string_view payload) {
  return bigEndian32(static_cast<std::uint32_t>(8 + payload.size())) + std::string(type) + std::string(payload);
}

std::string ftyp(std::string_view major, std::initializer_list<std::string_view> compatible) {
  std::string payload = std::string(major) + bigEndian32(0);
  for (auto brand : compatible) payload += brand;
  return box("ftyp", payload);
}

// meta (full box) / iprp / ipco holding one property box of `propertyType`.
std::string metaWithProperty(std::string_view propertyType) {
  std::string property = box(propertyType, std::string(12, '\x01'));
  std::string ipco = box("ipco", box("ispe", std::string(12, '\0')) + property);
  return box("meta", std::string(4, '\0') + box("hdlr", std::string(24, '\0')) + box("iprp", ipco));
}

TEST(EncodedContainerTest, JPEGXLCodestreamOrContainer) {
  EXPECT_TRUE(hasContainerSignature("\xFF\x0A\xFA\x12", EncodedContainer::jpegXL));
  EXPECT_TRUE(hasContainerSignature(std::string("\0\0\0\x0CJXL \x0D\x0A\x87\x0A", 12) + ftyp("jxl ", {"jxl "}),
                                    EncodedContainer::jpegXL));
  EXPECT_FALSE(hasContainerSignature(std::string("\0\0\0\x0CJXL \x0D\x0A\x87\x0B", 12), EncodedContainer::jpegXL));
  EXPECT_FALSE(hasContainerSignature("\x89PNG\r\n\x1a\n", EncodedContainer::jpegXL));
  EXPECT_FALSE(hasContainerSignature("\xFF", EncodedContainer::jpegXL));
}

TEST(EncodedContainerTest, WebPIsRiffWithTheWebPFormAndJPEGStartsWithAMarker) {
  EXPECT_TRUE(hasContainerSignature(std::string("RIFF\x24\0\0\0WEBPVP8 ", 16), EncodedContainer::webP));
  EXPECT_FALSE(hasContainerSignature(std::string("RIFF\x24\0\0\0WAVEfmt ", 16), EncodedContainer::webP));
  EXPECT_FALSE(hasContainerSignature("RIFF", EncodedContainer::webP));
  // A JPEG starts with the start of image and a marker.
  EXPECT_TRUE(hasContainerSignature("\xFF\xD8\xFF\xE0", EncodedContainer::jpeg));
  EXPECT_TRUE(hasContainerSignature("\xFF\xD8\xFF", EncodedContainer::jpeg));
  EXPECT_FALSE(hasContainerSignature(std::string("\xFF\xD8\x00", 3), EncodedContainer::jpeg));
  EXPECT_FALSE(hasContainerSignature("", EncodedContainer::jpeg));  // cjpeg 2.1.5 leaves an empty file
}

TEST(EncodedContainerTest, AVIFNeedsTheAvifOrAvisBrand) {
  EXPECT_TRUE(hasContainerSignature(ftyp("avif", {"avif", "mif1", "miaf"}), EncodedContainer::avif));
  EXPECT_TRUE(hasContainerSignature(ftyp("mif1", {"miaf", "avis"}), EncodedContainer::avif));
  EXPECT_FALSE(hasContainerSignature(ftyp("heic", {"mif1", "heic"}), EncodedContainer::avif));
  EXPECT_FALSE(hasContainerSignature(box("free", "avif"), EncodedContainer::avif));  // brand outside ftyp
}

TEST(EncodedContainerTest, HEIFNeedsAHeifBrandAndHEVCAndJPEG2000TheJ2kiBrand) {
  EXPECT_TRUE(hasContainerSignature(ftyp("heic", {"mif1", "heic"}) + metaWithProperty("hvcC"), EncodedContainer::heif));
  EXPECT_TRUE(hasContainerSignature(ftyp("mif1", {"heix"}) + metaWithProperty("hvcC"), EncodedContainer::heif));
  EXPECT_TRUE(hasContainerSignature(ftyp("mif1", {"miaf"}) + metaWithProperty("hvcC"), EncodedContainer::heif));
  // An AV1 file with the generic brand is not HEIF/HEVC, nor is a heic brand without HEVC.
  EXPECT_FALSE(hasContainerSignature(ftyp("avif", {"mif1", "avif"}) + metaWithProperty("av1C"), EncodedContainer::heif));
  EXPECT_FALSE(hasContainerSignature(ftyp("heic", {"mif1"}) + metaWithProperty("av1C"), EncodedContainer::heif));
  EXPECT_FALSE(hasContainerSignature(ftyp("heic", {"mif1"}), EncodedContainer::heif));
  // Metadata after a large media box is still found in a file.
  test::ScratchDirectory scratch;
  auto file = scratch / "late-meta.heic";
  test::writeTextFile(file, ftyp("heic", {"mif1"}) + box("mdat", std::string(300000, '\x55')) + metaWithProperty("hvcC"));
  EXPECT_TRUE(fileHasContainerSignature(file, EncodedContainer::heif));
  // JPEG 2000 needs the j2ki brand.
  EXPECT_TRUE(hasContainerSignature(ftyp("j2ki", {"mif1", "j2ki"}), EncodedContainer::jpeg2000));
  // What heif-enc 1.15 writes for --jpeg2000: HEVC under a heic brand.
  EXPECT_FALSE(hasContainerSignature(ftyp("heic", {"mif1", "heic"}) + metaWithProperty("hvcC"),
                                     EncodedContainer::jpeg2000));
}

TEST(EncodedContainerTest, MalformedBoxesNeverMatchOrHang) {
  std::string zeroSized = bigEndian32(0) + "ftypheic" + bigEndian32(0);  // size 0 = to the end of the data
  EXPECT_FALSE(hasContainerSignature(zeroSized, EncodedContainer::avif));
  EXPECT_FALSE(hasContainerSignature(bigEndian32(4) + "ftypavif", EncodedContainer::avif));  // smaller than its header
  EXPECT_FALSE(hasContainerSignature(bigEndian32(4000) + "ftypavif", EncodedContainer::avif));  // beyond the end
  std::string looping = ftyp("heic", {"mif1"}) + box("meta", std::string(4, '\0') + bigEndian32(8) + "iprp");
  EXPECT_FALSE(hasContainerSignature(looping, EncodedContainer::heif));
  EXPECT_FALSE(fileHasContainerSignature("/nonexistent/file.avif", EncodedContainer::avif));
}

// The installed heif-enc, on a tiny synthetic 4:4:4 Y4M image.
class RealEncoderContainerTest : public test::ToolRunnerFixture {
 protected:
  RealEncoderContainerTest() {
    std::string y4m = "YUV4MPEG2 W16 H16 F25:1 Ip A1:1 C444\nFRAME\n";
    for (int plane = 0; plane < 3; ++plane)
      for (int i = 0; i < 256; ++i) y4m += static_cast<char>(plane == 0 ? i : 128);
    test::writeTextFile(y4mFile, y4m);
  }

  bool has(std::string_view tool) {
    return locateTool(cache, tool, realDirectories.toolSearchDirectories()).has_value();
  }

  std::string run(std::string_view tool, const std::vector<std::string>& arguments) {
    return realRunner.runTool(tool, arguments);
  }

  std::filesystem::path y4mFile = scratch / "in.y4m";
  ToolSearchPath realDirectories{cache};
  ToolRunner realRunner{cache, realDirectories, dispatcher, console, ChildStandardInput::nullDevice};
};

TEST_F(RealEncoderContainerTest, OldHeifEncJPEG2000FalseSuccessIsCaught) {
  if (!has("heif-enc")) GTEST_SKIP() << "heif-enc is not installed";
  ToolVersionCache versions;
  auto version = versions.versionOf("heif-enc", cache, realDirectories);
  if (heifEncSupportsJPEG2000(version)) GTEST_SKIP() << "this heif-enc knows --jpeg2000";
  // Exactly what the rule forbids: the tool exits 0 and writes HEVC.
  run("heif-enc", {"--jpeg2000", "-q", "50", y4mFile.string(), "-o", (scratch / "o.hej2").string()});
  EXPECT_FALSE(fileHasContainerSignature(scratch / "o.hej2", EncodedContainer::jpeg2000));
  EXPECT_TRUE(fileHasContainerSignature(scratch / "o.hej2", EncodedContainer::heif));
}

}  // namespace
}  // namespace quorlin
