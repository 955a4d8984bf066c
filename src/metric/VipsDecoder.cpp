#include "metric/VipsDecoder.h"

#include <dlfcn.h>
#include <vips/vips.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <memory>
#include <mutex>
#include <vector>

namespace quorlin::metric {

namespace {

// The libvips (and GLib) entry points we use, resolved at run time.
struct VipsApi {
  int (*init)(const char*) = nullptr;
  VipsImage* (*newFromFile)(const char*, ...) = nullptr;
  GType (*getTypeof)(const VipsImage*, const char*) = nullptr;
  int (*getBlob)(const VipsImage*, const char*, const void**, size_t*) = nullptr;
  VipsInterpretation (*guessInterpretation)(VipsImage*) = nullptr;
  int (*colourspace)(VipsImage*, VipsImage**, VipsInterpretation, ...) = nullptr;
  int (*extractBand)(VipsImage*, VipsImage**, int, ...) = nullptr;
  int (*castUchar)(VipsImage*, VipsImage**, ...) = nullptr;
  int (*castUshort)(VipsImage*, VipsImage**, ...) = nullptr;
  int (*castFloat)(VipsImage*, VipsImage**, ...) = nullptr;
  void* (*writeToMemory)(VipsImage*, size_t*) = nullptr;
  void (*errorClear)() = nullptr;
  void (*cacheSetMax)(int) = nullptr;
  void (*objectUnref)(gpointer) = nullptr;
  void (*free)(gpointer) = nullptr;
  guint (*logSetHandler)(const gchar*, GLogLevelFlags, GLogFunc, gpointer) = nullptr;
};

template <typename Function>
bool resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

void ignoreLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

const VipsApi* loadVips() {
  static std::once_flag once;
  static VipsApi api;
  static bool available = false;
  std::call_once(once, [] {
    void* library = nullptr;
    for (const char* name : {"libvips.so.42", "libvips.42.dylib", "libvips.so", "libvips.dylib"}) {
      library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (library) break;
    }
    if (!library) return;
    const bool resolved =
        resolve(library, "vips_init", api.init) && resolve(library, "vips_image_new_from_file", api.newFromFile) &&
        resolve(library, "vips_image_get_typeof", api.getTypeof) &&
        resolve(library, "vips_image_get_blob", api.getBlob) &&
        resolve(library, "vips_image_guess_interpretation", api.guessInterpretation) &&
        resolve(library, "vips_colourspace", api.colourspace) &&
        resolve(library, "vips_extract_band", api.extractBand) &&
        resolve(library, "vips_cast_uchar", api.castUchar) && resolve(library, "vips_cast_ushort", api.castUshort) &&
        resolve(library, "vips_cast_float", api.castFloat) &&
        resolve(library, "vips_image_write_to_memory", api.writeToMemory) &&
        resolve(library, "vips_error_clear", api.errorClear) &&
        resolve(library, "vips_cache_set_max", api.cacheSetMax) &&
        resolve(library, "g_object_unref", api.objectUnref) && resolve(library, "g_free", api.free) &&
        resolve(library, "g_log_set_handler", api.logSetHandler);
    // The library stays loaded for the life of the process.
    if (!resolved || api.init("quorlin-metric") != 0) return;
    // Decoder warnings would add lines to our one-line diagnostics; failures
    // come back through return values instead.
    api.logSetHandler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE), ignoreLog,
                      nullptr);
    api.cacheSetMax(0);
    available = true;
  });
  return available ? &api : nullptr;
}

struct Unref {
  const VipsApi* api;
  void operator()(VipsImage* image) const {
    if (image) api->objectUnref(image);
  }
};
using ImagePtr = std::unique_ptr<VipsImage, Unref>;

