#include "core/engine/DisplayImageReader.h"

#include "core/engine/ImageDecoding.h"

namespace quorlin {

std::optional<DisplayImage> readDisplayImage(const std::filesystem::path& file, const ColorSpaceRef& colorSpace,
                                             std::optional<double> contentHeadroom) {
  auto decoded = decodeImageFile(file, colorSpace);
  if (!decoded) return std::nullopt;
  DisplayImage display;
  display.displaySize = {static_cast<double>(decoded->width()), static_cast<double>(decoded->height())};
  display.image = std::move(decoded);
  display.contentHeadroom = contentHeadroom;
  return display;
}

std::optional<std::string> imageHeaderRefusal(const std::filesystem::path& file) {
  if (readImageHeader(file)) return std::nullopt;
  return imageRejectionReason();
}

}  // namespace quorlin
