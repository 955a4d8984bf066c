// The size an image file declares in its header, and the checks made on it
// before a single pixel is decoded: the pixel limit, and whether the file can
// hold that many pixels at all. A header is a promise of memory; a few hundred
// bytes can declare a picture that takes gigabytes to decode.
//
// Header-only and free of other dependencies, so the engine and the metric
// tool apply the very same rules. Thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <filesystem>
#include <optional>
#include <string>

namespace quorlin {

// 2^28 pixels (16384 x 16384): above every camera and most panoramas, and a
// bound on what a hostile header can make us allocate.
inline constexpr std::uint64_t defaultMaximumPixelCount = std::uint64_t{1} << 28;

struct DeclaredImageSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  // The fewest bytes a complete file of this size can have (0: no bound known).
  std::uint64_t minimumFileSize = 0;
};

// "Image is 16000 x 16000 pixels; the limit is 268 megapixels." (limits below
// a million pixels are given in pixels).
inline std::string pixelLimitMessage(std::uint64_t width, std::uint64_t height, std::uint64_t limit) {
  std::string text = "Image is " + std::to_string(width) + " x " + std::to_string(height) + " pixels; the limit is ";
  if (limit >= 1'000'000) return text + std::to_string(limit / 1'000'000) + " megapixels.";
  return text + std::to_string(limit) + " pixels.";
}

// Why a file is refused that is too small for its declared size.
inline std::string implausibleSizeMessage(const DeclaredImageSize& size, std::uint64_t fileSize) {
  return "Image is " + std::to_string(size.width) + " x " + std::to_string(size.height) + " pixels, which " +
         std::to_string(fileSize) + " bytes cannot hold: the file is truncated or damaged.";
}

namespace declared_size_detail {

inline std::uint64_t bigEndian(const std::uint8_t* bytes, int count) {
  std::uint64_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 8) | bytes[i];
  return value;
}

// PNG: the IHDR chunk. Deflate encodes at most 258 bytes in 2 bits, so the
// compressed rows are at least 1/1032 of the filtered rows.
inline std::optional<DeclaredImageSize> pngSize(std::ifstream& stream) {
  std::array<std::uint8_t, 29> head{};
  stream.read(reinterpret_cast<char*>(head.data()), head.size());
  if (stream.gcount() != static_cast<std::streamsize>(head.size())) return std::nullopt;
  if (std::string(reinterpret_cast<const char*>(head.data() + 12), 4) != "IHDR") return std::nullopt;
  DeclaredImageSize size{bigEndian(&head[16], 4), bigEndian(&head[20], 4), 0};
  const std::uint64_t bitDepth = head[24];
  std::uint64_t channels = 0;
  switch (head[25]) {
    case 0: case 3: channels = 1; break;  // grey, palette
    case 2: channels = 3; break;          // RGB
    case 4: channels = 2; break;          // grey + alpha
    case 6: channels = 4; break;          // RGBA
    default: return size;
  }
  if (bitDepth == 0 || bitDepth > 16 || size.width > 0x7FFFFFFF || size.height > 0x7FFFFFFF) return size;
  const std::uint64_t rowBytes = (size.width * channels * bitDepth + 7) / 8 + 1;
  size.minimumFileSize = rowBytes * size.height / 1032;
  return size;
}

// JPEG: the frame header. A Huffman-coded DCT frame spends at least one bit
// on every 8 x 8 block of its first component (its DC code), whatever the
// quality; arithmetic-coded and lossless frames get no bound.
inline std::optional<DeclaredImageSize> jpegSize(std::ifstream& stream) {
  std::uint8_t marker[4];
  stream.seekg(2);
  for (int segment = 0; segment < 256; ++segment) {
    stream.read(reinterpret_cast<char*>(marker), 2);
    if (stream.gcount() != 2 || marker[0] != 0xFF) return std::nullopt;
    const std::uint8_t code = marker[1];
    if (code == 0xFF) {  // fill byte
      stream.seekg(-1, std::ios::cur);
      continue;
    }
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) continue;  // no length
    if (code == 0xD9 || code == 0xDA) return std::nullopt;          // no frame before the data
    stream.read(reinterpret_cast<char*>(marker + 2), 2);
    if (stream.gcount() != 2) return std::nullopt;
    const std::uint64_t length = bigEndian(marker + 2, 2);
    if (length < 2) return std::nullopt;
    const bool isFrame = code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
    if (!isFrame) {
      stream.seekg(static_cast<std::streamoff>(length - 2), std::ios::cur);
      continue;
    }
    std::uint8_t frame[5];
    stream.read(reinterpret_cast<char*>(frame), 5);
    if (stream.gcount() != 5) return std::nullopt;
    DeclaredImageSize size{bigEndian(frame + 3, 2), bigEndian(frame + 1, 2), 0};
    if (code == 0xC0 || code == 0xC1 || code == 0xC2) {
      size.minimumFileSize = ((size.width + 7) / 8) * ((size.height + 7) / 8) / 8;
    }
    return size;
  }
  return std::nullopt;
}

}  // namespace declared_size_detail

// The size declared by a PNG or JPEG file's header; nothing for other formats
// (their loaders report the size) or a header that cannot be read.
inline std::optional<DeclaredImageSize> readDeclaredImageSize(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  std::array<std::uint8_t, 8> signature{};
  stream.read(reinterpret_cast<char*>(signature.data()), signature.size());
  if (stream.gcount() < 3) return std::nullopt;
  constexpr std::array<std::uint8_t, 8> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  stream.clear();
  stream.seekg(0);
  if (signature == png) return declared_size_detail::pngSize(stream);
  if (signature[0] == 0xFF && signature[1] == 0xD8 && signature[2] == 0xFF) return declared_size_detail::jpegSize(stream);
  return std::nullopt;
}

// Why a file declaring `width` x `height` pixels must not be decoded, or
// nothing when it may: over `limit` pixels, or (PNG and JPEG) fewer bytes than
// any complete file of that size has.
inline std::optional<std::string> declaredSizeRefusal(const std::filesystem::path& file, std::uint64_t width,
                                                      std::uint64_t height, std::uint64_t limit) {
  if (width * height > limit || width > limit || height > limit) return pixelLimitMessage(width, height, limit);
  std::error_code error;
  const std::uint64_t fileSize = std::filesystem::file_size(file, error);
  if (error) return std::nullopt;
  auto declared = readDeclaredImageSize(file);
  if (declared && declared->width * declared->height > limit) {
    return pixelLimitMessage(declared->width, declared->height, limit);
  }
  if (declared && fileSize < declared->minimumFileSize) return implausibleSizeMessage(*declared, fileSize);
  return std::nullopt;
}

}  // namespace quorlin
