#include "core/engine/ImageDecoding.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <atomic>
#include <fstream>
#include <new>
#include <system_error>
#include <vector>

#include "core/codecs/ContentTypes.h"
#include "core/common/TransferCurves.h"
#include "core/engine/EmbeddedColour.h"
#include "core/engine/LcmsHandles.h"
#include "core/engine/VipsRuntime.h"

namespace quorlin {

namespace fs = std::filesystem;
using vips::VError;
using vips::VImage;

namespace {

// ---- Guards before decoding --------------------------------------------------

std::atomic<std::uint64_t> pixelLimit{defaultMaximumPixelCount};
thread_local std::string rejectionReason;

// Keeps libvips' text of the failure that just happened as the reason (with
// `fallback` when it has none) and clears its log.
void rejectWithVipsError(std::string_view fallback) { rejectionReason = takeVipsErrorText(fallback); }

// A reason for a path that is not a readable, non-empty regular file.
std::optional<std::string> unreadableFileReason(const fs::path& file) {
  std::error_code error;
  auto status = fs::status(file, error);
  if (error || !fs::exists(status)) return "No such file.";
  if (fs::is_directory(status)) return "It is a directory, not a file.";
  if (!fs::is_regular_file(status)) return "It is not a regular file.";
  auto size = fs::file_size(file, error);
  if (error || size == 0) return "The file is empty.";
  if (::access(file.c_str(), R_OK) != 0) return "The file cannot be read (permission denied).";
  return std::nullopt;
}

std::optional<ImageFileHeader> openHeader(const fs::path& file) {
  rejectionReason.clear();
  if (auto reason = unreadableFileReason(file)) {
    rejectionReason = *reason;
    return std::nullopt;
  }
  ensureVipsInitialized();
  try {
    auto options = [] {
      return VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", VIPS_FAIL_ON_TRUNCATED);
    };
    ImageFileHeader header;
    // A source, not a file name: libvips reads "[...]" at the end of a file
    // name as load options. Loaders that only read files are the fallback.
    vips::VSource source = vips::VSource::new_from_file(file.c_str());
    if (vips_foreign_find_load_source(source.get_source())) {
      header.image = VImage::new_from_source(source, "", options());
    } else {
      vips_error_clear();
      if (!vips_foreign_find_load(file.c_str())) {
        vips_error_clear();
        rejectionReason = "Not an image format that can be read.";
        return std::nullopt;
      }
      header.image = VImage::new_from_file(file.c_str(), options());
    }
    if (header.image.get_typeof("vips-loader")) header.loader = header.image.get_string("vips-loader");
    std::string compression;
    if (header.image.get_typeof("heif-compression")) compression = header.image.get_string("heif-compression");
    auto loaderType = contentTypeForLoader(header.loader, compression);
    auto contentType = detectContentType(file);
    // The loader decides; the content refines a family (ppmload: PBM, PGM, ...)
    // or stands in for a loader that names no format (magickload).
    if (loaderType && contentType && contentTypeConforms(*contentType, *loaderType)) loaderType = contentType;
    if (!loaderType) loaderType = contentType;
    if (loaderType) header.typeIdentifier = std::string(*loaderType);
    if (header.loader.starts_with("pngload")) header.pngColour = readPNGColourDescription(file);
    // An ICC profile takes precedence over nclx (ISO/IEC 23008-12), so nclx is read only without one.
    if (header.loader.starts_with("heifload") && !header.image.get_typeof(VIPS_META_ICC_NAME)) {
      if (auto nclx = readHEIFNCLXDescription(file)) {
        header.nclxColour = ColorSpace::fromCICP(nclx->primaries, nclx->transfer);
      }
    }
    return header;
  } catch (const VError&) {
    rejectWithVipsError("The image header cannot be read.");
    return std::nullopt;
  }
}

bool passesDecodeLimits(const ImageFileHeader& header, const fs::path& file) {
  if (header.image.width() <= 0 || header.image.height() <= 0) {
    rejectionReason = "The image has no pixels.";
    return false;
  }
  if (auto refusal = decodeLimitRefusal(header, file)) {
    rejectionReason = *refusal;
    return false;
  }
  return true;
}

// ---- Pixel models ------------------------------------------------------------

PixelModel pixelModelOf(const VImage& image) {
  VipsInterpretation interpretation = image.interpretation();
  if (interpretation == VIPS_INTERPRETATION_CMYK && image.bands() >= 4) return PixelModel::cmyk;
  if (image.bands() <= 2) return PixelModel::gray;
  switch (interpretation) {
    case VIPS_INTERPRETATION_LAB:
    case VIPS_INTERPRETATION_LABS:
    case VIPS_INTERPRETATION_LCH:
    case VIPS_INTERPRETATION_CMC:
    case VIPS_INTERPRETATION_XYZ:
    case VIPS_INTERPRETATION_YXY:
    case VIPS_INTERPRETATION_HSV:
      return PixelModel::lab;
    default:
      return PixelModel::rgb;
  }
}

int colorBands(PixelModel model) {
  switch (model) {
    case PixelModel::gray: return 1;
    case PixelModel::cmyk: return 4;
    default: return 3;
  }
}

// Brings samples to uchar, ushort or float: integers keep their scale where
// a compact form exists, wider integers become floats in 0..1.
VImage compactFormat(const VImage& image) {
  switch (image.format()) {
    case VIPS_FORMAT_UCHAR:
    case VIPS_FORMAT_USHORT:
    case VIPS_FORMAT_FLOAT:
      return image;
    case VIPS_FORMAT_CHAR:
      return image.cast(VIPS_FORMAT_UCHAR);
    case VIPS_FORMAT_SHORT:
      return image.cast(VIPS_FORMAT_USHORT);
    case VIPS_FORMAT_UINT:
      return (image.cast(VIPS_FORMAT_FLOAT) * (1.0 / 4294967295.0)).cast(VIPS_FORMAT_FLOAT);
    case VIPS_FORMAT_INT:
      return (image.cast(VIPS_FORMAT_FLOAT) * (1.0 / 2147483647.0)).cast(VIPS_FORMAT_FLOAT);
    case VIPS_FORMAT_DOUBLE:
      return image.cast(VIPS_FORMAT_FLOAT);
    default:
      throw VError("complex samples cannot be shown");
  }
}

double maximumSampleValue(VipsBandFormat format) {
  switch (format) {
    case VIPS_FORMAT_UCHAR: return 255.0;
    case VIPS_FORMAT_USHORT: return 65535.0;
    default: return 1.0;
  }
}

SampleFormat sampleFormatOf(VipsBandFormat format) {
  switch (format) {
    case VIPS_FORMAT_UCHAR: return SampleFormat::uint8;
    case VIPS_FORMAT_USHORT: return SampleFormat::uint16;
    default: return SampleFormat::float32;
  }
}

VipsBandFormat vipsFormatOf(SampleFormat format) {
  switch (format) {
    case SampleFormat::uint8: return VIPS_FORMAT_UCHAR;
    case SampleFormat::uint16: return VIPS_FORMAT_USHORT;
    case SampleFormat::float32: return VIPS_FORMAT_FLOAT;
  }
  return VIPS_FORMAT_UCHAR;
}

ColorSpaceRef embeddedColorSpace(const VImage& image) {
  if (!image.get_typeof(VIPS_META_ICC_NAME)) return nullptr;
  size_t length = 0;
  const void* data = image.get_blob(VIPS_META_ICC_NAME, &length);
  if (!data || length == 0) return nullptr;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  return ColorSpace::fromICC(std::vector<std::uint8_t>(bytes, bytes + length));
}

// ---- Samples in memory -------------------------------------------------------

struct SampleBlock {
  std::shared_ptr<const std::byte> bytes;
  std::size_t byteCount = 0;
};

// Memory for decoded samples: anonymous pages that are touched only as they
// are written, so a decode that fails midway costs only what it wrote, backed
// by huge pages where the kernel offers them (a full-size photograph then
// takes a few hundred page faults instead of tens of thousands, which is a
// third of the decode time).
std::shared_ptr<std::byte> allocateSampleMemory(std::size_t size) {
  void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  ::madvise(memory, size, MADV_HUGEPAGE);
#endif
  return std::shared_ptr<std::byte>(static_cast<std::byte*>(memory),
                                    [size](std::byte* pointer) { ::munmap(pointer, size); });
}

// Runs the pipeline into newly allocated sample memory.
SampleBlock materialize(const VImage& image) {
  const std::size_t size = static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(image.height()) *
                           static_cast<std::size_t>(image.bands()) * vips_format_sizeof(image.format());
  auto memory = allocateSampleMemory(size);
  if (!memory) throw std::bad_alloc();
  VImage target = VImage::new_from_memory(memory.get(), size, image.width(), image.height(), image.bands(),
                                          image.format());
  if (vips_image_write(image.get_image(), target.get_image()) != 0) throw VError();
  return {std::shared_ptr<const std::byte>(std::move(memory)), size};
}

cmsUInt32Number lcmsFormat(PixelModel model, SampleFormat format, bool hasAlpha) {
  cmsUInt32Number bytes = format == SampleFormat::uint8 ? 1 : format == SampleFormat::uint16 ? 2 : 4;
  cmsUInt32Number colorSpace = model == PixelModel::gray ? PT_GRAY : model == PixelModel::cmyk ? PT_CMYK : PT_RGB;
  cmsUInt32Number channels = static_cast<cmsUInt32Number>(colorBands(model));
  return COLORSPACE_SH(colorSpace) | CHANNELS_SH(channels) | BYTES_SH(bytes) | EXTRA_SH(hasAlpha ? 1 : 0) |
         (format == SampleFormat::float32 ? FLOAT_SH(1) : 0);
}

LcmsProfile grayProfileWithSRGBCurve() {
  const cmsFloat64Number params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, params);
  LcmsProfile profile(cmsCreateGrayProfile(cmsD50_xyY(), curve));
  cmsFreeToneCurve(curve);
  return profile;
}

LcmsProfile defaultCMYKProfile() {
  VipsBlob* blob = nullptr;
  if (vips_profile_load("cmyk", &blob, nullptr) != 0 || !blob) {
    vips_error_clear();  // the caller says what is missing
    return nullptr;
  }
  size_t length = 0;
  const void* data = vips_blob_get(blob, &length);
  LcmsProfile profile(cmsOpenProfileFromMem(data, static_cast<cmsUInt32Number>(length)));
  vips_area_unref(reinterpret_cast<VipsArea*>(blob));
  return profile;
}

// Repeats each grey sample of `row` into R, G and B (alpha, if any, follows).
template <typename Sample>
void expandGrayRow(const std::byte* row, std::byte* output, std::size_t width, bool hasAlpha) {
  const std::size_t in = hasAlpha ? 2 : 1, out = hasAlpha ? 4 : 3;
  const auto* source = reinterpret_cast<const Sample*>(row);
  auto* target = reinterpret_cast<Sample*>(output);
  for (std::size_t x = 0; x < width; ++x) {
    Sample gray = source[x * in];
    target[x * out] = gray;
    target[x * out + 1] = gray;
    target[x * out + 2] = gray;
    if (hasAlpha) target[x * out + 3] = source[x * in + 1];
  }
}

// Converts grey or CMYK samples into sRGB with lcms2, uint16, alpha copied.
// Grey goes to a grey profile with the sRGB curve and is then repeated into
// R, G and B, so neutral stays exactly neutral; CMYK goes to the sRGB profile
// (perceptual intent: its gamut reaches beyond sRGB). Gamma-encoded samples
// keep 16 bits where they matter and encoders compress them better than linear.
std::shared_ptr<const DecodedImage> convertToSRGB(const VImage& image, PixelModel model, bool hasAlpha,
                                                  const ColorSpaceRef& embedded) {
  const bool gray = model == PixelModel::gray;
  VImage samples = image;
  if (samples.format() == VIPS_FORMAT_FLOAT) {
    // Float grey is 0..1; lcms2 reads float CMYK as 0..100: 16-bit keeps both exact enough.
    samples = (samples * 65535.0).cast(VIPS_FORMAT_USHORT);
  }
  SampleFormat inputFormat = sampleFormatOf(samples.format());
  SampleBlock input = materialize(samples);
  LcmsProfile source;
  if (embedded && embedded->model() == (gray ? ColorSpace::Model::gray : ColorSpace::Model::cmyk)) {
    source = openProfile(*embedded);
  }
  if (!source) source = gray ? grayProfileWithSRGBCurve() : defaultCMYKProfile();
  ColorSpaceRef srgb = ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB);
  LcmsProfile target = gray ? grayProfileWithSRGBCurve() : openProfile(*srgb);
  if (!source || !target) throw VError("no colour profile for the conversion");

