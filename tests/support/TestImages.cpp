#include "support/TestImages.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "core/engine/VipsRuntime.h"

namespace quorlin::test {

using vips::VImage;

namespace {

struct Coefficients {
  double x, y, c, modulus;
};

Coefficients coefficients(TestDepth depth) {
  return depth == TestDepth::eight ? Coefficients{37, 101, 59, 256} : Coefficients{9473, 25957, 15511, 65536};
}

std::vector<unsigned char> readBytes(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(stream)), {});
}

std::uint32_t be32(const std::vector<unsigned char>& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

}  // namespace

int testSampleValue(int x, int y, int channel, TestDepth depth) {
  Coefficients k = coefficients(depth);
  long long value = static_cast<long long>(k.x) * x + static_cast<long long>(k.y) * y +
                    static_cast<long long>(k.c) * channel;
  return static_cast<int>(value % static_cast<long long>(k.modulus));
}

VImage makeTestPicture(int width, int height, TestDepth depth, int colorBands, TestAlpha alpha) {
  ensureVipsInitialized();
  Coefficients k = coefficients(depth);
  VImage xyz = VImage::xyz(width, height);
  VImage x = xyz.extract_band(0).cast(VIPS_FORMAT_DOUBLE);
  VImage y = xyz.extract_band(1).cast(VIPS_FORMAT_DOUBLE);
  VipsBandFormat format = depth == TestDepth::eight ? VIPS_FORMAT_UCHAR : VIPS_FORMAT_USHORT;
  auto channelImage = [&](int channel) {
    return (x * k.x + y * k.y + channel * k.c).remainder_const({k.modulus}).cast(format);
  };
  std::vector<VImage> bands;
  for (int c = 0; c < colorBands; ++c) bands.push_back(channelImage(c));
  if (alpha == TestAlpha::varying) bands.push_back(channelImage(3));
  if (alpha == TestAlpha::opaque) bands.push_back((x * 0 + (k.modulus - 1)).cast(format));
  VImage picture = bands.size() == 1 ? bands.front() : VImage::bandjoin(bands);
  VipsInterpretation interpretation;
  if (colorBands == 1) {
    interpretation = depth == TestDepth::eight ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_GREY16;
  } else {
    interpretation = depth == TestDepth::eight ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_RGB16;
  }
  // Materialised so that saving it twice gives the same bytes cheaply.
  return picture.copy(VImage::option()->set("interpretation", interpretation)).copy_memory();
}

std::vector<int> decodedSamples(const std::filesystem::path& file) {
  ensureVipsInitialized();
  VImage image = VImage::new_from_file(file.c_str());
  size_t size = 0;
  void* data = image.write_to_memory(&size);
  std::vector<int> samples;
  if (image.format() == VIPS_FORMAT_UCHAR) {
    auto* bytes = static_cast<unsigned char*>(data);
    samples.assign(bytes, bytes + size);
  } else if (image.format() == VIPS_FORMAT_USHORT) {
    auto* values = static_cast<unsigned short*>(data);
    samples.assign(values, values + size / 2);
  } else {
    g_free(data);
    throw std::runtime_error("decodedSamples handles 8- and 16-bit files only");
  }
  g_free(data);
  return samples;
}

std::vector<std::string> pngChunkTypes(const std::filesystem::path& file) {
  auto bytes = readBytes(file);
  std::vector<std::string> types;
  for (std::size_t at = 8; at + 8 <= bytes.size();) {
    std::uint32_t length = be32(bytes, at);
    types.emplace_back(reinterpret_cast<const char*>(bytes.data() + at + 4), 4);
    at += std::size_t{length} + 12;
  }
  return types;
}

PNGHeader readPNGHeader(const std::filesystem::path& file) {
  auto bytes = readBytes(file);
  if (bytes.size() < 29) return {};
  return {static_cast<int>(be32(bytes, 16)), static_cast<int>(be32(bytes, 20)), bytes[24], bytes[25]};
}

}  // namespace quorlin::test
