#include "core/engine/SourceMetadata.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "core/common/ByteCount.h"
#include "core/common/TransferCurves.h"
#include "core/codecs/ContentTypes.h"
#include "core/engine/DeclaredResolution.h"
#include "core/engine/EmbeddedColour.h"
#include "core/engine/FixedNotation.h"
#include "core/engine/ImageDecoding.h"

namespace quorlin {

namespace {

int roundedFallback(double value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<int>(std::lround(value));
}

int bitsPerSample(VipsBandFormat format) {
  switch (format) {
    case VIPS_FORMAT_UCHAR:
    case VIPS_FORMAT_CHAR:
      return 8;
    case VIPS_FORMAT_USHORT:
    case VIPS_FORMAT_SHORT:
      return 16;
    case VIPS_FORMAT_DOUBLE:
    case VIPS_FORMAT_DPCOMPLEX:
      return 64;
    default:
      return 32;
  }
}

const char* colorModelName(PixelModel model) {
  switch (model) {
    case PixelModel::gray: return "Gray";
    case PixelModel::cmyk: return "CMYK";
    case PixelModel::lab: return "Lab";
    case PixelModel::rgb: return "RGB";
  }
  return "RGB";
}

std::span<const std::uint8_t> blobOf(const vips::VImage& image, const char* field) {
  if (!image.get_typeof(field)) return {};
  size_t length = 0;
  const void* data = image.get_blob(field, &length);
  if (!data) return {};
  return {static_cast<const std::uint8_t*>(data), length};
}

std::optional<double> hdrContentHeadroom(const ColorSpace& space, const std::filesystem::path& file,
                                         std::string_view loader) {
  if (loader.starts_with("jxlload")) {
    if (auto nits = readJPEGXLIntensityTarget(file)) return std::max(*nits / 100.0, 1.0);
  }
  const double peak = space.kind() == ColorSpace::WellKnown::bt2100PQ ? transfer::pqPeakNits
                                                                       : transfer::hlgNominalPeakNits;
  return peak / transfer::referenceWhiteNits;
}

std::string headroomText(double headroom) { return fixedNotation(headroom, 1); }

}  // namespace

std::optional<std::string> imageReaderTypeIdentifier(const std::filesystem::path& file) {
  auto header = readImageHeader(file);
  if (!header) return std::nullopt;
  return header->typeIdentifier;
}

SourceImageMetadata readSourceImageMetadata(const std::filesystem::path& file, PixelSize fallbackSize) {
  SourceImageMetadata metadata;
  auto header = readImageHeader(file);
  if (!header) {
    metadata.pixelWidth = roundedFallback(fallbackSize.width);
    metadata.pixelHeight = roundedFallback(fallbackSize.height);
    metadata.isJPEG = isJPEGSource(std::nullopt, file);
    return metadata;
  }
  const vips::VImage& image = header->image;
  metadata.pixelWidth = image.width();
  metadata.pixelHeight = image.height();
  if (header->typeIdentifier) {
    auto description = localizedDescription(*header->typeIdentifier);
    metadata.formatDescription = description ? std::string(*description) : *header->typeIdentifier;
  }
  // libvips widens 10- and 12-bit HEIF samples to 16 bits; the file's own depth is the truer figure.
  metadata.bitDepth = image.get_typeof("heif-bitdepth") ? image.get_int("heif-bitdepth") : bitsPerSample(image.format());
  PixelLayout layout = pixelLayoutOf(image);
  metadata.colorModel = colorModelName(layout.model);
  ColorSpaceRef space;
  if (header->pngColour && header->pngColour->isCICP) {
    space = header->pngColour->colorSpace ? header->pngColour->colorSpace
                                          : ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB);
  } else if (auto profile = blobOf(image, VIPS_META_ICC_NAME); !profile.empty()) {
    space = ColorSpace::fromICC(std::vector<std::uint8_t>(profile.begin(), profile.end()));
  } else if (header->nclxColour) {
    space = header->nclxColour;
  } else if (image.interpretation() == VIPS_INTERPRETATION_scRGB) {
    space = ColorSpace::wellKnown(ColorSpace::WellKnown::linearSRGB);  // as decoding takes it
  }
  if (space && !space->name().empty()) metadata.colorProfileName = space->name();
  if (space && space->isHDR()) metadata.contentHeadroom = hdrContentHeadroom(*space, file, header->loader);
  if (!metadata.contentHeadroom) metadata.contentHeadroom = extendedRangeHeadroom(image, space);
  metadata.hasAlpha = layout.hasAlpha;
  if (image.get_typeof(VIPS_META_ORIENTATION)) metadata.orientation = image.get_int(VIPS_META_ORIENTATION);
  auto resolution = readDeclaredResolution(file, header->typeIdentifier.value_or(""), blobOf(image, VIPS_META_EXIF_NAME));
  if (resolution) {
    metadata.dpiWidth = resolution->dpiWidth;
    metadata.dpiHeight = resolution->dpiHeight;
  }
  metadata.isJPEG = isJPEGSource(header->typeIdentifier, file);
  return metadata;
}

