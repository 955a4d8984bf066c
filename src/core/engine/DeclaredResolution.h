// The resolution an image file itself declares, read from the format's own
// fields: PNG pHYs (unit metre), JPEG EXIF resolution or else JFIF density,
// TIFF resolution tags, and the EXIF block other formats carry.
//
// The image reader reports a default when a file says nothing (72 dpi for a
// PNG without pHYs, 1 pixel per millimetre for TIFF, WebP and HEIF), so its
// figure alone cannot tell a real resolution from none. A resolution whose
// unit is "none" (aspect ratio only) is no resolution. Pure file reading; never
// throws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

namespace quorlin {

struct DeclaredResolution {
  double dpiWidth = 0;
  double dpiHeight = 0;
};

// `typeIdentifier` selects the format's own fields (public.png, public.jpeg,
// public.tiff); for other types only `exifBlock` is consulted: the EXIF data
// as libvips keeps it ("Exif\0\0" followed by a TIFF structure), may be empty.
std::optional<DeclaredResolution> readDeclaredResolution(const std::filesystem::path& file,
                                                         std::string_view typeIdentifier,
                                                         std::span<const std::uint8_t> exifBlock);

// The resolution in an EXIF block or a bare TIFF structure held in memory.
std::optional<DeclaredResolution> exifDeclaredResolution(std::span<const std::uint8_t> exifBlock);

}  // namespace quorlin
