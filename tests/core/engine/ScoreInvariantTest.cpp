// The scoring invariant with the real codec tools of this system: whatever the
// kind of source, a truly lossless encode scores 100 (at least 99.99 when the
// decoded pixels are not bit-identical to "source.png") and a default lossy
// encode scores between 30 and 100. Each source kind is made here with libvips.
#include <gtest/gtest.h>
#include <vips/vips8>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EngineHarness.h"
#include "core/common/CompressionError.h"
#include "core/engine/PNGColour.h"
#include "core/engine/PanelRunner.h"
#include "core/engine/VipsRuntime.h"
#include "core/tools/ToolVersionRules.h"
#include "support/TestImages.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using vips::VImage;
using C = CompressionCodec;

VImage withoutProfile(VImage image) {
  image = image.copy();
  vips_image_remove(image.get_image(), VIPS_META_ICC_NAME);
  return image;
}

VImage withProfile(VImage image, const std::vector<std::uint8_t>& profile) {
  image = image.copy();
  vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, profile.data(), profile.size());
  return image;
}

// The sample photograph at 128 x 80, carrying its own (lcms-made sRGB) profile.
VImage photo() {
  fs::path sample = fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg";
  return VImage::thumbnail(sample.c_str(), 128).copy_memory();
}

// A ramp from transparent to opaque across the picture.
VImage alphaRamp(const VImage& like) {
  return (VImage::xyz(like.width(), like.height()).extract_band(0) * (255.0 / (like.width() - 1)))
      .cast(VIPS_FORMAT_UCHAR);
}

std::vector<std::uint8_t> bigEndian(std::initializer_list<std::uint32_t> values) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t value : values) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  return bytes;
}

struct SourceKind {
  std::string name;
  std::function<void(const fs::path& directory, fs::path& file)> make;
};

fs::path savePNG(const VImage& image, const fs::path& file, int bitDepth = 8) {
  image.pngsave(file.c_str(), VImage::option()->set("bitdepth", bitDepth));
  return file;
}

fs::path jpegWithOrientation(const fs::path& directory, int orientation) {
  VImage image = withoutProfile(photo());
  image.set(VIPS_META_ORIENTATION, orientation);
  fs::path file = directory / ("turned" + std::to_string(orientation) + ".jpg");
  image.jpegsave(file.c_str(), VImage::option()->set("Q", 92));
  return file;
}

std::vector<SourceKind> sourceKinds() {
  std::vector<SourceKind> kinds = {
      {"PNG8Untagged", [](const fs::path& d, fs::path& f) { f = savePNG(withoutProfile(photo()), d / "plain.png"); }},
      {"PNG8GammaChromaticities",
       [](const fs::path& d, fs::path& f) {
         // What ImageMagick writes by default: gamma 1/2.2 and the sRGB primaries.
         f = savePNG(withoutProfile(photo()), d / "gamma.png");
         insertPNGChunk(f, "cHRM", bigEndian({31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000}));
         insertPNGChunk(f, "gAMA", bigEndian({45455}));
       }},
      {"PNG8SRGBLikeICC", [](const fs::path& d, fs::path& f) { f = savePNG(photo(), d / "tagged.png"); }},
      {"PNG8DisplayP3ICC",
       [](const fs::path& d, fs::path& f) {
         f = savePNG(withProfile(withoutProfile(photo()),
                                 ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3)->iccProfile()),
                     d / "wide.png");
       }},
      {"PNG16",
       [](const fs::path& d, fs::path& f) {
         // Real 16-bit content: the low byte varies too.
         VImage wide = withoutProfile(photo()).cast(VIPS_FORMAT_USHORT) * 256 +
                       (VImage::xyz(128, 80).extract_band(0) * 37 + VImage::xyz(128, 80).extract_band(1) * 11) % 256;
         f = savePNG(wide.cast(VIPS_FORMAT_USHORT).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16)),
                     d / "deep.png", 16);
       }},
      {"Grey", [](const fs::path& d, fs::path& f) {
         f = savePNG(withoutProfile(photo()).colourspace(VIPS_INTERPRETATION_B_W), d / "grey.png");
       }},
      {"GreyAlpha",
       [](const fs::path& d, fs::path& f) {
         VImage grey = withoutProfile(photo()).colourspace(VIPS_INTERPRETATION_B_W);
         f = savePNG(grey.bandjoin(alphaRamp(grey)), d / "grey-alpha.png");
       }},
      {"RGBA",
       [](const fs::path& d, fs::path& f) {
         VImage rgb = withoutProfile(photo());
         f = savePNG(rgb.bandjoin(alphaRamp(rgb)), d / "cutout.png");
       }},
      {"PaletteWithTransparency",
       [](const fs::path& d, fs::path& f) {
         VImage rgb = withoutProfile(photo());
         f = d / "palette.png";
         rgb.bandjoin(alphaRamp(rgb)).pngsave(f.c_str(), VImage::option()->set("palette", true));
       }},
      {"CMYKJPEG",
       [](const fs::path& d, fs::path& f) {
         f = d / "print.jpg";
         withoutProfile(photo()).icc_export(VImage::option()->set("output_profile", "cmyk"))
             .jpegsave(f.c_str(), VImage::option()->set("Q", 92));
       }},
      {"TIFF", [](const fs::path& d, fs::path& f) {
         f = d / "scan.tif";
         withoutProfile(photo()).tiffsave(f.c_str());
       }},
  };
  for (int orientation = 1; orientation <= 8; ++orientation) {
    kinds.push_back({"JPEGOrientation" + std::to_string(orientation),
                     [orientation](const fs::path& d, fs::path& f) { f = jpegWithOrientation(d, orientation); }});
  }
  return kinds;
}

