#include "core/workspace/CodecPanelPresentation.h"

#include <algorithm>
#include <cmath>

#include "core/common/ByteCount.h"
#include "core/common/PlatformTexts.h"
#include "core/engine/FixedNotation.h"
#include "core/engine/ResultTexts.h"

namespace quorlin {

namespace {

bool isDistanceDriven(CompressionCodec codec) {
  return codecInfo(codec).rateParameter == RateParameterKind::distance;
}

bool isManual(const CodecPanel& panel) { return panel.rateControlMode == RateControlMode::manual; }

}  // namespace

std::optional<IntegerRange> effortRange(CompressionCodec codec) { return codecInfo(codec).effortRange; }

std::string_view effortTooltip(CompressionCodec codec) {
  switch (codec) {
    case CompressionCodec::jpegXL:
      return "JPEG XL encoder effort (cjxl --effort, 1–10). Higher effort spends more time optimizing for a "
             "smaller file.";
    case CompressionCodec::avif:
      return "AVIF effort, mapped to avifenc --speed as (10 − effort). Higher effort spends more time optimizing "
             "for a smaller file.";
    case CompressionCodec::webP:
      return "WebP compression method (cwebp -m, 0–6). Higher values encode more slowly and compress better.";
    default: return {};
  }
}

RateParameterRow rateParameterRow(const CodecPanel& panel) {
  if (!isManual(panel)) return RateParameterRow::searchCaption;
  return isDistanceDriven(panel.codec) ? RateParameterRow::distanceSlider : RateParameterRow::qualitySlider;
}

std::string_view searchCaption(CompressionCodec codec) {
  return isDistanceDriven(codec) ? CodecPanelTexts::distanceSearched : CodecPanelTexts::qualitySearched;
}

std::string_view rateParameterTooltip(CompressionCodec codec) {
  switch (codec) {
    case CompressionCodec::jpegXL:
      return "Butteraugli distance (cjxl --distance). 0 is mathematically lossless and ~1.0 is visually lossless. "
             "Lower distance means higher quality and larger files.";
    case CompressionCodec::jpegli:
      return "Butteraugli distance (cjpegli --distance). ~1.0 is visually lossless. Lower distance means higher "
             "quality and larger files.";
    case CompressionCodec::avif:
      return "AVIF quality (avifenc --qcolor, 0–100). Higher values keep more detail and produce larger files.";
    case CompressionCodec::webP:
      return "WebP quality (cwebp -q, 0–100). Higher values keep more detail and produce larger files.";
    case CompressionCodec::heifLibheif:
      return "HEIF quality (heif-enc -q, 0–100). Higher values keep more detail and produce larger files.";
    case CompressionCodec::avifLibheif:
      return "AVIF quality via libheif (heif-enc --avif -q, 0–100). Higher values keep more detail and produce "
             "larger files.";
    case CompressionCodec::jpeg2000Libheif:
      return "JPEG 2000 quality via libheif (heif-enc --jpeg2000 -q, 0–100). Higher values keep more detail and "
             "produce larger files.";
    case CompressionCodec::heif:
      return platformTexts().systemHEIFQualityTooltip;
    case CompressionCodec::jpegTurbo:
      return "JPEG quality (cjpeg -quality, 0–100). Higher values keep more detail and produce larger files.";
    case CompressionCodec::jpeg:
      return platformTexts().systemJPEGQualityTooltip;
  }
  return {};
}

bool showsLosslessToggle(const CodecPanel& panel) {
  if (!isManual(panel)) return false;
  return panel.codec == CompressionCodec::webP || panel.codec == CompressionCodec::avif ||
         isLibheifCodec(panel.codec);
}

bool showsLosslessJPEGTranscodeToggle(const CodecPanel& panel) {
  return isManual(panel) && panel.codec == CompressionCodec::jpegXL;
}

double distanceSliderOpacity(const CodecPanel& panel) {
  return panel.codec == CompressionCodec::jpegXL ? jpegXLProgressiveOpacity(panel) : 1.0;
}

double jpegXLProgressiveOpacity(const CodecPanel& panel) {
  return panel.isJPEGLosslessTranscode ? dimmedOpacity : 1.0;
}

std::string_view groupOrderDescription(JPEGXLGroupOrder order) {
  return order == JPEGXLGroupOrder::centerFirst ? CodecPanelTexts::centerOrderDescription
                                                : CodecPanelTexts::scanlineOrderDescription;
}

double distanceSliderPosition(double distance) {
  if (distance > maximumSliderDistance) return 1.0;
  // Also maps NaN to the left end rather than into the slider's arithmetic.
  if (!(distance > 0.0)) return 0.0;
  return std::sqrt(distance / maximumSliderDistance);
}

double distanceForSliderPosition(double position) {
  double p = std::clamp(position, 0.0, 1.0);
  if (std::isnan(position)) p = 0.0;
  return std::round(p * p * maximumSliderDistance * 20.0) / 20.0;
}

std::string distanceValueText(double distance, CompressionCodec codec) {
  if (codec == CompressionCodec::jpegXL && distance == 0.0) return "0.0 mathematically lossless";
  if (isDistanceDriven(codec) && distance <= 1.0) return fixedNotation(distance, 2) + " visually lossless";
  return fixedNotation(distance, 1);
}

std::vector<ResultMetricRow> resultMetricRows(const CodecPanel& panel, std::int64_t sourceFileSize,
                                              std::optional<std::int64_t> sourcePixelCount) {
  if (!panel.result) return {};
  const CompressionResult& result = *panel.result;
  std::vector<ResultMetricRow> rows{
      {"File Size", formatByteCount(result.encodedSize), ResultEmphasis::strong},
      {"Savings", savingsText(result.encodedSize, sourceFileSize)},
      {"Encode Time", durationText(result.encodeDuration)},
      {"Decode Speed", decodeSpeedText(sourcePixelCount, result.decodeDuration)},
      {"Bits Per Pixel", bitsPerPixelText(result.encodedSize, sourcePixelCount)},
      {"SSIMULACRA2", scoreText(result.ssimulacra2Score), ResultEmphasis::strong},
      {"Compression", compressionModeLabel(panel)},
  };
  if (auto search = searchResultText(result, panel.targetScore)) {
    // The same test as the text's " not reachable" suffix.
    const bool reached = !(result.ssimulacra2Score < panel.targetScore - 0.5);
    rows.push_back({"Search Result", *search, reached ? ResultEmphasis::strong : ResultEmphasis::warning});
  }
  return rows;
}

}  // namespace quorlin
