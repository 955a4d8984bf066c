#include "metric/PngColourChunks.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace quorlin::metric {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

std::optional<Chromaticities> cicpPrimaries(std::uint8_t code) {
  switch (code) {
    case 1: return kSrgbChromaticities;                                           // BT.709 / sRGB
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

}  // namespace

bool isPng(std::span<const std::uint8_t> file) {
  return file.size() >= sizeof kSignature && std::equal(kSignature, kSignature + sizeof kSignature, file.begin());
}

PngColourChunks readPngColourChunks(std::span<const std::uint8_t> file) {
  PngColourChunks chunks;
  if (!isPng(file)) return chunks;
  std::size_t position = sizeof kSignature;
  while (position + 8 <= file.size()) {
    const std::uint32_t length = bigEndian32(file.data() + position);
    const std::string_view type(reinterpret_cast<const char*>(file.data() + position + 4), 4);
    const std::size_t dataStart = position + 8;
    if (length > file.size() - dataStart) break;
    const std::uint8_t* data = file.data() + dataStart;
    if (type == "IDAT" || type == "IEND") break;
    if (type == "cICP" && length == 4) {
      chunks.cicp = PngColourChunks::Cicp{data[0], data[1], data[2], data[3]};
    } else if (type == "sRGB" && length == 1) {
      chunks.srgb = true;
    } else if (type == "iCCP") {
      chunks.iccp = true;
    } else if (type == "gAMA" && length == 4) {
      chunks.gamma = bigEndian32(data);
    } else if (type == "cHRM" && length == 32) {
      std::array<std::uint32_t, 8> values{};
      for (std::size_t i = 0; i < values.size(); ++i) values[i] = bigEndian32(data + 4 * i);
      chunks.chromaticities = values;
    }
    position = dataStart + length + 4;  // data and CRC
  }
  return chunks;
}

ColourEncoding colourEncodingForPng(const PngColourChunks& chunks, std::vector<std::uint8_t> iccProfile) {
  if (chunks.cicp && chunks.cicp->matrix == 0 && chunks.cicp->fullRange == 1) {
    auto primaries = cicpPrimaries(chunks.cicp->primaries);
    auto transfer = cicpTransfer(chunks.cicp->transfer);
    if (primaries && transfer) return ColourEncoding::described(*primaries, transfer->curve, transfer->exponent);
  }
  if (!iccProfile.empty()) return ColourEncoding::icc(std::move(iccProfile));
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
