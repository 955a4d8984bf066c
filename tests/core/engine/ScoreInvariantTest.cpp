// The scoring invariant with the real codec tools of this system: whatever the
// kind of source, a truly lossless encode scores 100 (at least 99.99 when the
// decoded pixels are not bit-identical to "source.png") and a default lossy
// encode scores between 30 and 100. Each source kind is made here with libvips.
#include <gtest/gtest.h>
#include <vips/vips8>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

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

// The sample photograph at 128 x 80 without its profile.
VImage photo() {
  fs::path sample = fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg";
  VImage image = VImage::thumbnail(sample.c_str(), 128).copy_memory();
  vips_image_remove(image.get_image(), VIPS_META_ICC_NAME);
  return image;
}

// The photograph with a ramp from transparent to opaque across it.
VImage withAlphaRamp(const VImage& image) {
  return image.bandjoin((VImage::xyz(128, 80).extract_band(0) * (255.0 / 127)).cast(VIPS_FORMAT_UCHAR));
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
  std::function<fs::path(const fs::path& directory)> make;
};

void PrintTo(const SourceKind& kind, std::ostream* out) { *out << kind.name; }

// Saves by extension; `options` go to the saver.
fs::path save(const VImage& image, const fs::path& file, vips::VOption* options = nullptr) {
  image.write_to_file(file.c_str(), options);
  return file;
}

