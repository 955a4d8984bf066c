#include "MetricTestImages.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <random>
#include <stdexcept>

namespace quorlin::metric::test {

std::vector<std::uint8_t> makePicture(int width, int height, int channels, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> jitter(-6.0, 6.0);
  std::vector<std::uint8_t> samples(static_cast<std::size_t>(width) * height * channels);
  const int colours = channels == 2 || channels == 4 ? channels - 1 : channels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / std::max(1, width - 1);
      const double v = static_cast<double>(y) / std::max(1, height - 1);
      const bool square = x > width / 3 && x < width / 2 && y > height / 4 && y < height / 2;
      for (int c = 0; c < colours; ++c) {
        double value = 40 + 150 * (c == 0 ? u : c == 1 ? v : 1 - u * v);
        value += 25 * std::sin(0.21 * x + 0.13 * y * (c + 1)) + jitter(random);
        if (square) value = c == 0 ? 230 : 20;
        samples[(static_cast<std::size_t>(y) * width + x) * channels + c] =
            static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
      }
      if (colours < channels) {
        const long alpha = x < width / 8 ? 0 : std::lround(255 * u);
        samples[(static_cast<std::size_t>(y) * width + x) * channels + colours] =
            static_cast<std::uint8_t>(std::clamp(alpha, 0L, 255L));
      }
    }
  }
  return samples;
}

std::vector<std::uint8_t> addNoise(std::vector<std::uint8_t> samples, int channels, int amplitude, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> noise(-amplitude, amplitude);
  const int colours = channels == 2 || channels == 4 ? channels - 1 : channels;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (static_cast<int>(i % channels) >= colours) continue;
    samples[i] = static_cast<std::uint8_t>(std::clamp(samples[i] + noise(random), 0, 255));
  }
  return samples;
}

std::vector<std::uint16_t> widen(const std::vector<std::uint8_t>& samples) {
  std::vector<std::uint16_t> wide(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) wide[i] = static_cast<std::uint16_t>(samples[i] * 257);
  return wide;
}

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

[[noreturn]] void pngError(png_structp, png_const_charp message) { throw std::runtime_error(message); }
void pngWarning(png_structp, png_const_charp) {}

void putBigEndian32(std::string& bytes, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((value >> shift) & 0xff));
}

// Inserts an iCCP chunk right after IHDR (signature 8 bytes + IHDR 25 bytes).
void insertIccpChunk(const std::filesystem::path& file, const std::vector<std::uint8_t>& profile) {
  uLongf compressedSize = compressBound(static_cast<uLong>(profile.size()));
  std::vector<Bytef> compressed(compressedSize);
  if (compress(compressed.data(), &compressedSize, profile.data(), static_cast<uLong>(profile.size())) != Z_OK) {
    throw std::runtime_error("cannot compress the profile");
  }
  std::string data("test\0\0", 6);
  data.append(reinterpret_cast<const char*>(compressed.data()), compressedSize);
  std::string chunk;
  putBigEndian32(chunk, static_cast<std::uint32_t>(data.size()));
  chunk += "iCCP" + data;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data() + 4), static_cast<uInt>(chunk.size() - 4));
  putBigEndian32(chunk, static_cast<std::uint32_t>(crc));

  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  bytes.insert(33, chunk);
  std::ofstream outFile(file, std::ios::binary | std::ios::trunc);
  outFile.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!outFile) throw std::runtime_error("cannot rewrite " + file.string());
}

}  // namespace

void writePng(const std::filesystem::path& file, int width, int height, int channels,
              const std::vector<std::uint8_t>& samples8, const PngChunks& chunks,
              const std::vector<std::uint16_t>* samples16) {
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(file.c_str(), "wb"));
  if (!out) throw std::runtime_error("cannot create " + file.string());
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
  png_infop info = png_create_info_struct(png);
  struct Cleanup {
    png_structp& png;
    png_infop& info;
    ~Cleanup() { png_destroy_write_struct(&png, &info); }
  } cleanup{png, info};

  png_init_io(png, out.get());
  const int colourType = channels == 1   ? PNG_COLOR_TYPE_GRAY
                         : channels == 2 ? PNG_COLOR_TYPE_GRAY_ALPHA
                         : channels == 3 ? PNG_COLOR_TYPE_RGB
                                         : PNG_COLOR_TYPE_RGB_ALPHA;
  const int depth = samples16 ? 16 : channels == 1 ? chunks.greyBits : 8;
  png_set_IHDR(png, info, width, height, depth, colourType,
               chunks.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (chunks.srgb) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  if (chunks.gamma) png_set_gAMA_fixed(png, info, static_cast<png_fixed_point>(*chunks.gamma));
  if (chunks.chromaticities) {
    const auto& c = *chunks.chromaticities;
    png_set_cHRM_fixed(png, info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
  }
  png_unknown_chunk cicp{};
  if (chunks.cicp) {
    std::copy_n("cICP", 5, reinterpret_cast<char*>(cicp.name));
    cicp.data = const_cast<png_byte*>(chunks.cicp->data());
    cicp.size = 4;
    cicp.location = PNG_HAVE_IHDR;
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, reinterpret_cast<png_const_bytep>("cICP"), 1);
    png_set_unknown_chunks(png, info, &cicp, 1);
  }
  png_write_info(png, info);
  if (depth == 16) png_set_swap(png);
  if (depth < 8) png_set_packing(png);
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  const std::size_t rowSamples = static_cast<std::size_t>(width) * channels;
  for (int y = 0; y < height; ++y) {
    rows[static_cast<std::size_t>(y)] =
        depth == 16 ? reinterpret_cast<png_bytep>(const_cast<std::uint16_t*>(samples16->data() + rowSamples * y))
                    : const_cast<png_bytep>(samples8.data() + rowSamples * y);
  }
  png_write_image(png, rows.data());  // handles the interlace passes itself
  png_write_end(png, nullptr);
  out.reset();
  // libpng refuses to write profiles it does not like (wrong colour space,
  // garbage), which is exactly what some tests need: add iCCP by hand.
  if (!chunks.iccProfile.empty()) insertIccpChunk(file, chunks.iccProfile);
}

}  // namespace quorlin::metric::test
