#include "core/codecs/CodecCatalog.h"

#include <algorithm>
#include <array>
#include <string>

#include "core/codecs/ContentTypes.h"

namespace quorlin {

namespace {

namespace type = ContentTypeIdentifier;
using C = CompressionCodec;
using Kind = RateParameterKind;

constexpr std::string_view jpegXLInputExtensions[] = {"jxl", "ppm", "pnm", "pfm", "pam", "pgx",
                                                      "png", "apng", "gif", "jpg", "jpeg", "exr"};
constexpr std::string_view jpegXLInputTypes[] = {type::png, type::gif, type::jpeg};
constexpr std::string_view avifInputExtensions[] = {"jpg", "jpeg", "png", "y4m"};
constexpr std::string_view avifInputTypes[] = {type::jpeg, type::png};
constexpr std::string_view webPInputExtensions[] = {"webp", "jpg", "jpeg", "png", "pnm",
                                                    "pgm",  "ppm", "pam",  "tif", "tiff"};
constexpr std::string_view webPInputTypes[] = {type::webP, type::jpeg, type::png, type::tiff};
constexpr std::string_view libheifInputExtensions[] = {"jpg", "jpeg", "png", "tif", "tiff", "y4m"};
constexpr std::string_view libheifInputTypes[] = {type::jpeg, type::png, type::tiff};
constexpr std::string_view jpegTurboInputExtensions[] = {"png", "ppm", "pgm", "bmp", "gif", "tga", "targa"};
constexpr std::string_view jpegTurboInputTypes[] = {type::png, type::gif, type::bmp};
constexpr std::span<const std::string_view> noInputs{};

// Sweep ladders, worst to best. AVIF's quality scale reaches the same loss
// further down than the others', so its ladder starts lower.
constexpr double distanceLadder[] = {8, 5.5, 4, 3, 2.2, 1.6, 1.1, 0.75, 0.5};
constexpr double qualityLadder[] = {30, 40, 50, 60, 70, 78, 85, 90, 95};
constexpr double avifQualityLadder[] = {20, 32, 44, 54, 63, 71, 79, 86, 93};

// The catalog, in case order.
const CodecInfo catalog[] = {
    {C::jpegXL, "JPEG XL", "JPEG XL", "cjxl", "", "djxl", "jxl", jpegXLInputExtensions, jpegXLInputTypes,
     Kind::distance, distanceLadder},
    {C::avif, "AVIF", "AVIF", "avifenc", "", "avifdec", "avif", avifInputExtensions, avifInputTypes, Kind::quality,
     avifQualityLadder},
    {C::webP, "WebP", "WebP", "cwebp", "", "dwebp", "webp", webPInputExtensions, webPInputTypes, Kind::quality,
     qualityLadder},
    {C::jpegli, "JPEGli", "JPEGli", "cjpegli", "", "djpegli", "jpg", jpegXLInputExtensions, jpegXLInputTypes,
     Kind::distance, distanceLadder},
    {C::heifLibheif, "HEIF (libheif)", "HEIF (libheif)", "heif-enc", "--hevc", "heif-dec", "heic",
     libheifInputExtensions, libheifInputTypes, Kind::quality, qualityLadder},
    {C::avifLibheif, "AVIF (libheif)", "AVIF (libheif)", "heif-enc", "--avif", "heif-dec", "avif",
     libheifInputExtensions, libheifInputTypes, Kind::quality, avifQualityLadder},
    {C::jpeg2000Libheif, "JPEG 2000 (libheif)", "JPEG 2000 (libheif)", "heif-enc", "--jpeg2000", "heif-dec", "hej2",
     libheifInputExtensions, libheifInputTypes, Kind::quality, qualityLadder},
    {C::heif, "HEIF", "HEIF (System)", "", "", "", "heic", noInputs, noInputs, Kind::quality, qualityLadder},
    {C::jpegTurbo, "JPEG (libjpeg-turbo)", "JPEG (libjpeg-turbo)", "cjpeg", "", "", "jpg", jpegTurboInputExtensions,
     jpegTurboInputTypes, Kind::quality, qualityLadder},
    {C::jpeg, "JPEG", "JPEG (System)", "", "", "", "jpg", noInputs, noInputs, Kind::quality, qualityLadder},
};

constexpr CompressionCodec allCodecs[] = {C::jpegXL,          C::avif, C::webP,      C::jpegli, C::heifLibheif,
                                          C::avifLibheif,     C::jpeg2000Libheif,    C::heif,   C::jpegTurbo,
                                          C::jpeg};

// Raw values of the option enumerations, indexed by case.
template <typename Enum>
struct RawValues;
template <>
struct RawValues<ChromaSubsampling> {
  static constexpr std::array<std::string_view, 5> values = {"Auto", "444", "440", "422", "420"};
};
template <>
struct RawValues<AVIFChromaSubsampling> {
  static constexpr std::array<std::string_view, 4> values = {"Auto", "444", "422", "420"};
};
template <>
struct RawValues<AVIFDepth> {
  static constexpr std::array<std::string_view, 4> values = {"-", "8", "10", "12"};
};
template <>
struct RawValues<HEIFDepth> {
  static constexpr std::array<std::string_view, 4> values = {"-", "8", "10", "12"};
};
template <>
struct RawValues<JPEGXLGroupOrder> {
  static constexpr std::array<std::string_view, 2> values = {"Scanline", "Center"};
};
template <>
struct RawValues<RateControlMode> {
  static constexpr std::array<std::string_view, 2> values = {"manual", "targetScore"};
};

template <typename Enum>
std::string_view rawValueOf(Enum value) {
  return RawValues<Enum>::values.at(static_cast<std::size_t>(value));
}

template <typename Enum>
std::optional<Enum> enumFromRawValue(std::string_view raw) {
  const auto& values = RawValues<Enum>::values;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] == raw) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

constexpr ChromaSubsampling chromaCases[] = {ChromaSubsampling::automatic, ChromaSubsampling::fourFourFour,
                                             ChromaSubsampling::fourFourZero, ChromaSubsampling::fourTwoTwo,
                                             ChromaSubsampling::fourTwoZero};
constexpr AVIFChromaSubsampling avifChromaCases[] = {
    AVIFChromaSubsampling::automatic, AVIFChromaSubsampling::fourFourFour, AVIFChromaSubsampling::fourTwoTwo,
    AVIFChromaSubsampling::fourTwoZero};
constexpr AVIFDepth avifDepthCases[] = {AVIFDepth::automatic, AVIFDepth::eight, AVIFDepth::ten, AVIFDepth::twelve};
constexpr HEIFDepth heifDepthCases[] = {HEIFDepth::automatic, HEIFDepth::eight, HEIFDepth::ten, HEIFDepth::twelve};
constexpr JPEGXLGroupOrder groupOrderCases[] = {JPEGXLGroupOrder::scanline, JPEGXLGroupOrder::centerFirst};

}  // namespace

