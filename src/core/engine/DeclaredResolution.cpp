#include "core/engine/DeclaredResolution.h"

#include <array>
#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

#include "core/codecs/ContentTypes.h"

namespace quorlin {

namespace {

// Reads `size` bytes at `offset`; false when they are not all there.
using ByteReader = std::function<bool(std::uint64_t offset, std::uint8_t* buffer, std::size_t size)>;

ByteReader memoryReader(std::span<const std::uint8_t> bytes) {
  return [bytes](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
    if (offset > bytes.size() || bytes.size() - offset < size) return false;
    std::memcpy(buffer, bytes.data() + offset, size);
    return true;
  };
}

ByteReader fileReader(std::ifstream& stream) {
  return [&stream](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
    stream.clear();
    stream.seekg(static_cast<std::streamoff>(offset));
    stream.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
    return stream.gcount() == static_cast<std::streamsize>(size);
  };
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint16_t bigEndian16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

std::optional<DeclaredResolution> validResolution(double width, double height) {
  if (!(width > 0) || !(height > 0)) return std::nullopt;
  return DeclaredResolution{width, height};
}

// ---- TIFF structure (TIFF files and EXIF blocks) ---------------------------

std::optional<DeclaredResolution> tiffResolution(const ByteReader& read, std::uint64_t base) {
  std::uint8_t header[8];
  if (!read(base, header, sizeof header)) return std::nullopt;
  bool little;
  if (header[0] == 'I' && header[1] == 'I') {
    little = true;
  } else if (header[0] == 'M' && header[1] == 'M') {
    little = false;
  } else {
    return std::nullopt;
  }
  auto u16 = [little](const std::uint8_t* p) {
    return little ? static_cast<std::uint16_t>(p[0] | (p[1] << 8)) : bigEndian16(p);
  };
  auto u32 = [little](const std::uint8_t* p) {
    return little ? (std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                     (std::uint32_t{p[3]} << 24))
                  : bigEndian32(p);
  };
  if (u16(header + 2) != 42) return std::nullopt;  // classic TIFF only
  std::uint64_t ifd = base + u32(header + 4);
  std::uint8_t countBytes[2];
  if (!read(ifd, countBytes, 2)) return std::nullopt;
  std::uint16_t count = u16(countBytes);
  std::vector<std::uint8_t> entries(std::size_t{count} * 12);
  if (!read(ifd + 2, entries.data(), entries.size())) return std::nullopt;

  constexpr std::uint16_t xResolutionTag = 282, yResolutionTag = 283, resolutionUnitTag = 296;
  constexpr std::uint16_t shortType = 3, rationalType = 5;
  std::optional<double> x, y;
  std::uint16_t unit = 2;  // inches unless the file says otherwise
  auto rational = [&](const std::uint8_t* entry) -> std::optional<double> {
    if (u16(entry + 2) != rationalType || u32(entry + 4) < 1) return std::nullopt;
    std::uint8_t value[8];
    if (!read(base + u32(entry + 8), value, sizeof value)) return std::nullopt;
    std::uint32_t numerator = u32(value), denominator = u32(value + 4);
    if (denominator == 0) return std::nullopt;
    return static_cast<double>(numerator) / denominator;
  };
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = entries.data() + std::size_t{i} * 12;
    switch (u16(entry)) {
      case xResolutionTag:
        x = rational(entry);
        break;
      case yResolutionTag:
        y = rational(entry);
        break;
      case resolutionUnitTag:
        if (u16(entry + 2) == shortType) unit = u16(entry + 8);
        break;
      default:
        break;
    }
  }
  if (!x || !y) return std::nullopt;
  switch (unit) {
    case 2:
      return validResolution(*x, *y);
    case 3:
      return validResolution(*x * 2.54, *y * 2.54);
    default:  // 1: no absolute unit
      return std::nullopt;
  }
}

// ---- PNG: pHYs, which must come before the first IDAT -----------------------

std::optional<DeclaredResolution> pngResolution(std::ifstream& stream) {
  ByteReader read = fileReader(stream);
  std::uint64_t offset = 8;  // after the signature
  for (int chunk = 0; chunk < 4096; ++chunk) {
    std::uint8_t header[8];
    if (!read(offset, header, sizeof header)) return std::nullopt;
    std::uint32_t length = bigEndian32(header);
    std::string_view type(reinterpret_cast<const char*>(header + 4), 4);
    if (type == "IDAT" || type == "IEND") return std::nullopt;
    if (type == "pHYs") {
      std::uint8_t body[9];
      if (length != 9 || !read(offset + 8, body, sizeof body)) return std::nullopt;
      if (body[8] != 1) return std::nullopt;  // unit 0: aspect ratio only
      constexpr double inchesPerMetre = 0.0254;
      return validResolution(bigEndian32(body) * inchesPerMetre, bigEndian32(body + 4) * inchesPerMetre);
    }
    offset += std::uint64_t{length} + 12;
  }
  return std::nullopt;
}

// ---- JPEG: EXIF resolution first (as the reader applies it), else JFIF ------

std::optional<DeclaredResolution> jpegResolution(std::ifstream& stream) {
  ByteReader read = fileReader(stream);
  std::uint8_t marker[4];
  if (!read(0, marker, 2) || marker[0] != 0xFF || marker[1] != 0xD8) return std::nullopt;
  std::optional<DeclaredResolution> jfif, exif;
  std::uint64_t offset = 2;
  for (int segment = 0; segment < 1024; ++segment) {
    if (!read(offset, marker, 4) || marker[0] != 0xFF) break;
    std::uint8_t code = marker[1];
    if (code == 0xFF) {  // fill byte
      offset += 1;
      continue;
    }
    if (code == 0xDA || code == 0xD9) break;  // start of scan, end of image
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
      offset += 2;
      continue;
    }
    std::uint16_t length = bigEndian16(marker + 2);
    if (length < 2) break;
    if (code == 0xE0 && length >= 16 && !jfif) {
      std::uint8_t body[12];
      if (read(offset + 4, body, sizeof body) && std::memcmp(body, "JFIF\0", 5) == 0) {
        std::uint8_t units = body[7];
        double x = bigEndian16(body + 8), y = bigEndian16(body + 10);
        if (units == 1) jfif = validResolution(x, y);
        if (units == 2) jfif = validResolution(x * 2.54, y * 2.54);
      }
    } else if (code == 0xE1 && length > 8 && !exif) {
      std::uint8_t identifier[6];
      if (read(offset + 4, identifier, sizeof identifier) && std::memcmp(identifier, "Exif\0\0", 6) == 0) {
        std::vector<std::uint8_t> block(length - 8u);
        if (read(offset + 10, block.data(), block.size())) exif = tiffResolution(memoryReader(block), 0);
      }
    }
    offset += 2u + length;
  }
  return exif ? exif : jfif;
}

}  // namespace

std::optional<DeclaredResolution> exifDeclaredResolution(std::span<const std::uint8_t> exifBlock) {
  std::uint64_t base = 0;
  if (exifBlock.size() >= 6 && std::memcmp(exifBlock.data(), "Exif\0\0", 6) == 0) base = 6;
  return tiffResolution(memoryReader(exifBlock), base);
}

std::optional<DeclaredResolution> readDeclaredResolution(const std::filesystem::path& file,
                                                         std::string_view typeIdentifier,
                                                         std::span<const std::uint8_t> exifBlock) {
  if (typeIdentifier == ContentTypeIdentifier::png || typeIdentifier == ContentTypeIdentifier::jpeg ||
      typeIdentifier == ContentTypeIdentifier::tiff) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) return std::nullopt;
    if (typeIdentifier == ContentTypeIdentifier::png) return pngResolution(stream);
    if (typeIdentifier == ContentTypeIdentifier::jpeg) return jpegResolution(stream);
    return tiffResolution(fileReader(stream), 0);
  }
  if (exifBlock.empty()) return std::nullopt;
  return exifDeclaredResolution(exifBlock);
}

}  // namespace quorlin