struct Encode {
  std::string label;
  CodecPanel panel;
  std::vector<std::string_view> tools;
  bool isLossless = false;
  bool keepsAlpha = true;
};

std::vector<Encode> encodes() {
  auto panel = [](C codec, int quality, int effort) {
    CodecPanel p;
    p.codec = codec;
    p.quality = quality;
    p.effort = effort;
    return p;
  };
  CodecPanel jxlLossless = panel(C::jpegXL, 85, 7);
  jxlLossless.distance = 0;
  CodecPanel webPLossless = panel(C::webP, 85, 5);
  webPLossless.isWebPLossless = true;
  CodecPanel avifLossless = panel(C::avif, 79, 6);
  avifLossless.isAVIFLossless = true;
  return {
      {"JXL d0", jxlLossless, {"cjxl", "djxl"}, true},
      {"WebP lossless", webPLossless, {"cwebp", "dwebp"}, true},
      {"AVIF lossless", avifLossless, {"avifenc", "avifdec"}, true},
      {"JXL", panel(C::jpegXL, 85, 7), {"cjxl", "djxl"}},
      {"AVIF", panel(C::avif, 79, 6), {"avifenc", "avifdec"}},
      {"WebP", panel(C::webP, 85, 5), {"cwebp", "dwebp"}},
      {"HEIF libheif", panel(C::heifLibheif, 85, 5), {"heif-enc", "heif-dec"}},
      {"AVIF libheif", panel(C::avifLibheif, 85, 5), {"heif-enc", "heif-dec"}},
      {"libjpeg-turbo", panel(C::jpegTurbo, 85, 5), {"cjpeg"}, false, false},
      {"HEIF system", panel(C::heif, 85, 5), {}},
      {"JPEG system", panel(C::jpeg, 85, 5), {}, false, false},
  };
}

