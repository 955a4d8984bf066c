// Test pictures made with libvips at run time (no binaries in the tree).
//
// Every generated picture follows testSampleValue, so a test can work out any
// expected sample by hand instead of trusting the code under test.
#pragma once

#include <vips/vips8>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace quorlin::test {

enum class TestDepth { eight, sixteen };
enum class TestAlpha { none, opaque, varying };

// The value of `channel` at (x, y): distinct between neighbouring pixels and
// channels, covering the whole range. 8-bit: (37x + 101y + 59c) mod 256;
// 16-bit: (9473x + 25957y + 15511c) mod 65536. Alpha (varying) uses channel 3
// of the same formula; opaque alpha is the maximum.
int testSampleValue(int x, int y, int channel, TestDepth depth);

// An RGB (or grey with `bands` 1) picture following testSampleValue.
vips::VImage makeTestPicture(int width, int height, TestDepth depth = TestDepth::eight, int colorBands = 3,
                             TestAlpha alpha = TestAlpha::none);

// The samples of a PNG (or any file) as libvips decodes it, without any
// conversion, as integers in pixel order, channels interleaved.
std::vector<int> decodedSamples(const std::filesystem::path& file);

// Chunk types of a PNG file in order ("IHDR", "iCCP", ...).
std::vector<std::string> pngChunkTypes(const std::filesystem::path& file);
// IHDR bit depth and colour type.
struct PNGHeader {
  int width = 0, height = 0, bitDepth = 0, colorType = 0;
};
PNGHeader readPNGHeader(const std::filesystem::path& file);

}  // namespace quorlin::test