  const SampleFormat outputFormat = SampleFormat::uint16;
  LcmsTransform transform(cmsCreateTransform(
      source.get(), lcmsFormat(model, inputFormat, hasAlpha), target.get(),
      lcmsFormat(gray ? PixelModel::gray : PixelModel::rgb, outputFormat, hasAlpha),
      gray ? INTENT_RELATIVE_COLORIMETRIC : INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA | cmsFLAGS_NOCACHE));
  if (!transform) throw VError("colour conversion unavailable");

  const int channels = hasAlpha ? 4 : 3;
  const auto width = static_cast<std::size_t>(image.width());
  const auto height = static_cast<std::size_t>(image.height());
  const std::size_t sampleBytes = 2;
  const std::size_t outputRow = width * static_cast<std::size_t>(channels) * sampleBytes;
  const std::size_t outputSize = outputRow * height;
  auto output = allocateSampleMemory(outputSize);
  if (!output) throw VError("out of memory");
  const std::size_t inputRow = input.byteCount / height;
  const std::size_t transformedRow = gray ? width * (hasAlpha ? 2 : 1) * sampleBytes : outputRow;
  std::vector<std::byte> grayRow(gray ? transformedRow : 0);
  for (std::size_t y = 0; y < height; ++y) {
    std::byte* rowOutput = output.get() + y * outputRow;
    std::byte* transformed = gray ? grayRow.data() : rowOutput;
    cmsDoTransformLineStride(transform.get(), input.bytes.get() + y * inputRow, transformed,
                             static_cast<cmsUInt32Number>(width), 1, static_cast<cmsUInt32Number>(inputRow),
                             static_cast<cmsUInt32Number>(transformedRow), 0, 0);
    if (gray) expandGrayRow<std::uint16_t>(transformed, rowOutput, width, hasAlpha);
  }
  return std::make_shared<const DecodedImage>(image.width(), image.height(), channels, outputFormat,
                                              std::shared_ptr<const std::byte>(output), outputSize, srgb);
}

