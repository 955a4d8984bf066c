// PreparedCompressionSource: the user's source plus its private directory
// holding "source.png", the lossless 16-bit rendering every encoder that cannot
// read the original is given and every score is measured against.
//
// prepareSource blocks (decoding and writing a large image takes a moment) and
// may run on any thread; a prepared source is read-only afterwards, so panels
// running at once may share it. Each prepared source owns its directory.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/codecs/CodecCatalog.h"
#include "core/engine/DisplayImage.h"

namespace quorlin {

struct PreparedCompressionSource {
  std::filesystem::path sourceURL;          // never modified
  std::filesystem::path preparedURL;        // temporaryDirectory / "source.png"
  std::optional<std::string> sourceContentType;  // type identifier, e.g. "public.png"
  DisplayMetadata displayMetadata;          // source colour space; no headroom
  std::filesystem::path temporaryDirectory;

  // The file the codec's encoder reads: the source itself when it is a direct
  // input for the codec (by lower-cased extension or content type), else
  // preparedURL; always preparedURL for the two platform codecs.
  std::filesystem::path encoderInputURL(CompressionCodec codec) const;

  // Deletes temporaryDirectory; failures are ignored.
  void removeTemporaryDirectory() const;
};

// Makes a new UUID-named directory under `temporaryRoot` (0700, parents
// created) and writes "source.png" there: the source decoded with its
// orientation applied, in its own RGB colour space (grey, CMYK and Lab sources
// in linear sRGB), 16 bits per sample, RGBA only when some pixel is not opaque
// (see PreparedPNGWriter.h). `displayMetadata.colorSpace` is that space.
//
// Throws CompressionError::unreadableImage naming `sourceURL` when the source
// cannot be decoded or encoded, std::filesystem::filesystem_error when the
// directory or the file cannot be written; the directory is gone by then.
PreparedCompressionSource prepareSource(const std::filesystem::path& sourceURL,
                                        const std::filesystem::path& temporaryRoot);

// The same from an image already decoded from `sourceURL` by readDisplayImage
// with neither colour space nor headroom (the workspace keeps one since it
// loaded the source), so the source is not decoded again for every pass.
PreparedCompressionSource prepareSource(const std::filesystem::path& sourceURL,
                                        const std::filesystem::path& temporaryRoot,
                                        std::shared_ptr<const DecodedImage> decodedSource);

}  // namespace quorlin
