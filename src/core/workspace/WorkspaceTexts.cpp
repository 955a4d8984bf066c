#include "core/workspace/WorkspaceTexts.h"

#include "core/common/PlatformTexts.h"

namespace quorlin::WorkspaceTexts {

namespace {

std::string joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (auto part : parts) text += part;
  return text;
}

}  // namespace

std::string loaded(std::string_view fileName) { return joined({"Loaded ", fileName, "."}); }

std::string couldNotLoad(std::string_view fileName) { return joined({"Could not load ", fileName, "."}); }

std::string loadErrorAlert(std::string_view fileName) {
  return joined({"\u201C", fileName, "\u201D could not be read as an image. ", platformTexts().chooseSupportedImage});
}

std::string encodingCodec(std::string_view codecName) { return joined({"Encoding ", codecName, "..."}); }

std::string generated(std::string_view codecName, std::string_view sizeText) {
  return joined({"Generated ", codecName, ": ", sizeText, "."});
}

std::string failed(std::string_view codecName, const std::optional<std::string>& message) {
  return joined({codecName, " failed: ", message ? std::string_view(*message) : std::string_view("Unknown error")});
}

std::string exported(std::string_view fileName) { return joined({"Exported ", fileName, "."}); }

std::string exportFailed(std::string_view description) { return joined({"Export failed: ", description}); }

std::string metadataTitle(std::string_view codecName) { return joined({codecName, " Metadata"}); }

}  // namespace quorlin::WorkspaceTexts
