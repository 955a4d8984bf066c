// PreparedCompressionSource: the user's source plus its private directory
// holding "source.png", the lossless 16-bit rendering every encoder that cannot
// read the original is given and every score is measured against.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/engine/CodecCatalog.h"
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

}  // namespace quorlin