// Applies the EXIF orientation. Turning needs the whole picture, which a
// top-to-bottom decode cannot give, so the pixels are held in memory first.
VImage applyOrientation(const VImage& image, int orientation) {
  if (orientation < 2 || orientation > 8) return image;
  return image.copy_memory().autorot();
}

// libvips widens 10- and 12-bit HEIF samples by a shift (white 65520 for 12
// bits), the codec tools by scaling (white 65535). Widened exactly as avifdec
// does (libavif: floor(float(v) / max x 65535 + 0.5) in single precision), a
// lossless AVIF round trip through the tools gives the very same 16-bit
// samples as the source it started from.
VImage fullScaleHEIFSamples(const ImageFileHeader& header, const VImage& image) {
  if (!header.loader.starts_with("heifload") || image.format() != VIPS_FORMAT_USHORT ||
      !image.get_typeof("heif-bitdepth")) {
    return image;
  }
  const int depth = image.get_int("heif-bitdepth");
  if (depth <= 8 || depth >= 16) return image;
  const int codes = 1 << depth;
  const float maximum = static_cast<float>(codes - 1);
  std::vector<std::uint16_t> table(static_cast<std::size_t>(codes));
  for (int v = 0; v < codes; ++v) {
    const float unit = static_cast<float>(v) / maximum;
    table[static_cast<std::size_t>(v)] = static_cast<std::uint16_t>(std::floor(unit * 65535.0f + 0.5f));
  }
  VImage lookup = VImage::new_from_memory(table.data(), table.size() * sizeof(std::uint16_t), codes, 1, 1,
                                          VIPS_FORMAT_USHORT)
                      .copy_memory();
  VImage coded = (image >> static_cast<double>(16 - depth)).cast(VIPS_FORMAT_USHORT);
  return coded.maplut(lookup).copy(VImage::option()->set("interpretation", image.interpretation()));
}