std::span<const CompressionCodec> allCompressionCodecs() { return allCodecs; }

const CodecInfo& codecInfo(CompressionCodec codec) { return catalog[static_cast<std::size_t>(codec)]; }

std::string_view rawValue(CompressionCodec codec) { return codecInfo(codec).rawValue; }

std::optional<CompressionCodec> compressionCodecFromRawValue(std::string_view raw) {
  for (const auto& info : catalog) {
    if (info.rawValue == raw) return info.codec;
  }
  return std::nullopt;
}

std::string_view displayName(CompressionCodec codec) { return codecInfo(codec).displayName; }
std::string_view encodedFileExtension(CompressionCodec codec) { return codecInfo(codec).encodedFileExtension; }
std::span<const std::string_view> directInputExtensions(CompressionCodec codec) {
  return codecInfo(codec).directInputExtensions;
}
std::span<const std::string_view> directInputContentTypes(CompressionCodec codec) {
  return codecInfo(codec).directInputContentTypes;
}

std::string exportContentType(CompressionCodec codec) {
  auto type = contentTypeForExtension(encodedFileExtension(codec));
  return std::string(type ? *type : ContentTypeIdentifier::data);
}

std::span<const double> defaultLadder(CompressionCodec codec) { return codecInfo(codec).defaultLadder; }

bool usesPlatformEncoder(CompressionCodec codec) { return codec == C::heif || codec == C::jpeg; }

std::string_view rawValue(ChromaSubsampling value) { return rawValueOf(value); }
std::string_view rawValue(AVIFChromaSubsampling value) { return rawValueOf(value); }
std::string_view rawValue(AVIFDepth value) { return rawValueOf(value); }
std::string_view rawValue(HEIFDepth value) { return rawValueOf(value); }
std::string_view rawValue(JPEGXLGroupOrder value) { return rawValueOf(value); }
std::string_view rawValue(RateControlMode value) { return rawValueOf(value); }

template <>
std::optional<CompressionCodec> fromRawValue<CompressionCodec>(std::string_view raw) {
  return compressionCodecFromRawValue(raw);
}
template <>
std::optional<ChromaSubsampling> fromRawValue<ChromaSubsampling>(std::string_view raw) {
  return enumFromRawValue<ChromaSubsampling>(raw);
}
template <>
std::optional<AVIFChromaSubsampling> fromRawValue<AVIFChromaSubsampling>(std::string_view raw) {
  return enumFromRawValue<AVIFChromaSubsampling>(raw);
}
template <>
std::optional<AVIFDepth> fromRawValue<AVIFDepth>(std::string_view raw) {
  return enumFromRawValue<AVIFDepth>(raw);
}
template <>
std::optional<HEIFDepth> fromRawValue<HEIFDepth>(std::string_view raw) {
  return enumFromRawValue<HEIFDepth>(raw);
}
template <>
std::optional<JPEGXLGroupOrder> fromRawValue<JPEGXLGroupOrder>(std::string_view raw) {
  return enumFromRawValue<JPEGXLGroupOrder>(raw);
}
template <>
std::optional<RateControlMode> fromRawValue<RateControlMode>(std::string_view raw) {
  return enumFromRawValue<RateControlMode>(raw);
}

std::span<const ChromaSubsampling> allChromaSubsamplings() { return chromaCases; }
std::span<const ChromaSubsampling> explicitChromaSubsamplings() {
  return std::span<const ChromaSubsampling>(chromaCases).subspan(1);
}
std::span<const AVIFChromaSubsampling> allAVIFChromaSubsamplings() { return avifChromaCases; }
std::span<const AVIFDepth> allAVIFDepths() { return avifDepthCases; }
std::span<const HEIFDepth> allHEIFDepths() { return heifDepthCases; }
std::span<const JPEGXLGroupOrder> allJPEGXLGroupOrders() { return groupOrderCases; }

}  // namespace quorlin
