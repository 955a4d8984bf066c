#include "metric/PngColourChunks.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace quorlin::metric {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// Larger ICC profiles than this are not profiles we would want to trust.
constexpr std::uint32_t kMaxProfileBytes = 64u << 20;

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

std::optional<Chromaticities> cicpPrimaries(std::uint8_t code) {
  switch (code) {
    case 1: return kSrgbChromaticities;                                                       // BT.709 / sRGB
    case 9: return Chromaticities{0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290};  // BT.2020
    case 11: return Chromaticities{0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.314, 0.351};   // DCI-P3
    case 12: return Chromaticities{0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290}; // Display P3
    default: return std::nullopt;
  }
}

struct CicpTransfer {
  TransferCurve curve;
  double exponent;
};

std::optional<CicpTransfer> cicpTransfer(std::uint8_t code) {
  switch (code) {
    case 1:
    case 6:
    case 14:
    case 15: return CicpTransfer{TransferCurve::bt709, 1.0};
    case 4: return CicpTransfer{TransferCurve::power, 2.2};
    case 5: return CicpTransfer{TransferCurve::power, 2.8};
    case 8: return CicpTransfer{TransferCurve::linear, 1.0};
    case 13: return CicpTransfer{TransferCurve::srgb, 1.0};
    case 16: return CicpTransfer{TransferCurve::pq, 1.0};
    case 18: return CicpTransfer{TransferCurve::hlg, 1.0};
    default: return std::nullopt;
  }
}

// iCCP data: profile name, NUL, compression method 0, zlib stream.
std::vector<std::uint8_t> inflateProfile(const std::vector<std::uint8_t>& data) {
  const auto nul = std::find(data.begin(), data.end(), std::uint8_t{0});
  if (nul == data.end() || data.end() - nul < 2 || *(nul + 1) != 0) return {};
  const std::uint8_t* compressed = &*(nul + 2);
  const std::size_t compressedSize = static_cast<std::size_t>(data.end() - (nul + 2));

  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return {};
  stream.next_in = const_cast<Bytef*>(compressed);
  stream.avail_in = static_cast<uInt>(compressedSize);
  std::vector<std::uint8_t> profile;
  std::uint8_t buffer[16384];
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = buffer;
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    profile.insert(profile.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
    if (profile.size() > kMaxProfileBytes) status = Z_DATA_ERROR;
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END) return {};
  return profile;
}

}  // namespace

bool readPngSignature(std::FILE* file) {
  std::uint8_t signature[sizeof kSignature];
  return std::fread(signature, 1, sizeof signature, file) == sizeof signature &&
         std::memcmp(signature, kSignature, sizeof signature) == 0;
}

PngColourChunks readPngColourChunks(std::FILE* file) {
  PngColourChunks chunks;
  for (;;) {
    std::uint8_t header[8];
    if (std::fread(header, 1, sizeof header, file) != sizeof header) break;
    const std::uint32_t length = bigEndian32(header);
    const std::string_view type(reinterpret_cast<const char*>(header + 4), 4);
    if (type == "IDAT" || type == "IEND" || length > 0x7fffffffu) break;
    const bool wanted = type == "cICP" || type == "sRGB" || type == "gAMA" || type == "cHRM" ||
                        (type == "iCCP" && length <= kMaxProfileBytes);
    if (!wanted) {
      if (std::fseek(file, static_cast<long>(length) + 4, SEEK_CUR) != 0) break;  // data and CRC
      continue;
    }
    std::vector<std::uint8_t> data(length);
    if (length > 0 && std::fread(data.data(), 1, length, file) != length) break;
    if (std::fseek(file, 4, SEEK_CUR) != 0) break;
    if (type == "cICP" && length == 4) {
      chunks.cicp = PngColourChunks::Cicp{data[0], data[1], data[2], data[3]};
    } else if (type == "sRGB" && length == 1) {
      chunks.srgb = true;
    } else if (type == "iCCP") {
      chunks.iccp = true;
      chunks.iccProfile = inflateProfile(data);
    } else if (type == "gAMA" && length == 4) {
      chunks.gamma = bigEndian32(data.data());
    } else if (type == "cHRM" && length == 32) {
      std::array<std::uint32_t, 8> values{};
      for (std::size_t i = 0; i < values.size(); ++i) values[i] = bigEndian32(data.data() + 4 * i);
      chunks.chromaticities = values;
    }
  }
  return chunks;
}

ColourEncoding colourEncodingForPng(const PngColourChunks& chunks) {
  if (chunks.cicp && chunks.cicp->matrix == 0 && chunks.cicp->fullRange == 1) {
    auto primaries = cicpPrimaries(chunks.cicp->primaries);
    auto transfer = cicpTransfer(chunks.cicp->transfer);
    if (primaries && transfer) return ColourEncoding::described(*primaries, transfer->curve, transfer->exponent);
  }
  // A profile that does not inflate stays empty, which later counts as a
  // profile lcms2 cannot parse (sRGB, with a warning).
  if (chunks.iccp) return ColourEncoding::icc(chunks.iccProfile);
  if (chunks.srgb) return ColourEncoding::srgb();
  if (!chunks.gamma && !chunks.chromaticities) return ColourEncoding::srgb();

  Chromaticities chromaticities = kSrgbChromaticities;
  if (chunks.chromaticities) {
    const auto& v = *chunks.chromaticities;
    auto at = [&v](std::size_t i) { return static_cast<double>(v[i]) / 100000.0; };
    chromaticities = Chromaticities{at(2), at(3), at(4), at(5), at(6), at(7), at(0), at(1)};
  }
  if (chunks.gamma && *chunks.gamma > 0) {
    const double gamma = static_cast<double>(*chunks.gamma) / 100000.0;
    return ColourEncoding::described(chromaticities, TransferCurve::power, 1.0 / gamma);
  }
  return ColourEncoding::described(chromaticities, TransferCurve::srgb);
}

}  // namespace quorlin::metric