// A decode worked out but not run yet.
struct DecodePlan {
  VImage pixels;              // lazy, top to bottom, orientation not applied
  ColorSpaceRef colorSpace;   // the space of `pixels` (null when lcms2 still converts)
  int orientation = 1;
  PixelModel model = PixelModel::rgb;
  bool hasAlpha = false;
  bool needsColorConversion = false;  // grey or CMYK through lcms2
  ColorSpaceRef embedded;
};

std::optional<DecodePlan> planDecode(const ImageFileHeader& header, const ColorSpaceRef& interpretAs) {
  VImage image = header.image;
  if (image.coding() == VIPS_CODING_RAD) image = image.rad2float();
  if (image.coding() == VIPS_CODING_LABQ) image = image.LabQ2Lab();
  if (image.coding() != VIPS_CODING_NONE) return std::nullopt;
  image = fullScaleHEIFSamples(header, image);

  DecodePlan plan;
  plan.orientation = image.get_typeof(VIPS_META_ORIENTATION) ? image.get_int(VIPS_META_ORIENTATION) : 1;
  PixelLayout layout = pixelLayoutOf(image);
  plan.model = layout.model;
  plan.hasAlpha = layout.hasAlpha;
  const int keptBands = colorBands(plan.model) + (plan.hasAlpha ? 1 : 0);
  if (image.bands() > keptBands) image = image.extract_band(0, VImage::option()->set("n", keptBands));
  // A PNG means what its colour chunks say (null: plain sRGB).
  plan.embedded = header.pngColour ? header.pngColour->colorSpace : embeddedColorSpace(header.image);
  if (!plan.embedded && !header.pngColour) plan.embedded = header.nclxColour;
  bool interpretGiven = interpretAs && interpretAs->isRGBModel();
  const bool grayKeepsItsValues =
      plan.model == PixelModel::gray && (interpretGiven || !plan.embedded || plan.embedded->isRGBModel());

  if (grayKeepsItsValues) {
    // Grey samples are each channel's value in the given space, or in the
    // file's own (untagged grey is sRGB grey): no conversion, no new rounding.
    VImage gray = compactFormat(image.extract_band(0));
    VImage rgb = VImage::bandjoin({gray, gray, gray});
    if (plan.hasAlpha) rgb = rgb.bandjoin(compactFormat(image.extract_band(1)));
    plan.pixels = rgb;
    plan.colorSpace = interpretGiven ? interpretAs
                      : plan.embedded ? plan.embedded
                                      : ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB);
  } else if (plan.model == PixelModel::gray || plan.model == PixelModel::cmyk) {
    plan.pixels = compactFormat(image);
    plan.needsColorConversion = true;
  } else if (plan.model == PixelModel::lab) {
    VipsBandFormat original = image.format();
    VImage linear = image.extract_band(0, VImage::option()->set("n", 3)).colourspace(VIPS_INTERPRETATION_scRGB);
    if (plan.hasAlpha) {
      linear = linear.bandjoin((image.extract_band(3).cast(VIPS_FORMAT_FLOAT) * (1.0 / maximumSampleValue(original)))
                                   .cast(VIPS_FORMAT_FLOAT));
    }
    plan.pixels = linear.cast(VIPS_FORMAT_FLOAT);
    plan.colorSpace = ColorSpace::wellKnown(ColorSpace::WellKnown::linearSRGB);
  } else {
    plan.pixels = compactFormat(image);
    if (interpretGiven) {
      plan.colorSpace = interpretAs;
    } else if (plan.embedded && plan.embedded->isRGBModel()) {
      plan.colorSpace = plan.embedded;
    } else if (header.image.interpretation() == VIPS_INTERPRETATION_scRGB) {
      plan.colorSpace = ColorSpace::wellKnown(ColorSpace::WellKnown::linearSRGB);
    } else {
      plan.colorSpace = ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB);
    }
  }
  return plan;
}