std::string_view hdrTransferName(const SourceImageMetadata& metadata) {
  if (!metadata.contentHeadroom) return {};
  const bool isHLG = metadata.colorProfileName == ColorSpace::wellKnown(ColorSpace::WellKnown::bt2100HLG)->name();
  return isHLG ? "HLG" : "PQ";
}

bool isJPEGSource(const std::optional<std::string>& typeIdentifier, const std::filesystem::path& file) {
  if (typeIdentifier && contentTypeInfo(*typeIdentifier)) {
    return contentTypeConforms(*typeIdentifier, ContentTypeIdentifier::jpeg);
  }
  auto byExtension = contentTypeForFile(file);
  return byExtension && contentTypeConforms(*byExtension, ContentTypeIdentifier::jpeg);
}

std::string summaryLine(const SourceImageMetadata& metadata, std::int64_t fileSize) {
  std::string depth = metadata.bitDepth ? std::to_string(*metadata.bitDepth) + "-bit" : "bit depth unknown";
  if (metadata.hasAlpha.value_or(false)) depth += " + alpha";
  return std::to_string(metadata.pixelWidth) + " x " + std::to_string(metadata.pixelHeight) + " px  |  " + depth +
         "  |  " + metadata.colorProfileName.value_or("profile unknown") +
         (metadata.contentHeadroom ? ", headroom " + headroomText(*metadata.contentHeadroom) : "") + "  |  " +
         formatByteCount(fileSize);
}

std::vector<std::string> specLines(const SourceImageMetadata& metadata, std::int64_t fileSize) {
  std::vector<std::string> lines;
  lines.push_back("File Size: " + formatByteCount(fileSize));
  lines.push_back("Dimensions: " + std::to_string(metadata.pixelWidth) + " x " +
                  std::to_string(metadata.pixelHeight) + " px");
  if (metadata.formatDescription) lines.push_back("Format: " + *metadata.formatDescription);
  lines.push_back(metadata.bitDepth ? "Bit Depth: " + std::to_string(*metadata.bitDepth) + "-bit" : "Bit Depth: --");
  if (metadata.colorModel) lines.push_back("Color Model: " + *metadata.colorModel);
  lines.push_back("Color Profile: " + metadata.colorProfileName.value_or("--"));
  if (metadata.contentHeadroom) lines.push_back("Content Headroom: " + headroomText(*metadata.contentHeadroom));
  if (metadata.hasAlpha) lines.push_back(*metadata.hasAlpha ? "Alpha: yes" : "Alpha: no");
  if (auto dpi = dpiText(metadata)) lines.push_back("DPI: " + *dpi);
  if (metadata.orientation) lines.push_back("Orientation: " + std::to_string(*metadata.orientation));
  return lines;
}

std::optional<std::string> dpiText(const SourceImageMetadata& metadata) {
  if (!metadata.dpiWidth || !metadata.dpiHeight) return std::nullopt;
  std::string width = fixedNotation(*metadata.dpiWidth, 0);
  std::string height = fixedNotation(*metadata.dpiHeight, 0);
  // The raw values decide whether they differ, not their rounded texts.
  if (*metadata.dpiWidth != *metadata.dpiHeight) return width + " x " + height;
  return width;
}

}  // namespace quorlin
