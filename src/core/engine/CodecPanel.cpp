#include "core/engine/CodecPanel.h"

#include <cmath>

#include "core/engine/FixedNotation.h"

namespace quorlin {

namespace {

std::string boolText(bool value) { return value ? "true" : "false"; }

CodecPanel defaultPanel(CompressionCodec codec, int quality, int effort) {
  CodecPanel panel;
  panel.codec = codec;
  panel.quality = quality;
  panel.effort = effort;
  return panel;
}

}  // namespace

std::string CodecPanel::settingsSignature() const {
  std::string signature;
  auto add = [&signature](std::string_view name, std::string_view value) {
    signature += '|';
    signature += name;
    signature += '=';
    signature += value;
  };
  signature += rawValue(codec);
  add("effort", std::to_string(effort));
  add("jpegliChroma", rawValue(chromaSubsampling));
  add("progressive", std::to_string(progressiveLevel));
  add("avifDepth", rawValue(avifDepth));
  add("avifChroma", rawValue(avifChromaSubsampling));
  add("avifProgressive", boolText(isAVIFProgressive));
  add("heifDepth", rawValue(heifBitDepth));
  add("jpegTurboProgressive", boolText(isJPEGTurboProgressive));
  add("jpegTurboOptimize", boolText(isJPEGTurboOptimized));
  add("jxlProgressive", boolText(isJPEGXLProgressive));
  add("jxlGroupOrder", rawValue(jpegXLGroupOrder));
  if (rateControlMode == RateControlMode::manual) {
    add("mode", "manual");
    add("quality", std::to_string(quality));
    add("distance", formatDistance(distance));
    add("webpLossless", boolText(isWebPLossless));
    add("webpZ", std::to_string(webPLosslessLevel));
    add("avifLossless", boolText(isAVIFLossless));
    add("heifLossless", boolText(isHEIFLossless));
    add("jxlLosslessJPEG", boolText(isJPEGLosslessTranscode));
  } else {
    // The search picks the rate parameter, so only the target identifies the settings.
    add("mode", "target");
    add("target", fixedNotation(targetScore, 1));
  }
  return signature;
}

bool CodecPanel::needsRegeneration() const {
  return result.has_value() && (wasStopped || result->settingsSignature != settingsSignature());
}

void CodecPanel::selectCodec(CompressionCodec newCodec) {
  codec = newCodec;
  result.reset();
  errorMessage.reset();
  if (newCodec == CompressionCodec::jpegXL) {
    // Distances far above JPEG XL's useful range come from another codec's use.
    if (distance > 25.0) distance = 1.0;
  } else {
    isJPEGLosslessTranscode = false;
  }
}

std::vector<CodecPanel> makeDefaultPanels() {
  return {defaultPanel(CompressionCodec::jpegXL, 85, 7), defaultPanel(CompressionCodec::avif, 79, 6),
          defaultPanel(CompressionCodec::webP, 85, 5), defaultPanel(CompressionCodec::jpegli, 82, 5)};
}

std::string compressionModeLabel(const CodecPanel& panel) {
  if (panel.rateControlMode == RateControlMode::targetScore) return "lossy";
  switch (panel.codec) {
    case CompressionCodec::jpegXL:
      if (panel.isJPEGLosslessTranscode) return "lossless JPEG transcode";
      return panel.distance <= 0.0001 ? "lossless" : "lossy";
    case CompressionCodec::avif:
      return panel.isAVIFLossless ? "lossless" : "lossy";
    case CompressionCodec::webP:
      return panel.isWebPLossless ? "lossless" : "lossy";
    case CompressionCodec::heifLibheif:
    case CompressionCodec::avifLibheif:
    case CompressionCodec::jpeg2000Libheif:
      return panel.isHEIFLossless ? "lossless" : "lossy";
    default:
      return "lossy";
  }
}

std::string formatDistance(double distance) {
  // std::round rounds halves away from zero; the product is taken in double
  // precision, so 1.005 (stored just below) gives 100.49999... and then "1".
  double hundredths = std::round(distance * 100.0);
  if (hundredths == 0.0) hundredths = 0.0;  // no "-0"
  double rounded = hundredths / 100.0;
  if (rounded == std::floor(rounded)) return fixedNotation(rounded, 0);
  std::string text = fixedNotation(rounded, 2);
  while (text.ends_with('0')) text.pop_back();
  if (text.ends_with('.')) text.pop_back();
  return text;
}

}  // namespace quorlin
