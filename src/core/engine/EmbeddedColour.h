// Colour facts that libvips reads from no file of these formats, read with the
// formats' own libraries: the nclx colour description of an AVIF or HEIF file
// (libheif; libvips ignores it and reports no profile) and the intensity
// target of a JPEG XL file (libjxl), the peak its HDR content is graded for.
//
// Both read the header only, never throw, and are thread-safe.
#pragma once

#include <filesystem>
#include <optional>

namespace quorlin {

// ITU-T H.273 code points.
struct CICPDescription {
  int primaries = 2;
  int transfer = 2;
  int matrix = 2;
  bool fullRange = true;
};

// The nclx description of the primary image of an AVIF/HEIF file; nothing when
// it has none or the file cannot be read. The caller decides precedence: the
// format says an ICC profile, when present, wins over nclx.
std::optional<CICPDescription> readHEIFNCLXDescription(const std::filesystem::path& file);

// The intensity target in nits a JPEG XL file states, when it states one:
// libjxl's default (255) means none was given, as jxlinfo treats it.
std::optional<double> readJPEGXLIntensityTarget(const std::filesystem::path& file);

}  // namespace quorlin
