#include "core/engine/DecodedImageReader.h"

#include <cstddef>
#include <vector>

#include "core/engine/DisplayImageReader.h"
#include "core/engine/ImageDecoding.h"
#include "core/engine/LcmsHandles.h"

namespace quorlin {

namespace {

bool isSameSpace(const ColorSpace& a, const ColorSpace& b) {
  if (&a == &b) return true;
  if (a.kind() != ColorSpace::WellKnown::none && a.kind() == b.kind()) return true;
  return a.iccProfile() == b.iccProfile();
}

cmsUInt32Number lcmsRGBFormat(SampleFormat format, bool hasAlpha) {
  cmsUInt32Number bytes = format == SampleFormat::uint8 ? 1 : format == SampleFormat::uint16 ? 2 : 4;
  return COLORSPACE_SH(PT_RGB) | CHANNELS_SH(3) | BYTES_SH(bytes) | EXTRA_SH(hasAlpha ? 1 : 0) |
         (format == SampleFormat::float32 ? FLOAT_SH(1) : 0);
}

// A PNG describes its colours with any colour chunk (as the scorer reads
// them); other formats with an embedded ICC profile.
bool describesItsOwnColours(const std::filesystem::path& file) {
  auto header = readImageHeader(file);
  if (!header) return false;
  if (header->pngColour) return header->pngColour->hasColourChunks;
  return header->image.get_typeof(VIPS_META_ICC_NAME) != 0;
}

}  // namespace

std::shared_ptr<const DecodedImage> convertColorSpace(const std::shared_ptr<const DecodedImage>& image,
                                                      const ColorSpaceRef& target) {
  if (!image || !target || isSameSpace(*image->colorSpace(), *target)) return image;
  LcmsProfile from = openProfile(*image->colorSpace());
  LcmsProfile to = openProfile(*target);
  if (!from || !to) return nullptr;
  const SampleFormat outputFormat =
      image->format() == SampleFormat::float32 ? SampleFormat::float32 : SampleFormat::uint16;
  LcmsTransform transform(cmsCreateTransform(from.get(), lcmsRGBFormat(image->format(), image->hasAlpha()), to.get(),
                                             lcmsRGBFormat(outputFormat, image->hasAlpha()),
                                             INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA | cmsFLAGS_NOCACHE));
  if (!transform) return nullptr;

  const auto width = static_cast<std::size_t>(image->width());
  const auto height = static_cast<std::size_t>(image->height());
  const auto channels = static_cast<std::size_t>(image->channels());
  const std::size_t outputSampleBytes = outputFormat == SampleFormat::uint16 ? 2 : 4;
  const std::size_t inputRow = width * channels * image->bytesPerSample();
  const std::size_t outputRow = width * channels * outputSampleBytes;
  std::vector<std::byte> samples(outputRow * height);
  cmsDoTransformLineStride(transform.get(), image->data(), samples.data(), static_cast<cmsUInt32Number>(width),
                           static_cast<cmsUInt32Number>(height), static_cast<cmsUInt32Number>(inputRow),
                           static_cast<cmsUInt32Number>(outputRow), 0, 0);
  return std::make_shared<const DecodedImage>(image->width(), image->height(), image->channels(), outputFormat,
                                              std::move(samples), target);
}

std::optional<DisplayImage> readDecodedImage(const std::filesystem::path& file, const DisplayMetadata& display) {
  if (!display.colorSpace || !describesItsOwnColours(file)) {
    return readDisplayImage(file, display.colorSpace, display.contentHeadroom);
  }
  auto own = readDisplayImage(file, nullptr, display.contentHeadroom);
  if (!own) return std::nullopt;
  own->image = convertColorSpace(own->image, display.colorSpace);
  if (!own->image) return std::nullopt;
  return own;
}

}  // namespace quorlin