// The samples of a PNG as 16-bit RGBA (grey repeated, opaque alpha added).
VImage asRGBA16(const fs::path& file) {
  VImage image = VImage::new_from_file(file.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
  if (image.format() == VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_USHORT) * 257;
  if (image.bands() <= 2) {
    VImage grey = image.extract_band(0);
    VImage rgb = VImage::bandjoin({grey, grey, grey});
    image = image.bands() == 2 ? rgb.bandjoin(image.extract_band(1)) : rgb;
  }
  if (image.bands() == 3) image = image.bandjoin_const({65535});
  return image.cast(VIPS_FORMAT_USHORT);
}

bool sameSamples(const fs::path& a, const fs::path& b) {
  VImage first = asRGBA16(a), second = asRGBA16(b);
  if (first.width() != second.width() || first.height() != second.height()) return false;
  return (first - second).abs().max() == 0;
}

class ScoreInvariantTest : public ::testing::TestWithParam<SourceKind> {
 protected:
  void SetUp() override {
    ensureVipsInitialized();
    if (!findTool("ssimulacra2", harness.searchPath.toolSearchDirectories())) GTEST_SKIP() << "ssimulacra2 is missing";
  }
  bool installed(const Encode& encode) {
    for (std::string_view tool : encode.tools) {
      if (!findTool(tool, harness.searchPath.toolSearchDirectories())) return false;
    }
    return true;
  }
  test::EngineHarness harness{test::ToolSet::installed};
};

TEST_P(ScoreInvariantTest, LosslessScoresOneHundredAndLossyScoresInRange) {
  fs::path file;
  GetParam().make(harness.scratch.path(), file);
  PreparedCompressionSource source = harness.prepare(file);
  const test::PNGHeader prepared = test::readPNGHeader(source.preparedURL);
  const bool preparedIsEightBit = prepared.bitDepth == 8;
  const bool hasTransparency = prepared.colorType == 6;
  const std::vector<Encode> all = encodes();
  std::vector<std::string> cells(all.size());
  std::atomic<std::size_t> next{0};
  std::mutex failures;
  auto work = [&] {
    for (std::size_t i = next++; i < all.size(); i = next++) {
      const Encode& encode = all[i];
      if (!installed(encode)) {
        cells[i] = "-";
        continue;
      }
      // Only JPEG XL keeps more than 8 bits losslessly; WebP holds 8, AVIF 12.
      const bool trulyLossless = encode.isLossless && (preparedIsEightBit || encode.panel.codec == C::jpegXL);
      try {
        CompressionResult result = runPanel(encode.panel, source, harness.context());
        const double score = result.ssimulacra2Score;
        const bool exact = sameSamples(source.preparedURL, result.decodedURL);
        char text[64];
        std::snprintf(text, sizeof text, "%.2f%s", score, exact ? "=" : "");
        cells[i] = text;
        std::lock_guard lock(failures);
        if (trulyLossless) {
          EXPECT_GE(score, 99.99) << encode.label;
          if (exact) {
            EXPECT_EQ(score, 100.0) << encode.label << " is bit-exact";
          }
        } else if (encode.keepsAlpha || !hasTransparency) {
          // (A JPEG cannot hold transparency: its score says so, whatever it is.)
          EXPECT_GT(score, 30.0) << encode.label << ": " << result.commandLine;
          EXPECT_LE(score, 100.0) << encode.label;
        }
        result.removeWorkDirectory();
      } catch (const CompressionError& error) {
        cells[i] = "error";
        std::lock_guard lock(failures);
        // heif-enc 1.15 cannot make AVIF from 16-bit input: refused, never run.
        const bool refusedDeepInput = encode.panel.codec == C::avifLibheif && !preparedIsEightBit &&
                                      error.message().find("16-bit input") != std::string::npos;
        if (refusedDeepInput) {
          cells[i] = "refused";
        } else {
          ADD_FAILURE() << encode.label << ": " << error.message();
        }
      }
    }
  };
  {
    std::jthread helper(work);
    work();
  }
  std::string row = GetParam().name + (preparedIsEightBit ? " (8-bit)" : " (16-bit)");
  for (std::size_t i = 0; i < all.size(); ++i) row += " | " + all[i].label + " " + cells[i];
  std::printf("score matrix: %s\n", row.c_str());
  source.removeTemporaryDirectory();
}

INSTANTIATE_TEST_SUITE_P(SourceKinds, ScoreInvariantTest, ::testing::ValuesIn(sourceKinds()),
                         [](const ::testing::TestParamInfo<SourceKind>& kind) { return kind.param.name; });

}  // namespace
}  // namespace quorlin
