// Content types: the uniform type identifiers ("public.png", "public.jpeg", ...)
// this system needs, with their conformance, file extensions and descriptions.
//
// One table holds every type. Lookups are pure and thread-safe. A type
// conforms to itself, to its parents and, transitively, to theirs; every
// image type conforms to "public.image" and "public.data".
//
// The image reader reports a file's type from the libvips loader that opened
// it (contentTypeForLoader); where the loader does not say (or nothing could
// open the file) the first bytes decide (detectContentType), and the file's
// extension is the last resort (contentTypeForExtension).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorlin {

namespace ContentTypeIdentifier {
inline constexpr std::string_view data = "public.data";
inline constexpr std::string_view image = "public.image";
inline constexpr std::string_view png = "public.png";
inline constexpr std::string_view jpeg = "public.jpeg";
inline constexpr std::string_view tiff = "public.tiff";
inline constexpr std::string_view gif = "com.compuserve.gif";
inline constexpr std::string_view bmp = "com.microsoft.bmp";
inline constexpr std::string_view webP = "org.webmproject.webp";
inline constexpr std::string_view heif = "public.heif";
inline constexpr std::string_view heic = "public.heic";
inline constexpr std::string_view avif = "public.avif";
inline constexpr std::string_view jpegXL = "public.jpeg-xl";
inline constexpr std::string_view jpeg2000 = "public.jpeg-2000";
inline constexpr std::string_view pnm = "public.pnm";
inline constexpr std::string_view pbm = "public.pbm";
inline constexpr std::string_view pgm = "public.pgm";
inline constexpr std::string_view ppm = "public.ppm";
inline constexpr std::string_view pam = "public.pam";
inline constexpr std::string_view pfm = "public.pfm";
inline constexpr std::string_view targa = "com.truevision.tga-image";
inline constexpr std::string_view openEXR = "com.ilm.openexr-image";
inline constexpr std::string_view radiance = "public.radiance";
inline constexpr std::string_view svg = "public.svg-image";
inline constexpr std::string_view pdf = "com.adobe.pdf";
}  // namespace ContentTypeIdentifier

struct ContentTypeInfo {
  std::string_view identifier;
  std::string_view description;                  // "PNG image"
  std::span<const std::string_view> extensions;  // lower case, preferred first
  std::span<const std::string_view> parents;     // direct conformance
};

// Every known type, most specific image formats first.
std::span<const ContentTypeInfo> allContentTypes();
const ContentTypeInfo* contentTypeInfo(std::string_view identifier);

// True when `type` is `parent` or conforms to it through the table. Unknown
// identifiers conform only to themselves.
bool contentTypeConforms(std::string_view type, std::string_view parent);

// The type for a file extension (without the dot, any case) conforming to
// "public.data", or nothing when no known type claims the extension.
std::optional<std::string_view> contentTypeForExtension(std::string_view extension);
std::optional<std::string_view> contentTypeForFile(const std::filesystem::path& file);

// The localized description ("PNG image"); nothing for an unknown identifier.
std::optional<std::string_view> localizedDescription(std::string_view identifier);

// The type announced by a file's first bytes (a few dozen suffice), or nothing.
std::optional<std::string_view> detectContentType(std::span<const std::uint8_t> leadingBytes);
// Reads the first bytes of `file`; nothing when it cannot be read or is unknown.
std::optional<std::string_view> detectContentType(const std::filesystem::path& file);

// The type of an image opened by the libvips loader `loader` ("pngload",
// "heifload_source", ...). `heifCompression` is heifload's "heif-compression"
// ("hevc", "av1", ...). Nothing for loaders that do not imply one format
// (ppmload, magickload, ...): ask detectContentType then.
std::optional<std::string_view> contentTypeForLoader(std::string_view loader,
                                                     std::string_view heifCompression = {});

}  // namespace quorlin
