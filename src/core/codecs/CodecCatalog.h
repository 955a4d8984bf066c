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

}  // namespace quorlin
