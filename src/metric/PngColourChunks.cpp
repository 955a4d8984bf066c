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
// PNG readers refuse to allocate more than this for one chunk's data.
constexpr std::uint32_t kMaxInflatedProfileBytes = 8000000;
constexpr std::size_t kIccHeaderBytes = 132;

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
  const auto keywordLength = nul - data.begin();
  if (nul == data.end() || keywordLength < 1 || keywordLength > 79 || data.end() - nul < 2 || *(nul + 1) != 0) {
    return {};
  }
  const std::size_t offset = static_cast<std::size_t>(keywordLength) + 2;
  const std::uint8_t* compressed = data.data() + offset;
  const std::size_t compressedSize = data.size() - offset;

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
    // More than a profile may hold: what follows cannot matter.
    if (profile.size() > kMaxInflatedProfileBytes) status = Z_STREAM_END;
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END) return {};
  return profile;
}

bool isColourType(std::uint8_t colourType) { return (colourType & 2) != 0; }

// Why the iCCP profile cannot describe the samples; empty when it can.
std::string embeddedProfileProblem(const PngColourChunks& chunks) {
  if (!chunks.iccp) return {};
  const std::vector<std::uint8_t>& profile = chunks.iccProfile;
  if (profile.empty()) return "it does not decompress";
  if (profile.size() < kIccHeaderBytes) return "it is truncated";
  if (bigEndian32(profile.data() + 36) != 0x61637370) return "it is not an ICC profile";  // 'acsp'
  const std::uint32_t declared = bigEndian32(profile.data());
  if (declared < kIccHeaderBytes) return "its header gives a length too short for a profile";
  if (declared > kMaxInflatedProfileBytes) return "it is too large";
  if (profile[8] > 3 && (declared & 3) != 0) return "its length is not a multiple of four";
  const std::uint32_t tagCount = bigEndian32(profile.data() + 128);
  if (tagCount > (declared - kIccHeaderBytes) / 12) return "its tag table does not fit in it";
  if (bigEndian32(profile.data() + 64) >= 0xffff) return "its rendering intent is invalid";
  const std::uint32_t space = bigEndian32(profile.data() + 16);
  if (space == 0x52474220) {  // 'RGB '
    if (chunks.colourType && !isColourType(*chunks.colourType)) return "it is an RGB profile on a grey image";
  } else if (space == 0x47524159) {  // 'GRAY'
    if (chunks.colourType && isColourType(*chunks.colourType)) return "it is a grey profile on a colour image";
  } else {
    return "it is neither an RGB nor a grey profile";
  }
  const std::uint32_t profileClass = bigEndian32(profile.data() + 12);
  if (profileClass == 0x61627374 || profileClass == 0x6c696e6b) {  // 'abst', 'link'
    return "it is an abstract or device link profile";
  }
  const std::uint32_t connection = bigEndian32(profile.data() + 20);
  if (connection != 0x58595a20 && connection != 0x4c616220) {  // 'XYZ ', 'Lab '
    return "its connection space is neither XYZ nor Lab";
  }
  if (profile.size() < kIccHeaderBytes + 12 * static_cast<std::size_t>(tagCount)) return "it is truncated";
  for (std::uint32_t i = 0; i < tagCount; ++i) {
    const std::uint8_t* entry = profile.data() + kIccHeaderBytes + 12 * static_cast<std::size_t>(i);
    const std::uint32_t start = bigEndian32(entry + 4), length = bigEndian32(entry + 8);
    if (start > declared || length > declared - start) return "a tag lies outside it";
  }
  if (profile.size() < declared) return "it is truncated";
  return {};
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
    const bool wanted = type == "IHDR" || type == "cICP" || type == "sRGB" || type == "gAMA" || type == "cHRM" ||
                        (type == "iCCP" && length <= kMaxProfileBytes && !chunks.iccp);
    if (!wanted) {
      if (std::fseek(file, static_cast<long>(length) + 4, SEEK_CUR) != 0) break;  // data and CRC
      continue;
    }
    std::vector<std::uint8_t> data(length);
    if (length > 0 && std::fread(data.data(), 1, length, file) != length) break;
    if (std::fseek(file, 4, SEEK_CUR) != 0) break;
    if (type == "IHDR" && length == 13) {
      chunks.colourType = data[9];
    } else if (type == "cICP" && length == 4) {
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

ColourEncoding colourEncodingForPng(const PngColourChunks& chunks, std::string* ignoredProfile) {
  if (ignoredProfile) ignoredProfile->clear();
  if (chunks.cicp && chunks.cicp->matrix == 0 && chunks.cicp->fullRange == 1) {
    auto primaries = cicpPrimaries(chunks.cicp->primaries);
    auto transfer = cicpTransfer(chunks.cicp->transfer);
    if (primaries && transfer) return ColourEncoding::described(*primaries, transfer->curve, transfer->exponent);
  }
  if (chunks.iccp) {
    std::string problem = embeddedProfileProblem(chunks);
    if (problem.empty()) {
      // Inflated data beyond the length the header gives is not part of it.
      const auto end = chunks.iccProfile.begin() + bigEndian32(chunks.iccProfile.data());
      return ColourEncoding::icc(std::vector<std::uint8_t>(chunks.iccProfile.begin(), end));
    }
    if (ignoredProfile) *ignoredProfile = std::move(problem);
  }
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
