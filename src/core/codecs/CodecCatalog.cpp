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
using Group = CodecSettingsGroup;

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

// The catalog, in case order. One field a line, so a new column is one line a row.
const CodecInfo catalog[] = {
    {
        .codec = C::jpegXL,
        .rawValue = "JPEG XL",
        .displayName = "JPEG XL",
        .encoderTool = "cjxl",
        .encoderModeFlag = "",
        .decoderTool = "djxl",
        .encodedFileExtension = "jxl",
        .directInputExtensions = jpegXLInputExtensions,
        .directInputContentTypes = jpegXLInputTypes,
        .rateParameter = Kind::distance,
        .cliKey = "jxl",
        .settingsGroup = Group::jpegXL,
        .effortRange = IntegerRange{1, 10},
        .defaultLadder = distanceLadder,
    },
    {
        .codec = C::avif,
        .rawValue = "AVIF",
        .displayName = "AVIF",
        .encoderTool = "avifenc",
        .encoderModeFlag = "",
        .decoderTool = "avifdec",
        .encodedFileExtension = "avif",
        .directInputExtensions = avifInputExtensions,
        .directInputContentTypes = avifInputTypes,
        .rateParameter = Kind::quality,
        .cliKey = "avif",
        .settingsGroup = Group::avif,
        .effortRange = IntegerRange{0, 10},
        .defaultLadder = avifQualityLadder,
    },
    {
        .codec = C::webP,
        .rawValue = "WebP",
        .displayName = "WebP",
        .encoderTool = "cwebp",
        .encoderModeFlag = "",
        .decoderTool = "dwebp",
        .encodedFileExtension = "webp",
        .directInputExtensions = webPInputExtensions,
        .directInputContentTypes = webPInputTypes,
        .rateParameter = Kind::quality,
        .cliKey = "webp",
        .settingsGroup = Group::webP,
        .effortRange = IntegerRange{0, 6},
        .defaultLadder = qualityLadder,
    },
    {
        .codec = C::jpegli,
        .rawValue = "JPEGli",
        .displayName = "JPEGli",
        .encoderTool = "cjpegli",
        .encoderModeFlag = "",
        .decoderTool = "djpegli",
        .encodedFileExtension = "jpg",
        .directInputExtensions = jpegXLInputExtensions,
        .directInputContentTypes = jpegXLInputTypes,
        .rateParameter = Kind::distance,
        .cliKey = "jpegli",
        .settingsGroup = Group::jpegli,
        .effortRange = std::nullopt,
        .defaultLadder = distanceLadder,
    },
    {
        .codec = C::heifLibheif,
        .rawValue = "HEIF (libheif)",
        .displayName = "HEIF (libheif)",
        .encoderTool = "heif-enc",
        .encoderModeFlag = "--hevc",
        .decoderTool = "heif-dec",
        .encodedFileExtension = "heic",
        .directInputExtensions = libheifInputExtensions,
        .directInputContentTypes = libheifInputTypes,
        .rateParameter = Kind::quality,
        .cliKey = "heif-libheif",
        .settingsGroup = Group::libheif,
        .effortRange = std::nullopt,
        .defaultLadder = qualityLadder,
    },
    {
        .codec = C::avifLibheif,
        .rawValue = "AVIF (libheif)",
        .displayName = "AVIF (libheif)",
        .encoderTool = "heif-enc",
        .encoderModeFlag = "--avif",
        .decoderTool = "heif-dec",
        .encodedFileExtension = "avif",
        .directInputExtensions = libheifInputExtensions,
        .directInputContentTypes = libheifInputTypes,
        .rateParameter = Kind::quality,
        .cliKey = "avif-libheif",
        .settingsGroup = Group::libheif,
        .effortRange = std::nullopt,
        .defaultLadder = avifQualityLadder,
    },
    {
        .codec = C::jpeg2000Libheif,
        .rawValue = "JPEG 2000 (libheif)",
        .displayName = "JPEG 2000 (libheif)",
        .encoderTool = "heif-enc",
        .encoderModeFlag = "--jpeg2000",
        .decoderTool = "heif-dec",
        .encodedFileExtension = "hej2",
        .directInputExtensions = libheifInputExtensions,
        .directInputContentTypes = libheifInputTypes,
        .rateParameter = Kind::quality,
        .cliKey = "jp2-libheif",
        .settingsGroup = Group::libheif,
        .effortRange = std::nullopt,
        .defaultLadder = qualityLadder,
    },
    {
        .codec = C::heif,
        .rawValue = "HEIF",
        .displayName = "HEIF (System)",
        .encoderTool = "",
        .encoderModeFlag = "",
        .decoderTool = "",
        .encodedFileExtension = "heic",
        .directInputExtensions = noInputs,
        .directInputContentTypes = noInputs,
        .rateParameter = Kind::quality,
        .cliKey = "heif-system",
        .settingsGroup = Group::none,
        .effortRange = std::nullopt,
        .defaultLadder = qualityLadder,
    },
    {
        .codec = C::jpegTurbo,
        .rawValue = "JPEG (libjpeg-turbo)",
        .displayName = "JPEG (libjpeg-turbo)",
        .encoderTool = "cjpeg",
        .encoderModeFlag = "",
        .decoderTool = "",
        .encodedFileExtension = "jpg",
        .directInputExtensions = jpegTurboInputExtensions,
        .directInputContentTypes = jpegTurboInputTypes,
        .rateParameter = Kind::quality,
        .cliKey = "jpeg-turbo",
        .settingsGroup = Group::jpegTurbo,
        .effortRange = std::nullopt,
        .defaultLadder = qualityLadder,
    },
    {
        .codec = C::jpeg,
        .rawValue = "JPEG",
        .displayName = "JPEG (System)",
        .encoderTool = "",
        .encoderModeFlag = "",
        .decoderTool = "",
        .encodedFileExtension = "jpg",
        .directInputExtensions = noInputs,
        .directInputContentTypes = noInputs,
        .rateParameter = Kind::quality,
        .cliKey = "jpeg-system",
        .settingsGroup = Group::none,
        .effortRange = std::nullopt,
        .defaultLadder = qualityLadder,
    },
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

bool isLibheifCodec(CompressionCodec codec) { return codecInfo(codec).settingsGroup == Group::libheif; }

std::optional<CompressionCodec> compressionCodecFromCliKey(std::string_view key) {
  for (const auto& info : catalog) {
    if (info.cliKey == key) return info.codec;
  }
  return std::nullopt;
}

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

std::vector<PanelSetting> panelSettings(CompressionCodec codec) {
  using K = PanelSettingKind;
  const CodecInfo& info = codecInfo(codec);
  std::vector<PanelSetting> settings;
  if (info.effortRange) settings.push_back({"effort", K::wholeNumber, *info.effortRange});
  if (info.rateParameter == Kind::distance) {
    settings.push_back({"distance", K::number, distanceRange});
  } else {
    settings.push_back({"quality", K::wholeNumber, qualityRange});
  }
  auto flag = [&](std::string_view field) { settings.push_back({field, K::flag}); };
  auto choice = [&]<typename Enum>(std::string_view field, Enum) {
    settings.push_back({field, K::choice, {}, RawValues<Enum>::values});
  };
  switch (info.settingsGroup) {
    case Group::none: break;
    case Group::webP:
      flag("isWebPLossless");
      settings.push_back({"webPLosslessLevel", K::wholeNumber, webPLosslessLevelRange});
      break;
    case Group::jpegXL:
      flag("isJPEGXLProgressive");
      choice("jpegXLGroupOrder", JPEGXLGroupOrder{});
      flag("isJPEGLosslessTranscode");
      break;
    case Group::avif:
      flag("isAVIFLossless");
      choice("avifDepth", AVIFDepth{});
      choice("avifChromaSubsampling", AVIFChromaSubsampling{});
      flag("isAVIFProgressive");
      break;
    case Group::jpegli:
      choice("chromaSubsampling", ChromaSubsampling{});
      settings.push_back({"progressiveLevel", K::wholeNumber, progressiveLevelRange});
      break;
    case Group::jpegTurbo:
      choice("chromaSubsampling", ChromaSubsampling{});
      flag("isJPEGTurboProgressive");
      flag("isJPEGTurboOptimized");
      break;
    case Group::libheif:
      flag("isHEIFLossless");
      choice("heifBitDepth", HEIFDepth{});
      break;
  }
  return settings;
}

}  // namespace quorlin
