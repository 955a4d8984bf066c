#include "core/engine/CodecAvailability.h"

#include <algorithm>
#include <span>
#include <vector>

#include "core/tools/ToolVersionRules.h"

namespace quorlin {

namespace {

std::string withoutFinalStop(std::string text) {
  if (text.ends_with('.')) text.pop_back();
  return text;
}

// Each designed default codec, then the codecs that may stand in for it.
std::span<const CompressionCodec> familyOf(CompressionCodec codec) {
  static constexpr CompressionCodec jpegFamily[] = {CompressionCodec::jpegli, CompressionCodec::jpegTurbo,
                                                    CompressionCodec::jpeg};
  static constexpr CompressionCodec avifFamily[] = {CompressionCodec::avif, CompressionCodec::avifLibheif};
  switch (codec) {
    case CompressionCodec::jpegli:
      return jpegFamily;
    case CompressionCodec::avif:
      return avifFamily;
    default:
      return {};
  }
}

}  // namespace

std::optional<std::string> codecUnavailableReason(CompressionCodec codec, const EngineContext& context) {
  const CodecInfo& info = codecInfo(codec);
  const std::vector<std::string> directories = context.searchPath.toolSearchDirectories();
  for (std::string_view tool : {info.encoderTool, info.decoderTool}) {
    if (tool.empty()) continue;
    if (!locateTool(context.executables, tool, directories)) return std::string(tool) + " not installed";
  }
  if (codec == CompressionCodec::jpeg2000Libheif) {
    const std::optional<ToolVersion> version = context.installedVersion(info.encoderTool);
    if (!heifEncSupportsJPEG2000(version)) {
      return withoutFinalStop(
          fillVersion(toolVersionRule(ToolRuleId::heifEncoderJPEG2000).limitation, version ? version->text() : "?"));
    }
  }
  return std::nullopt;
}

std::vector<CodecPanel> makeDefaultPanels(const CodecUnavailableReason& unavailableReason) {
  return makeDefaultPanels(unavailableReason, {});
}

std::vector<CodecPanel> makeDefaultPanels(const CodecUnavailableReason& unavailableReason,
                                          std::string_view hdrTransfer) {
  static constexpr CompressionCodec hdrStandIns[] = {CompressionCodec::heifLibheif, CompressionCodec::avifLibheif,
                                                     CompressionCodec::heif};
  std::vector<CodecPanel> panels = makeDefaultPanels();
  auto isTaken = [&panels](CompressionCodec codec) {
    return std::any_of(panels.begin(), panels.end(), [codec](const CodecPanel& panel) { return panel.codec == codec; });
  };
  auto cannotRun = [&](CompressionCodec codec) {
    return unavailableReason(codec).has_value() || hdrRefusal(codec, hdrTransfer).has_value();
  };
  for (CodecPanel& panel : panels) {
    if (!cannotRun(panel.codec)) continue;
    std::vector<CompressionCodec> standIns(familyOf(panel.codec).begin(), familyOf(panel.codec).end());
    if (!hdrTransfer.empty()) standIns.insert(standIns.end(), std::begin(hdrStandIns), std::end(hdrStandIns));
    for (CompressionCodec standIn : standIns) {
      if (standIn == panel.codec || isTaken(standIn) || cannotRun(standIn)) continue;
      panel.selectCodec(standIn);
      break;
    }
  }
  return panels;
}

}  // namespace quorlin