std::shared_ptr<const DecodedImage> decode(const ImageFileHeader& header, const ColorSpaceRef& interpretAs) {
  auto plan = planDecode(header, interpretAs);
  if (!plan) return nullptr;
  VImage image = applyOrientation(plan->pixels, plan->orientation);
  if (plan->needsColorConversion) return convertToSRGB(image, plan->model, plan->hasAlpha, plan->embedded);
  SampleBlock block = materialize(image);
  return std::make_shared<const DecodedImage>(image.width(), image.height(), image.bands(),
                                              sampleFormatOf(image.format()), std::move(block.bytes),
                                              block.byteCount, plan->colorSpace);
}

}  // namespace

std::uint64_t maximumDecodedPixelCount() { return pixelLimit.load(std::memory_order_relaxed); }

void setMaximumDecodedPixelCount(std::uint64_t pixels) { pixelLimit.store(pixels, std::memory_order_relaxed); }

const std::string& imageRejectionReason() { return rejectionReason; }

std::string takeVipsErrorText(std::string_view fallback) {
  std::string text = vips_error_buffer();
  vips_error_clear();
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (text.size() > 2000) text = text.substr(0, 2000) + "\u2026";
  return text.empty() ? std::string(fallback) : text;
}

std::optional<std::string> decodeLimitRefusal(const ImageFileHeader& header, const fs::path& file) {
  return declaredSizeRefusal(file, static_cast<std::uint64_t>(header.image.width()),
                             static_cast<std::uint64_t>(header.image.height()), maximumDecodedPixelCount());
}

