#include "core/engine/PreparedPNGWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "core/common/CompressionError.h"
#include "core/common/TransferCurves.h"
#include "core/engine/FileTarget.h"
#include "core/engine/ImageDecoding.h"
#include "core/engine/PNGColour.h"

namespace quorlin {

namespace {

using vips::VImage;

constexpr double pixelsPerMillimetreAt72DPI = 72.0 / 25.4;

bool isOpaque(const VImage& alpha, SampleFormat format) {
  double opaque = format == SampleFormat::uint8 ? 255.0 : format == SampleFormat::uint16 ? 65535.0 : 1.0;
  return alpha.min() >= opaque;
}

// 8-bit samples stay 8-bit (the scorer reads 8-bit and 16-bit copies of the
// same picture differently, so a lossless 8-bit result must meet 8-bit
// samples); 16-bit samples stay; floats become round(v x 65535), clipped.
VImage toPNGSamples(const VImage& image, SampleFormat format) {
  if (format == SampleFormat::float32) {
    return (image * 65535.0).round(VIPS_OPERATION_ROUND_RINT).cast(VIPS_FORMAT_USHORT);
  }
  return image;
}

// Linear light above reference white (OpenEXR, float TIFF) does not fit 0..65535 as it is: it is
// written as PQ with BT.2020 primaries, 1.0 being the 203-nit reference white, so it is carried,
// shown and scored as any PQ source. The colour space and headroom the file is written in.
DisplayMetadata extendedRangeAsPQ(VImage& image, SampleFormat format, const ColorSpaceRef& space) {
  const std::optional<double> headroom = format == SampleFormat::float32 ? extendedRangeHeadroom(image, space)
                                                                          : std::nullopt;
  if (!headroom) return {space, std::nullopt};
  const bool hasAlpha = image.bands() == 4;
  VImage rgb = image.extract_band(0, VImage::option()->set("n", 3));
  rgb = rgb.recomb(VImage::new_matrixv(3, 3, 0.6274040, 0.3292820, 0.0433136, 0.0690970, 0.9195400, 0.0113612,
                                       0.0163916, 0.0880132, 0.8955950));
  rgb = rgb * (transfer::referenceWhiteNits / transfer::pqPeakNits);
  rgb = (rgb > 0.0).ifthenelse(rgb, 0.0);
  rgb = (rgb < 1.0).ifthenelse(rgb, 1.0);
  constexpr double m1 = 2610.0 / 16384.0, m2 = 2523.0 / 4096.0 * 128.0;
  constexpr double c1 = 3424.0 / 4096.0, c2 = 2413.0 / 4096.0 * 32.0, c3 = 2392.0 / 4096.0 * 32.0;
  VImage y = rgb.pow(m1);
  VImage pq = ((y * c2 + c1) / (y * c3 + 1.0)).pow(m2).cast(VIPS_FORMAT_FLOAT);
  image = hasAlpha ? pq.bandjoin(image.extract_band(3)) : pq;
  return {ColorSpace::wellKnown(ColorSpace::WellKnown::bt2100PQ), headroom};
}

}  // namespace

namespace {

// A copy of `image` that carries no metadata at all (EXIF, XMP, comments,
// orientation, the source's profile...): only what is set afterwards is written.
VImage withoutMetadata(const VImage& image) {
  VImage copy = image.copy();
  gchar** fields = vips_image_get_fields(copy.get_image());
  for (gchar** field = fields; field && *field; ++field) vips_image_remove(copy.get_image(), *field);
  g_strfreev(fields);
  return copy;
}

// Writes RGB or RGBA samples of `format` in `source` as the prepared PNG.
DisplayMetadata writePNG(VImage image, SampleFormat format, const ColorSpaceRef& source,
                         const std::filesystem::path& output, const std::filesystem::path& sourceForErrors,
                         int compressionLevel) {
  FileTarget target(output);
  DisplayMetadata written{source, std::nullopt};
  const ColorSpaceRef& space = written.colorSpace;
  try {
    written = extendedRangeAsPQ(image, format, source);
    const bool eightBit = format == SampleFormat::uint8;
    image = withoutMetadata(toPNGSamples(image, format))
                .copy(VImage::option()
                          ->set("interpretation", eightBit ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_RGB16)
                          ->set("xres", pixelsPerMillimetreAt72DPI)
                          ->set("yres", pixelsPerMillimetreAt72DPI));
    // Plain sRGB stays untagged, so the scorer reads it exactly as it reads
    // the source and every untagged result.
    if (space && !isPlainSRGB(space) && !space->iccProfile().empty()) {
      const auto& profile = space->iccProfile();
      vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, profile.data(), profile.size());
    }
    image.pngsave_target(target.vipsTarget(), VImage::option()
                                                  ->set("bitdepth", eightBit ? 8 : 16)
                                                  ->set("compression", compressionLevel)
                                                  ->set("filter", VIPS_FOREIGN_PNG_FILTER_NONE)
                                                  ->set("interlace", false));
  } catch (const vips::VError&) {
    std::string reason = takeVipsErrorText();
    target.throwIfWriteFailed();
    throw CompressionError::unreadableImage(sourceForErrors, std::move(reason));
  }
  target.close();
  // PQ and HLG also as a cICP chunk, which readers that know it (the scorer
  // among them) prefer to the ICC profile; the profile stays for the others.
  if (space && space->isHDR()) insertPNGChunk(output, "cICP", cicpChunkData(*space));
  return written;
}

}  // namespace

DisplayMetadata writePreparedPNG(const DecodedImage& decoded, const std::filesystem::path& output,
                      const std::filesystem::path& sourceForErrors, int compressionLevel) {
  VImage image;
  try {
    image = vipsImageOf(decoded);
    if (decoded.hasAlpha() && isOpaque(image.extract_band(3), decoded.format())) {
      image = image.extract_band(0, VImage::option()->set("n", 3));
    }
  } catch (const vips::VError&) {
    throw CompressionError::unreadableImage(sourceForErrors, takeVipsErrorText());
  }
  return writePNG(image, decoded.format(), decoded.colorSpace(), output, sourceForErrors, compressionLevel);
}

DisplayMetadata writePreparedPNG(const StreamingDecode& decode, const std::filesystem::path& output,
                      const std::filesystem::path& sourceForErrors, int compressionLevel) {
  return writePNG(decode.pixels, decode.format, decode.colorSpace, output, sourceForErrors, compressionLevel);
}

}  // namespace quorlin
