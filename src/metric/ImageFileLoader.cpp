#include "metric/ImageFileLoader.h"

#include <vips/vips.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "metric/PngColourChunks.h"

namespace quorlin::metric {

namespace {

struct ObjectUnref {
  void operator()(VipsImage* image) const {
    if (image) g_object_unref(image);
  }
};
using ImagePtr = std::unique_ptr<VipsImage, ObjectUnref>;

void ignoreLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void initialiseVips() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (VIPS_INIT("quorlin-metric") != 0) return;
    // Decoder warnings would add lines to our one-line diagnostics; failures
    // are reported through return values instead.
    g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE), ignoreLog,
                      nullptr);
    vips_cache_set_max(0);
  });
}

std::optional<std::vector<std::uint8_t>> readFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return std::nullopt;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (!bytes.empty() && !stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    return std::nullopt;
  }
  return bytes;
}

// Brings any decoded image to 1-4 bands of uchar, ushort or float that mean
// grey, grey+alpha, RGB or RGBA.
ImagePtr normalise(ImagePtr image, bool& linearFloat) {
  VipsImage* out = nullptr;
  const VipsInterpretation interpretation = vips_image_guess_interpretation(image.get());
  linearFloat = interpretation == VIPS_INTERPRETATION_scRGB;
  const bool known = interpretation == VIPS_INTERPRETATION_B_W || interpretation == VIPS_INTERPRETATION_GREY16 ||
                     interpretation == VIPS_INTERPRETATION_sRGB || interpretation == VIPS_INTERPRETATION_RGB ||
                     interpretation == VIPS_INTERPRETATION_RGB16 || interpretation == VIPS_INTERPRETATION_scRGB;
  if (!known) {
    // CMYK, Lab and the like: let libvips bring them to sRGB.
    if (vips_colourspace(image.get(), &out, VIPS_INTERPRETATION_sRGB, nullptr) != 0) return nullptr;
    image.reset(out);
  }
  const int bands = image->Bands;
  const bool grey = bands <= 2;
  const int wanted = grey ? bands : std::min(bands, 4);
  if (wanted != bands) {
    if (vips_extract_band(image.get(), &out, 0, "n", wanted, nullptr) != 0) return nullptr;
    image.reset(out);
  }
  switch (image->BandFmt) {
    case VIPS_FORMAT_UCHAR:
    case VIPS_FORMAT_USHORT:
    case VIPS_FORMAT_FLOAT:
      break;
    case VIPS_FORMAT_CHAR:
      if (vips_cast_uchar(image.get(), &out, nullptr) != 0) return nullptr;
      image.reset(out);
      break;
    case VIPS_FORMAT_DOUBLE:
      if (vips_cast_float(image.get(), &out, nullptr) != 0) return nullptr;
      image.reset(out);
      break;
    case VIPS_FORMAT_SHORT:
    case VIPS_FORMAT_UINT:
    case VIPS_FORMAT_INT:
      if (vips_cast_ushort(image.get(), &out, nullptr) != 0) return nullptr;
      image.reset(out);
      break;
    default:
      return nullptr;  // complex formats
  }
  return image;
}

}  // namespace

ImageLoadResult loadImageFile(const std::filesystem::path& path) {
  ImageLoadResult result;
  auto bytes = readFile(path);
  if (!bytes) {
    result.failure = LoadFailure::unreadable;
    return result;
  }
  result.failure = LoadFailure::undecodable;
  if (bytes->empty()) return result;
  initialiseVips();

  VipsImage* raw = vips_image_new_from_buffer(bytes->data(), bytes->size(), "", "access", VIPS_ACCESS_SEQUENTIAL,
                                              "fail_on", VIPS_FAIL_ON_ERROR, nullptr);
  if (!raw) {
    vips_error_clear();
    return result;
  }
  ImagePtr image(raw);

  std::vector<std::uint8_t> icc;
  if (vips_image_get_typeof(image.get(), VIPS_META_ICC_NAME)) {
    const void* data = nullptr;
    size_t length = 0;
    if (vips_image_get_blob(image.get(), VIPS_META_ICC_NAME, &data, &length) == 0 && data && length > 0) {
      const auto* begin = static_cast<const std::uint8_t*>(data);
      icc.assign(begin, begin + length);
    }
  }

  bool linearFloat = false;
  image = normalise(std::move(image), linearFloat);
  if (!image) {
    vips_error_clear();
    return result;
  }

  size_t size = 0;
  void* pixels = vips_image_write_to_memory(image.get(), &size);
  if (!pixels) {
    vips_error_clear();
    return result;
  }
  std::shared_ptr<const void> samples(pixels, [](const void* p) { g_free(const_cast<void*>(p)); });

  ColourEncoding encoding;
  if (isPng(*bytes)) {
    encoding = colourEncodingForPng(readPngColourChunks(*bytes), std::move(icc));
  } else if (!icc.empty()) {
    encoding = ColourEncoding::icc(std::move(icc));
  } else if (linearFloat) {
    encoding = ColourEncoding::described(kSrgbChromaticities, TransferCurve::linear);
  }
  bytes.reset();

  SampleType type = SampleType::uint8;
  if (image->BandFmt == VIPS_FORMAT_USHORT) type = SampleType::uint16;
  if (image->BandFmt == VIPS_FORMAT_FLOAT) type = SampleType::float32;
  try {
    result.image.emplace(image->Xsize, image->Ysize, image->Bands, type, std::move(samples), size,
                         std::move(encoding));
  } catch (const std::invalid_argument&) {
    result.image.reset();
  }
  return result;
}

}  // namespace quorlin::metric