std::vector<SourceKind> sourceKinds() {
  std::vector<SourceKind> kinds = {
      {"PNG8Untagged", [](const fs::path& d) { return save(photo(), d / "plain.png"); }},
      {"PNG8GammaChromaticities",
       [](const fs::path& d) {
         // What ImageMagick writes by default: gamma 1/2.2 and the sRGB primaries.
         fs::path f = save(photo(), d / "gamma.png");
         insertPNGChunk(f, "cHRM", bigEndian({31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000}));
         insertPNGChunk(f, "gAMA", bigEndian({45455}));
         return f;
       }},
      {"PNG8SRGBLikeICC",
       [](const fs::path& d) {
         fs::path sample = fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg";
         return save(VImage::thumbnail(sample.c_str(), 128), d / "tagged.png");  // its own lcms-made sRGB profile
       }},
      {"PNG8DisplayP3ICC",
       [](const fs::path& d) {
         VImage wide = photo().copy();
         const auto& icc = ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3)->iccProfile();
         vips_image_set_blob_copy(wide.get_image(), VIPS_META_ICC_NAME, icc.data(), icc.size());
         return save(wide, d / "wide.png");
       }},
      {"PNG16",
       [](const fs::path& d) {
         // Real 16-bit content: the low byte varies too.
         VImage xyz = VImage::xyz(128, 80);
         VImage wide = photo().cast(VIPS_FORMAT_USHORT) * 256 + (xyz[0] * 37 + xyz[1] * 11) % 256;
         return save(wide.cast(VIPS_FORMAT_USHORT).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16)),
                     d / "deep.png", VImage::option()->set("bitdepth", 16));
       }},
      {"Grey", [](const fs::path& d) { return save(photo().colourspace(VIPS_INTERPRETATION_B_W), d / "grey.png"); }},
      {"GreyAlpha",
       [](const fs::path& d) { return save(withAlphaRamp(photo().colourspace(VIPS_INTERPRETATION_B_W)), d / "ga.png"); }},
      {"RGBA", [](const fs::path& d) { return save(withAlphaRamp(photo()), d / "cutout.png"); }},
      {"PaletteWithTransparency",
       [](const fs::path& d) {
         return save(withAlphaRamp(photo()), d / "palette.png", VImage::option()->set("palette", true));
       }},
      {"CMYKJPEG",
       [](const fs::path& d) {
         return save(photo().icc_export(VImage::option()->set("output_profile", "cmyk")), d / "print.jpg",
                     VImage::option()->set("Q", 92));
       }},
      {"TIFF", [](const fs::path& d) { return save(photo(), d / "scan.tif"); }},
  };
  for (int orientation = 1; orientation <= 8; ++orientation) {
    kinds.push_back({"JPEGOrientation" + std::to_string(orientation), [orientation](const fs::path& d) {
                       VImage image = photo().copy();
                       image.set(VIPS_META_ORIENTATION, orientation);
                       return save(image, d / ("turned" + std::to_string(orientation) + ".jpg"),
                                   VImage::option()->set("Q", 92));
                     }});
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
  auto panel = [](C codec, int quality, int effort, std::function<void(CodecPanel&)> set = nullptr) {
    CodecPanel p;
    p.codec = codec;
    p.quality = quality;
    p.effort = effort;
    if (set) set(p);
    return p;
  };
  return {
      {"JXL d0", panel(C::jpegXL, 85, 7, [](CodecPanel& p) { p.distance = 0; }), {"cjxl", "djxl"}, true},
      {"WebP lossless", panel(C::webP, 85, 5, [](CodecPanel& p) { p.isWebPLossless = true; }), {"cwebp", "dwebp"}, true},
      {"AVIF lossless", panel(C::avif, 79, 6, [](CodecPanel& p) { p.isAVIFLossless = true; }), {"avifenc", "avifdec"},
       true},
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
  VImage image = VImage::new_from_file(file.c_str());
  if (image.format() == VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_USHORT) * 257;
  if (image.bands() <= 2) {
    VImage rgb = VImage::bandjoin({image[0], image[0], image[0]});
    image = image.bands() == 2 ? rgb.bandjoin(image[1]) : rgb;
  }
  if (image.bands() == 3) image = image.bandjoin_const({65535});
  return image.cast(VIPS_FORMAT_USHORT);
}

bool sameSamples(const fs::path& a, const fs::path& b) {
  VImage first = asRGBA16(a), second = asRGBA16(b);
  return first.width() == second.width() && first.height() == second.height() && (first - second).abs().max() == 0;
}

class ScoreInvariantTest : public ::testing::TestWithParam<SourceKind> {
 protected:
  bool installed(std::initializer_list<std::string_view> tools) {
    for (std::string_view tool : tools) {
      if (!findTool(tool, harness.searchPath.toolSearchDirectories())) return false;
    }
    return true;
  }
  test::EngineHarness harness{test::ToolSet::installed};
};

TEST_P(ScoreInvariantTest, LosslessScoresOneHundredAndLossyScoresInRange) {
  ensureVipsInitialized();
  if (!installed({"ssimulacra2"})) GTEST_SKIP() << "ssimulacra2 is missing";
  PreparedCompressionSource source = harness.prepare(GetParam().make(harness.scratch.path()));
  const test::PNGHeader prepared = test::readPNGHeader(source.preparedURL);
  const bool preparedIsEightBit = prepared.bitDepth == 8;
  const bool hasTransparency = prepared.colorType == 6;
  const std::vector<Encode> all = encodes();
  std::atomic<std::size_t> next{0};
  std::mutex failures;
  auto work = [&] {
    for (std::size_t i = next++; i < all.size(); i = next++) {
      const Encode& encode = all[i];
      bool present = true;
      for (std::string_view tool : encode.tools) present = present && installed({tool});
      if (!present) continue;
      // Only JPEG XL keeps more than 8 bits losslessly; WebP holds 8, AVIF 12.
      const bool trulyLossless = encode.isLossless && (preparedIsEightBit || encode.panel.codec == C::jpegXL);
      try {
        CompressionResult result = runPanel(encode.panel, source, harness.context());
        const double score = result.ssimulacra2Score;
        const bool exact = sameSamples(source.preparedURL, result.decodedURL);
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
        std::lock_guard lock(failures);
        // heif-enc 1.15 cannot make AVIF from 16-bit input: refused, never run.
        if (encode.panel.codec != C::avifLibheif || preparedIsEightBit ||
            error.message().find("16-bit input") == std::string::npos) {
          ADD_FAILURE() << encode.label << ": " << error.message();
        }
      }
    }
  };
  {
    std::jthread helper(work);
    work();
  }
  source.removeTemporaryDirectory();
}

INSTANTIATE_TEST_SUITE_P(SourceKinds, ScoreInvariantTest, ::testing::ValuesIn(sourceKinds()),
                         [](const ::testing::TestParamInfo<SourceKind>& kind) { return kind.param.name; });

}  // namespace
}  // namespace quorlin