std::optional<ImageFileHeader> readImageHeader(const fs::path& file) { return openHeader(file); }

PixelLayout pixelLayoutOf(const VImage& image) {
  PixelModel model = pixelModelOf(image);
  return {model, image.bands() > colorBands(model)};
}

std::shared_ptr<const DecodedImage> decodeImageFile(const fs::path& file, const ColorSpaceRef& interpretAs,
                                                    ImageFileHeader* headerOut) {
  auto header = openHeader(file);
  if (!header || !passesDecodeLimits(*header, file)) return nullptr;
  try {
    auto decoded = decode(*header, interpretAs);
    if (!decoded) rejectionReason = "The image's pixel coding cannot be read.";
    if (decoded && headerOut) *headerOut = std::move(*header);
    return decoded;
  } catch (const VError&) {
    rejectWithVipsError("The image cannot be decoded.");
    return nullptr;
  } catch (const std::bad_alloc&) {
    rejectionReason = "Not enough memory to decode " + std::to_string(header->image.width()) + " x " +
                      std::to_string(header->image.height()) + " pixels.";
    return nullptr;
  } catch (const std::invalid_argument& error) {
    rejectionReason = error.what();
    return nullptr;
  }
}

std::optional<StreamingDecode> planStreamingDecode(const fs::path& file, ImageFileHeader* headerOut) {
  auto header = openHeader(file);
  if (!header || !passesDecodeLimits(*header, file)) return std::nullopt;
  try {
    auto plan = planDecode(*header, nullptr);
    if (!plan || plan->needsColorConversion || plan->hasAlpha || (plan->orientation >= 2 && plan->orientation <= 8)) {
      return std::nullopt;
    }
    // Float samples are read twice (their peak decides how they are written): not from a sequential read.
    if (plan->pixels.format() == VIPS_FORMAT_FLOAT) return std::nullopt;
    StreamingDecode streaming{plan->pixels, sampleFormatOf(plan->pixels.format()), plan->colorSpace};
    if (headerOut) *headerOut = std::move(*header);
    return streaming;
  } catch (const VError&) {
    rejectWithVipsError("The image cannot be decoded.");
    return std::nullopt;
  }
}

bool decodesToOwnSamples(const ImageFileHeader& header) {
  try {
    const VImage& image = header.image;
    if (image.get_typeof(VIPS_META_N_PAGES) && image.get_int(VIPS_META_N_PAGES) > 1) return false;
    if ((header.pngColour && header.pngColour->isIndexed) || header.typeIdentifier == ContentTypeIdentifier::gif) {
      return false;
    }
    if (image.format() != VIPS_FORMAT_UCHAR && image.format() != VIPS_FORMAT_USHORT) return false;
    if (image.coding() != VIPS_CODING_NONE) return false;
    auto plan = planDecode(header, nullptr);
    if (!plan || plan->needsColorConversion) return false;
    if (plan->model != PixelModel::rgb && plan->model != PixelModel::gray) return false;
    if (header.pngColour) return !header.pngColour->colorSpace || header.pngColour->isICCProfile;
    // An nclx description is one that not every encoder reads.
    if (header.nclxColour && !isPlainSRGB(header.nclxColour)) return false;
    return !plan->embedded || plan->embedded->isRGBModel() || plan->model == PixelModel::gray;
  } catch (const VError&) {
    vips_error_clear();
    return false;
  }
}

VImage vipsImageOf(const DecodedImage& image) {
  ensureVipsInitialized();
  return VImage::new_from_memory(const_cast<std::byte*>(image.data()), image.byteCount(), image.width(),
                                 image.height(), image.channels(), vipsFormatOf(image.format()));
}

}  // namespace quorlin

namespace quorlin {

std::optional<double> extendedRangeHeadroom(const vips::VImage& image, const ColorSpaceRef& space) {
  if (!space || space->kind() != ColorSpace::WellKnown::linearSRGB) return std::nullopt;
  if (image.format() != VIPS_FORMAT_FLOAT && image.format() != VIPS_FORMAT_DOUBLE) return std::nullopt;
  const double peak = image.extract_band(0, vips::VImage::option()->set("n", std::min(image.bands(), 3))).max();
  if (!(peak > 1.0)) return std::nullopt;
  return std::min(peak, transfer::pqPeakNits / transfer::referenceWhiteNits);
}

}  // namespace quorlin
