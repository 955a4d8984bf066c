#include "core/engine/PNGColour.h"

#include <zlib.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>

#include "metric/PngColourChunks.h"

namespace quorlin {

namespace fs = std::filesystem;

namespace {

using FilePointer = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

ColorSpace::Transfer transferOf(metric::TransferCurve curve) {
  switch (curve) {
    case metric::TransferCurve::srgb: return ColorSpace::Transfer::srgb;
    case metric::TransferCurve::linear: return ColorSpace::Transfer::linear;
    case metric::TransferCurve::power: return ColorSpace::Transfer::power;
    case metric::TransferCurve::bt709: return ColorSpace::Transfer::bt709;
    case metric::TransferCurve::pq: return ColorSpace::Transfer::pq;
    case metric::TransferCurve::hlg: return ColorSpace::Transfer::hlg;
  }
  return ColorSpace::Transfer::srgb;
}

ColorSpaceRef colorSpaceOf(const metric::ColourEncoding& encoding) {
  switch (encoding.kind) {
    case metric::ColourEncoding::Kind::srgb:
      return nullptr;
    case metric::ColourEncoding::Kind::icc:
      return ColorSpace::fromICC(encoding.iccProfile);
    case metric::ColourEncoding::Kind::described: {
      const auto& c = encoding.chromaticities;
      return ColorSpace::described({c.redX, c.redY, c.greenX, c.greenY, c.blueX, c.blueY, c.whiteX, c.whiteY},
                                   transferOf(encoding.transfer), encoding.exponent);
    }
  }
  return nullptr;
}

std::uint32_t crcOf(std::string_view type, const std::vector<std::uint8_t>& data) {
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type.data()), static_cast<uInt>(type.size()));
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  return static_cast<std::uint32_t>(crc);
}

void appendBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xff));
}

[[noreturn]] void throwFileError(const fs::path& file, std::string_view what) {
  throw fs::filesystem_error(std::string(what), file, std::error_code(errno ? errno : EIO, std::generic_category()));
}

}  // namespace

std::optional<PNGColourDescription> readPNGColourDescription(const fs::path& file) {
  FilePointer stream(std::fopen(file.c_str(), "rb"), &std::fclose);
  if (!stream || !metric::readPngSignature(stream.get())) return std::nullopt;
  // IHDR: length, type, width, height, bit depth, then the colour type.
  std::array<std::uint8_t, 18> header{};
  const bool hasHeader = std::fread(header.data(), 1, header.size(), stream.get()) == header.size() &&
                         std::string_view(reinterpret_cast<const char*>(header.data() + 4), 4) == "IHDR";
  if (!hasHeader || std::fseek(stream.get(), 8, SEEK_SET) != 0) return std::nullopt;
  const metric::PngColourChunks chunks = metric::readPngColourChunks(stream.get());
  const metric::ColourEncoding encoding = metric::colourEncodingForPng(chunks);
  PNGColourDescription description;
  description.hasColourChunks = chunks.cicp || chunks.iccp || chunks.srgb || chunks.gamma || chunks.chromaticities;
  description.isICCProfile = encoding.kind == metric::ColourEncoding::Kind::icc;
  description.colorSpace = colorSpaceOf(encoding);
  if (chunks.cicp && encoding.kind == metric::ColourEncoding::Kind::described) {
    // The same samples; a named space lets every stage know PQ and HLG for what they are.
    if (auto named = ColorSpace::fromCICP(chunks.cicp->primaries, chunks.cicp->transfer)) {
      description.colorSpace = isPlainSRGB(named) ? nullptr : named;
      description.isCICP = true;
    }
  }
  description.isIndexed = header[17] == 3;
  return description;
}

void insertPNGChunk(const fs::path& file, std::string_view type, const std::vector<std::uint8_t>& data) {
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    if (!in) throwFileError(file, "cannot read the PNG");
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) throwFileError(file, "cannot read the PNG");
  }
  // Signature (8), then IHDR: length 13, type, data, CRC = 25 bytes.
  constexpr std::size_t afterHeader = 8 + 25;
  if (bytes.size() < afterHeader || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0) {
    throw std::invalid_argument("not a PNG file: " + file.string());
  }
  std::string chunk;
  appendBigEndian(chunk, static_cast<std::uint32_t>(data.size()));
  chunk.append(type);
  chunk.append(reinterpret_cast<const char*>(data.data()), data.size());
  appendBigEndian(chunk, crcOf(type, data));
  bytes.insert(afterHeader, chunk);

  fs::path temporary = file;
  temporary += ".tagging";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      throwFileError(file, "cannot write the PNG");
    }
  }
  fs::rename(temporary, file);
}

std::vector<std::uint8_t> cicpChunkData(const ColorSpace& space) {
  if (!space.isHDR()) return {};
  const std::uint8_t transfer = space.kind() == ColorSpace::WellKnown::bt2100PQ ? 16 : 18;
  return {9, transfer, 0, 1};  // BT.2020 primaries, RGB, full range
}

void insertPNGICCProfile(const fs::path& file, const std::vector<std::uint8_t>& profile) {
  auto description = readPNGColourDescription(file);
  if (!description) throw std::invalid_argument("not a PNG file: " + file.string());
  if (description->hasColourChunks) throw std::invalid_argument("the PNG already describes its colours");
  // iCCP: a profile name, NUL, compression method 0, the zlib stream.
  uLongf compressedSize = compressBound(static_cast<uLong>(profile.size()));
  std::vector<std::uint8_t> data = {'I', 'C', 'C', ' ', 'P', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0};
  const std::size_t prefix = data.size();
  data.resize(prefix + compressedSize);
  if (compress2(data.data() + prefix, &compressedSize, profile.data(), static_cast<uLong>(profile.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    throw std::invalid_argument("the profile cannot be compressed");
  }
  data.resize(prefix + compressedSize);
  insertPNGChunk(file, "iCCP", data);
}

}  // namespace quorlin
