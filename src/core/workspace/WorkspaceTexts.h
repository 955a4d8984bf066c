// The workspace's status line and alert texts, exactly as the user sees them.
// Finished steps end with a full stop, work in progress with three dots;
// codecs are named by their raw value ("JPEG XL").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorlin::WorkspaceTexts {

inline constexpr std::string_view chooseAnImage = "Choose an image to begin.";
inline constexpr std::string_view encodingAllPanels = "Encoding all panels...";
inline constexpr std::string_view regeneratingChangedPanels = "Regenerating changed panels...";
inline constexpr std::string_view stopped = "Stopped.";
inline constexpr std::string_view unreadableDrop = "Could not read the dropped item.";
inline constexpr std::string_view unreadableDropAlert =
    "The dropped item could not be read as a file. Drop a still image file, such as PNG, JPEG, TIFF, or HEIC.";
inline constexpr std::string_view loadErrorAlertTitle = "Couldn't Open Image";
inline constexpr std::string_view exifToolFailed = "ExifTool Failed";

// "Loaded NAME."
std::string loaded(std::string_view fileName);
// "Could not load NAME."
std::string couldNotLoad(std::string_view fileName);
// "“NAME” could not be read as an image. Choose a still image in a format ..."
std::string loadErrorAlert(std::string_view fileName);
// "Encoding CODEC..."
std::string encodingCodec(std::string_view codecName);
// "Generated CODEC: SIZE."
std::string generated(std::string_view codecName, std::string_view sizeText);
// "CODEC failed: MESSAGE", or "CODEC failed: Unknown error" without a message.
std::string failed(std::string_view codecName, const std::optional<std::string>& message);
// "Exported NAME."
std::string exported(std::string_view fileName);
// "Export failed: DESCRIPTION"
std::string exportFailed(std::string_view description);
// "CODEC Metadata"
std::string metadataTitle(std::string_view codecName);

}  // namespace quorlin::WorkspaceTexts
