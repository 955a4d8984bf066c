#include "metric/PngDecoder.h"

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <memory>
#include <vector>

#include "metric/AlignedMemory.h"
#include "metric/PngColourChunks.h"

namespace quorlin::metric {

namespace {

struct ReadStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadStructs() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

void ignoreWarning(png_structp, png_const_charp) {}
// Failures are reported by the caller in one line; libpng's own text would add another.
[[noreturn]] void quietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

struct Layout {
  png_uint_32 width = 0, height = 0;
  int channels = 0;
  int bitDepth = 0;
};

// libpng reports errors by longjmp, so the two steps that can fail hold only
// trivially destructible locals.
bool readLayout(png_structp png, png_infop info, std::FILE* file, Layout& layout) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_read_info(png, info);
  const png_byte colourType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (bitDepth == 16) png_set_swap(png);  // host order (little-endian hosts)
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  layout.width = png_get_image_width(png, info);
  layout.height = png_get_image_height(png, info);
  layout.channels = png_get_channels(png, info);
  layout.bitDepth = png_get_bit_depth(png, info);
  return true;
}

bool readRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  return true;
}

bool littleEndianHost() {
  const std::uint16_t probe = 1;
  return *reinterpret_cast<const std::uint8_t*>(&probe) == 1;
}

}  // namespace

std::optional<DecodedImage> decodePng(std::FILE* file, std::string* ignoredProfile) {
  const long start = std::ftell(file);
  if (!readPngSignature(file)) return std::nullopt;
  PngColourChunks chunks = readPngColourChunks(file);
  if (std::fseek(file, start, SEEK_SET) != 0) return std::nullopt;
  ColourEncoding encoding = colourEncodingForPng(chunks, ignoredProfile);

  ReadStructs structs;
  structs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, ignoreWarning);
  if (!structs.png) return std::nullopt;
  structs.info = png_create_info_struct(structs.png);
  if (!structs.info) return std::nullopt;
  // Colour chunks are read above; libpng's checks of them must not reject a file.
  png_set_option(structs.png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
  png_set_keep_unknown_chunks(structs.png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);

  Layout layout;
  if (!readLayout(structs.png, structs.info, file, layout)) return std::nullopt;
  if (layout.width == 0 || layout.height == 0 || layout.channels < 1 || layout.channels > 4 ||
      (layout.bitDepth != 8 && layout.bitDepth != 16)) {
    return std::nullopt;
  }
  if (layout.bitDepth == 16 && !littleEndianHost()) return std::nullopt;

  const std::size_t bytesPerSample = layout.bitDepth / 8;
  const std::size_t rowBytes = static_cast<std::size_t>(layout.width) * layout.channels * bytesPerSample;
  const std::size_t totalBytes = rowBytes * layout.height;
  // Too little memory is not a damaged file: std::bad_alloc goes to the caller.
  std::shared_ptr<std::uint8_t> samples(static_cast<std::uint8_t*>(allocateLarge(totalBytes)), releaseLarge);
  std::vector<png_bytep> rows(layout.height);
  for (png_uint_32 y = 0; y < layout.height; ++y) rows[y] = samples.get() + rowBytes * y;
  if (!readRows(structs.png, rows.data())) return std::nullopt;

  try {
    return DecodedImage(static_cast<int>(layout.width), static_cast<int>(layout.height), layout.channels,
                        layout.bitDepth == 16 ? SampleType::uint16 : SampleType::uint8,
                        std::shared_ptr<const void>(samples, samples.get()), totalBytes,
                        std::move(encoding));
  } catch (const std::invalid_argument&) {
    return std::nullopt;  // dimensions beyond int
  }
}

}  // namespace quorlin::metric
