// Opening and decoding image files with libvips, shared by the display reader,
// the source metadata reader, source preparation and the PPM writer. Engine
// internal: it exposes libvips types.
//
// Every decode passes the same guards, checked before any pixel is decoded:
//   - the path is a readable, non-empty regular file (not a directory);
//   - some loader recognises its content (never its name);
//   - at most maximumDecodedPixelCount() pixels are declared, and a PNG or
//     JPEG holds at least the bytes its declared size needs (see
//     DeclaredImageSize.h), which stops decompression bombs;
//   - truncated data is a failure, never a partly grey picture;
//   - the output buffer is allocated untouched, so a file that fails midway
//     never costs more memory than what was decoded.
// A decode returns RGB or RGBA samples in compact form (8-bit sources stay
// uint8, 16-bit uint16, float and HDR float32), orientation applied.
//
// All functions are thread-safe, block, and never throw for a bad file. A
// failed read leaves its reason for imageRejectionReason() on the same thread.
#pragma once

#include <vips/vips8>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/common/DeclaredImageSize.h"
#include "core/engine/DisplayImage.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/PNGColour.h"

namespace quorlin {

// libvips' text of the failure that just happened (trimmed, at most a few
// lines), clearing its log; `fallback` when it has none. For callers that
// catch vips::VError themselves.
std::string takeVipsErrorText(std::string_view fallback = {});

struct ImageFileHeader {
  vips::VImage image;                         // pixels decoded on demand, top to bottom
  std::string loader;                         // "pngload", "heifload", ...
  std::optional<std::string> typeIdentifier;  // the reader's type: loader, refined by content
  // For PNG files: their colour chunks as the scorer reads them (libvips
  // reads only iCCP), which decide what the samples mean.
  std::optional<PNGColourDescription> pngColour;
  // For AVIF and HEIF files without an ICC profile: the space their nclx
  // colour description names (libvips ignores it), null when it names none.
  ColorSpaceRef nclxColour;
};

// Opens `file` and reads its header only. Nothing when it is not a readable
// regular file or no loader recognises it. No size limits apply (nothing is
// decoded), so metadata of very large images can still be read; the limits
// are checked by decodeLimitRefusal.
std::optional<ImageFileHeader> readImageHeader(const std::filesystem::path& file);

// Decodes `file` into RGB(A). With `interpretAs` (an RGB space) the pixel
// values are taken as values of that space whatever the file declares (grey is
// repeated into R, G and B); without it, RGB pixels keep the file's own space
// (for PNG: cICP, iCCP, sRGB, gAMA/cHRM in the scorer's order; elsewhere the
// ICC profile, then an AVIF/HEIF nclx description; plain sRGB when untagged, linear sRGB for untagged scRGB
// floats). Grey pixels without a grey profile are repeated into R, G and B
// unchanged, in the file's own space. Grey pixels with a grey profile and CMYK
// pixels are converted into sRGB (uint16), Lab into linear sRGB (float32,
// unclipped). Nothing on any failure.
// `header`, when given, receives the header of the decoded file.
std::shared_ptr<const DecodedImage> decodeImageFile(const std::filesystem::path& file,
                                                    const ColorSpaceRef& interpretAs,
                                                    ImageFileHeader* header = nullptr);

// How a file's pixels are laid out, as the reader names them: the colour model
// and whether one band more than the model needs (alpha) is present.
enum class PixelModel { rgb, gray, cmyk, lab };
struct PixelLayout {
  PixelModel model = PixelModel::rgb;
  bool hasAlpha = false;
};
PixelLayout pixelLayoutOf(const vips::VImage& image);

// A decode that can be streamed straight into a writer: RGB pixels without
// alpha that need neither turning nor a colour conversion (most photographs).
// The pixels are decoded as the writer pulls them, top to bottom, so neither
// the whole source nor its 16-bit copy is ever held in memory. A truncated
// file fails the write.
struct StreamingDecode {
  vips::VImage pixels;        // 3 bands, uchar, ushort or float
  SampleFormat format;
  ColorSpaceRef colorSpace;   // as decodeImageFile would report it
};
// Nothing when the file cannot be streamed that way or is unreadable (then
// decodeImageFile decides).
std::optional<StreamingDecode> planStreamingDecode(const std::filesystem::path& file,
                                                   ImageFileHeader* header = nullptr);

// Why `header` (of `file`) must not be decoded: over the pixel limit, or a
// PNG or JPEG too small for its declared size. Nothing when it may be.
std::optional<std::string> decodeLimitRefusal(const ImageFileHeader& header, const std::filesystem::path& file);
// Whether decoding gives exactly the file's own samples, in its own colour
// description: one frame of integer RGB or grey samples (not indexed), no
// colour conversion, and a description every encoder reads (none, sRGB or an
// ICC profile; PNG gAMA, cHRM or cICP are not). Orientation is not considered.
bool decodesToOwnSamples(const ImageFileHeader& header);

// Wraps the samples of `image` (no copy; `image` must outlive the result).
vips::VImage vipsImageOf(const DecodedImage& image);

// The content headroom of float linear-light samples (OpenEXR, float TIFF) that
// reach above reference white: the brightest colour sample, at most what PQ
// holds (10000 / 203). Nothing for other images or when every sample is at most 1.
std::optional<double> extendedRangeHeadroom(const vips::VImage& image, const ColorSpaceRef& space);

}  // namespace quorlin
