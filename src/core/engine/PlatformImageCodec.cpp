#include "core/engine/PlatformImageCodec.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/common/CompressionError.h"
#include "core/engine/ColorSpace.h"
#include "core/engine/FileTarget.h"
#include "core/engine/ImageDecoding.h"

namespace quorlin {

namespace {

using vips::VImage;

constexpr std::string_view couldNotCreateEncoder = "ImageIO could not create encoder.";
constexpr std::string_view failedToFinalize = "ImageIO failed to finalize encoded file.";

// zlib level of a decoded PNG. The file lives as long as its result (several
// at once while four panels are shown), and its writing counts as decode
// time: level 1 roughly halves a photograph's 8-bit PNG at a small fraction
// of the cost of the default level.
constexpr int decodedPNGCompressionLevel = 1;

[[noreturn]] void fail(CompressionCodec codec, std::string_view text) {
  throw CompressionError::processFailed(std::string(rawValue(codec)), std::string(text));
}

ColorSpaceRef embeddedSpace(const VImage& image) {
  if (!image.get_typeof(VIPS_META_ICC_NAME)) return nullptr;
  size_t length = 0;
  const auto* data = static_cast<const std::uint8_t*>(image.get_blob(VIPS_META_ICC_NAME, &length));
  if (!data || length == 0) return nullptr;
  return ColorSpace::fromICC(std::vector<std::uint8_t>(data, data + length));
}

// Eight bits cannot hold linear-light or PQ/HLG samples without banding.
int heifBitDepthFor(const VImage& image) {
  ColorSpaceRef space = embeddedSpace(image);
  if (!space) return 8;
  using K = ColorSpace::WellKnown;
  bool needsTenBits = space->isLinear() || space->kind() == K::bt2100PQ || space->kind() == K::bt2100HLG;
  return needsTenBits ? 10 : 8;
}

// A copy carrying only the ICC profile of `image`'s metadata.
VImage withOnlyProfile(const VImage& image) {
  VImage copy = image.copy();
  gchar** fields = vips_image_get_fields(copy.get_image());
  for (gchar** field = fields; field && *field; ++field) {
    if (std::string_view(*field) != VIPS_META_ICC_NAME) vips_image_remove(copy.get_image(), *field);
  }
  g_strfreev(fields);
  return copy;
}

}  // namespace

void encodeWithImageIO(const std::filesystem::path& input, const std::filesystem::path& output,
                       CompressionCodec codec, int quality) {
  if (codec != CompressionCodec::heif && codec != CompressionCodec::jpeg) fail(codec, couldNotCreateEncoder);
  std::optional<ImageFileHeader> header = readImageHeader(input);
  if (!header) fail(codec, couldNotCreateEncoder);
  std::optional<FileTarget> target;
  try {
    target.emplace(output);
  } catch (const std::filesystem::filesystem_error&) {
    fail(codec, couldNotCreateEncoder);
  }
  try {
    VImage image = header->image;
    if (codec == CompressionCodec::heif) {
      image.heifsave_target(target->vipsTarget(), VImage::option()
                                                      ->set("Q", quality)
                                                      ->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC)
                                                      ->set("bitdepth", heifBitDepthFor(image)));
    } else {
      image.jpegsave_target(target->vipsTarget(), VImage::option()->set("Q", quality)->set("interlace", false));
    }
  } catch (const vips::VError&) {
    vips_error_clear();
    target->throwIfWriteFailed();
    fail(codec, failedToFinalize);
  }
  target->close();
}

void decodeWithPlatform(const std::filesystem::path& encoded, const std::filesystem::path& decoded) {
  std::optional<ImageFileHeader> header = readImageHeader(encoded);
  if (!header) throw CompressionError::unreadableImage(encoded, imageRejectionReason());
  FileTarget target(decoded);
  try {
    VImage image = withOnlyProfile(header->image);
    int bitDepth = 8;
    switch (image.format()) {
      case VIPS_FORMAT_UCHAR:
        break;
      case VIPS_FORMAT_USHORT:
        bitDepth = 16;
        image = image.copy(VImage::option()->set(
            "interpretation", image.bands() <= 2 ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16));
        break;
      default:
        throw CompressionError::unreadableImage(encoded, "The decoded samples are neither 8- nor 16-bit.");
    }
    image.pngsave_target(target.vipsTarget(), VImage::option()
                                                  ->set("bitdepth", bitDepth)
                                                  ->set("compression", decodedPNGCompressionLevel)
                                                  ->set("interlace", false));
  } catch (const vips::VError&) {
    std::string reason = takeVipsErrorText();
    target.throwIfWriteFailed();
    throw CompressionError::unreadableImage(encoded, std::move(reason));
  }
  target.close();
}

}  // namespace quorlin
