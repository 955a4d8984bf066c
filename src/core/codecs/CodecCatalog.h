// The codec catalog: the ten codecs, their option enumerations and the one
// table that every other layer (argument building, decoding, panel views, the
// command line, tests) reads codec facts from. Add a row here rather than a
// switch elsewhere.
//
// Raw values are what settings signatures and status texts record; display
// names are what pickers show. All lookups are pure and thread-safe.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin {

enum class CompressionCodec {
  jpegXL,
  avif,
  webP,
  jpegli,
  heifLibheif,
  avifLibheif,
  jpeg2000Libheif,
  heif,
  jpegTurbo,
  jpeg,
};

// Which rate parameter a codec is driven by (and which one Target Score searches).
enum class RateParameterKind { distance, quality };

// A closed integer range.
struct IntegerRange {
  int lowerBound = 0;
  int upperBound = 0;
  bool contains(double value) const { return value >= lowerBound && value <= upperBound; }
  bool operator==(const IntegerRange&) const = default;
};

// The codec-specific settings a panel offers besides effort and the rate
// parameter. The three libheif codecs share one group.
enum class CodecSettingsGroup { none, jpegXL, avif, webP, jpegli, libheif, jpegTurbo };

// One row of the catalog.
struct CodecInfo {
  CompressionCodec codec;
  std::string_view rawValue;               // "JPEG XL", "HEIF", ...
  std::string_view displayName;            // raw value, or raw value + " (System)"
  std::string_view encoderTool;            // "cjxl", "heif-enc", ...; empty for the platform writer
  std::string_view encoderModeFlag;        // "--hevc", "--avif", "--jpeg2000" for heif-enc; else empty
  std::string_view decoderTool;            // "djxl", ...; empty for the platform reader
  std::string_view encodedFileExtension;   // "jxl", "avif", ...
  std::span<const std::string_view> directInputExtensions;    // lower-case, in table order
  std::span<const std::string_view> directInputContentTypes;  // type identifiers, in table order
  RateParameterKind rateParameter;
  std::string_view cliKey;                 // the command line's name: "jxl", "heif-libheif", ...
  CodecSettingsGroup settingsGroup;
  std::optional<IntegerRange> effortRange;  // the "Encoding Effort" row; none for codecs without one
  // The rate parameter values a rate–distortion sweep runs when the user gives
  // none, worst to best: about nine, spanning SSIMULACRA2 45–90 on the sample
  // photograph (WebP from 55: its quality scale loses little even at 30).
  std::span<const double> defaultLadder;
};

// All ten codecs in case order.
std::span<const CompressionCodec> allCompressionCodecs();
const CodecInfo& codecInfo(CompressionCodec codec);

std::string_view rawValue(CompressionCodec codec);
// Accepts exactly the ten raw values ("HEIF (System)" is a display name, not a raw value).
std::optional<CompressionCodec> compressionCodecFromRawValue(std::string_view raw);
std::string_view displayName(CompressionCodec codec);
std::string_view encodedFileExtension(CompressionCodec codec);
std::span<const std::string_view> directInputExtensions(CompressionCodec codec);
std::span<const std::string_view> directInputContentTypes(CompressionCodec codec);
// The content type a result of this codec is exported as (a type identifier such as
// "public.jpeg"); the type for the extension conforming to data, else "public.data".
std::string exportContentType(CompressionCodec codec);
std::span<const double> defaultLadder(CompressionCodec codec);
// True for the two codecs that use the in-process image writer and reader.
bool usesPlatformEncoder(CompressionCodec codec);
// True for the three codecs encoded by heif-enc.
bool isLibheifCodec(CompressionCodec codec);
// The codec whose command-line key is exactly `key`.
std::optional<CompressionCodec> compressionCodecFromCliKey(std::string_view key);

// ---- Option enumerations (string-backed; raw values enter the signature) ----

enum class ChromaSubsampling { automatic, fourFourFour, fourFourZero, fourTwoTwo, fourTwoZero };
enum class AVIFChromaSubsampling { automatic, fourFourFour, fourTwoTwo, fourTwoZero };
enum class AVIFDepth { automatic, eight, ten, twelve };
enum class HEIFDepth { automatic, eight, ten, twelve };
enum class JPEGXLGroupOrder { scanline, centerFirst };
enum class RateControlMode { manual, targetScore };

// Raw values: ChromaSubsampling "Auto" "444" "440" "422" "420"; AVIFChromaSubsampling
// "Auto" "444" "422" "420"; AVIFDepth/HEIFDepth "-" "8" "10" "12"; JPEGXLGroupOrder
// "Scanline" "Center"; RateControlMode "manual" "targetScore".
// (The "auto" cases are spelled `automatic` because `auto` is a C++ keyword.)
std::string_view rawValue(ChromaSubsampling value);
std::string_view rawValue(AVIFChromaSubsampling value);
std::string_view rawValue(AVIFDepth value);
std::string_view rawValue(HEIFDepth value);
std::string_view rawValue(JPEGXLGroupOrder value);
std::string_view rawValue(RateControlMode value);

// The case whose raw value is exactly `raw`, for CompressionCodec and every
// option enumeration above.
template <typename Enum>
std::optional<Enum> fromRawValue(std::string_view raw);
template <>
std::optional<CompressionCodec> fromRawValue<CompressionCodec>(std::string_view raw);
template <>
std::optional<ChromaSubsampling> fromRawValue<ChromaSubsampling>(std::string_view raw);
template <>
std::optional<AVIFChromaSubsampling> fromRawValue<AVIFChromaSubsampling>(std::string_view raw);
template <>
std::optional<AVIFDepth> fromRawValue<AVIFDepth>(std::string_view raw);
template <>
std::optional<HEIFDepth> fromRawValue<HEIFDepth>(std::string_view raw);
template <>
std::optional<JPEGXLGroupOrder> fromRawValue<JPEGXLGroupOrder>(std::string_view raw);
template <>
std::optional<RateControlMode> fromRawValue<RateControlMode>(std::string_view raw);

// All cases in case order (not offered for RateControlMode).
std::span<const ChromaSubsampling> allChromaSubsamplings();
// The four explicit subsamplings, without the automatic choice.
std::span<const ChromaSubsampling> explicitChromaSubsamplings();
std::span<const AVIFChromaSubsampling> allAVIFChromaSubsamplings();
std::span<const AVIFDepth> allAVIFDepths();
std::span<const HEIFDepth> allHEIFDepths();
std::span<const JPEGXLGroupOrder> allJPEGXLGroupOrders();

// ---- Panel settings: what a panel offers for its codec ----

inline constexpr IntegerRange qualityRange{1, 100};
inline constexpr IntegerRange distanceRange{0, 25};
inline constexpr IntegerRange webPLosslessLevelRange{0, 9};
inline constexpr IntegerRange progressiveLevelRange{0, 2};

enum class PanelSettingKind { wholeNumber, number, flag, choice };

struct PanelSetting {
  std::string_view field;                       // the CodecPanel member it sets, as the command line names it
  PanelSettingKind kind;
  IntegerRange range{};                         // wholeNumber and number
  std::span<const std::string_view> choices{};  // choice: the raw values, in picker order
};

// The settings a panel for this codec shows in Set Quality mode, in panel
// order: effort where the codec has it, the rate parameter, then its group's
// own. The panel view and the command line both offer exactly these.
std::vector<PanelSetting> panelSettings(CompressionCodec codec);

}  // namespace quorlin