// Brings a decoded image to 1-4 bands of uchar, ushort or float that mean
// grey, grey+alpha, RGB or RGBA.
ImagePtr normalise(const VipsApi& api, ImagePtr image, bool& linearFloat) {
  VipsImage* out = nullptr;
  const VipsInterpretation interpretation = api.guessInterpretation(image.get());
  linearFloat = interpretation == VIPS_INTERPRETATION_scRGB;
  const bool usable = interpretation == VIPS_INTERPRETATION_B_W || interpretation == VIPS_INTERPRETATION_GREY16 ||
                      interpretation == VIPS_INTERPRETATION_sRGB || interpretation == VIPS_INTERPRETATION_RGB ||
                      interpretation == VIPS_INTERPRETATION_RGB16 || interpretation == VIPS_INTERPRETATION_scRGB;
  if (!usable) {
    if (api.colourspace(image.get(), &out, VIPS_INTERPRETATION_sRGB, nullptr) != 0) return ImagePtr(nullptr, {&api});
    image.reset(out);
  }
  const int bands = image->Bands;
  const int wanted = bands <= 2 ? bands : std::min(bands, 4);
  if (wanted != bands) {
    if (api.extractBand(image.get(), &out, 0, "n", wanted, nullptr) != 0) return ImagePtr(nullptr, {&api});
    image.reset(out);
  }
  int status = 0;
  switch (image->BandFmt) {
    case VIPS_FORMAT_UCHAR:
    case VIPS_FORMAT_USHORT:
    case VIPS_FORMAT_FLOAT:
      return image;
    case VIPS_FORMAT_CHAR:
      status = api.castUchar(image.get(), &out, nullptr);
      break;
    case VIPS_FORMAT_DOUBLE:
      status = api.castFloat(image.get(), &out, nullptr);
      break;
    case VIPS_FORMAT_SHORT:
    case VIPS_FORMAT_UINT:
    case VIPS_FORMAT_INT:
      status = api.castUshort(image.get(), &out, nullptr);
      break;
    default:
      return ImagePtr(nullptr, {&api});  // complex formats
  }
  if (status != 0) return ImagePtr(nullptr, {&api});
  image.reset(out);
  return image;
}

}  // namespace

std::optional<DecodedImage> decodeWithVips(const std::filesystem::path& path,
                                           const std::function<bool(int width, int height)>& mayDecode) {
  const VipsApi* api = loadVips();
  if (!api) return std::nullopt;
  ImagePtr image(api->newFromFile(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, "fail_on", VIPS_FAIL_ON_ERROR,
                                  nullptr),
                 {api});
  if (!image) {
    api->errorClear();
    return std::nullopt;
  }
  if (!mayDecode(image->Xsize, image->Ysize)) return std::nullopt;

  std::vector<std::uint8_t> icc;
  if (api->getTypeof(image.get(), VIPS_META_ICC_NAME) != 0) {
    const void* data = nullptr;
    size_t length = 0;
    if (api->getBlob(image.get(), VIPS_META_ICC_NAME, &data, &length) == 0 && data && length > 0) {
      const auto* begin = static_cast<const std::uint8_t*>(data);
      icc.assign(begin, begin + length);
    }
  }

  bool linearFloat = false;
  image = normalise(*api, std::move(image), linearFloat);
  if (!image) {
    api->errorClear();
    return std::nullopt;
  }
  size_t size = 0;
  void* pixels = api->writeToMemory(image.get(), &size);
  if (!pixels) {
    api->errorClear();
    // libvips allocates the whole buffer first; its failure is the likely cause.
    const std::size_t needed = static_cast<std::size_t>(image->Xsize) * static_cast<std::size_t>(image->Ysize) *
                               static_cast<std::size_t>(image->Bands) * 4;
    if (void* probe = std::malloc(needed)) {
      std::free(probe);
      return std::nullopt;
    }
    throw std::bad_alloc();
  }
  std::shared_ptr<const void> samples(pixels, [free = api->free](const void* p) { free(const_cast<void*>(p)); });

  ColourEncoding encoding;
  if (!icc.empty()) {
    encoding = ColourEncoding::icc(std::move(icc));
  } else if (linearFloat) {
    encoding = ColourEncoding::described(kSrgbChromaticities, TransferCurve::linear);
  }
  SampleType type = SampleType::uint8;
  if (image->BandFmt == VIPS_FORMAT_USHORT) type = SampleType::uint16;
  if (image->BandFmt == VIPS_FORMAT_FLOAT) type = SampleType::float32;
  try {
    return DecodedImage(image->Xsize, image->Ysize, image->Bands, type, std::move(samples), size,
                        std::move(encoding));
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
}

}  // namespace quorlin::metric
