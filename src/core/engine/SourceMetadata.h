// SourceImageMetadata: the specs of a source file as the image reader reports
// them, and the texts the source block and the specs panel show. Reading
// blocks (header only, no pixels) and may run on any thread; the texts are pure.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/DisplayImage.h"

namespace quorlin {

struct SourceImageMetadata {
  int pixelWidth = 0;
  int pixelHeight = 0;
  std::optional<std::string> formatDescription;   // "PNG image", ...
  std::optional<int> bitDepth;                    // bits per component
  std::optional<std::string> colorModel;          // "RGB", "Gray", "CMYK"
  // The ICC description tag, or the space a PNG cICP chunk or an AVIF/HEIF
  // nclx box names ("ITU-R BT.2100 PQ", "Display P3", ...).
  std::optional<std::string> colorProfileName;
  // HDR (PQ and HLG) sources only: the peak the content is graded for over
  // reference white: a JPEG XL intensity target / 100 (at least 1, as for
  // results), else the transfer's nominal peak / 203 nits (PQ 49.3, HLG 4.9).
  // Linear float sources reaching above reference white: their peak (they
  // are prepared as PQ).
  std::optional<double> contentHeadroom;
  std::optional<bool> hasAlpha;
  std::optional<int> orientation;                 // EXIF code 1-8, before autorotation
  std::optional<double> dpiWidth;
  std::optional<double> dpiHeight;
  bool isJPEG = false;
};

// Never fails: fills what it can; width and height fall back to `fallbackSize`
// rounded to the nearest integer.
SourceImageMetadata readSourceImageMetadata(const std::filesystem::path& file, PixelSize fallbackSize);

// The transfer the prepared source carries: "PQ" or "HLG" for a source with a
// content headroom, empty otherwise.
std::string_view hdrTransferName(const SourceImageMetadata& metadata);

// The type identifier the image reader reports for `file` ("public.png"): the
// format of the loader that opens it, refined by its first bytes; nothing when
// no loader opens it. Reads the header only.
std::optional<std::string> imageReaderTypeIdentifier(const std::filesystem::path& file);

// Whether the file is a JPEG. A type identifier known to the content-type
// table decides by itself (so a PNG named .jpg is not a JPEG); without one, or
// with an unknown one, the type for the file's extension decides.
bool isJPEGSource(const std::optional<std::string>& typeIdentifier, const std::filesystem::path& file);

// "4032 x 3024 px  |  8-bit  |  Display P3  |  2.35 MB"; HDR sources add their
// headroom after the space: "... |  ITU-R BT.2100 PQ, headroom 10.0  |  ..."
std::string summaryLine(const SourceImageMetadata& metadata, std::int64_t fileSize);
// "File Size: ...", "Dimensions: ...", ... in their fixed order, optional lines
// omitted; "Content Headroom: 10.0" follows "Color Profile:" for HDR sources.
std::vector<std::string> specLines(const SourceImageMetadata& metadata, std::int64_t fileSize);
// "72", "300 x 72", or nothing unless both DPI values are known.
std::optional<std::string> dpiText(const SourceImageMetadata& metadata);

}  // namespace quorlin
