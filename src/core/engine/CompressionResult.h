// CompressionResult: one successful panel run. It owns its work directory:
// whoever replaces or discards the result deletes it (removeWorkDirectory).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/common/Uuid.h"
#include "core/codecs/CodecCatalog.h"
#include "core/engine/DisplayImage.h"

namespace quorlin {

struct CompressionResult {
  Uuid id;
  CompressionCodec codec = CompressionCodec::jpegXL;
  std::filesystem::path workDirectory;
  std::filesystem::path encodedURL;
  std::filesystem::path decodedURL;
  std::int64_t encodedSize = 0;            // bytes; 0 when unreadable
  DisplayImage decodedImage;
  double ssimulacra2Score = 0;
  // Where the score was lost: ssimulacra2's --map file ("-error-map.pfm" in
  // the work directory); absent when the installed ssimulacra2 writes none.
  std::optional<std::filesystem::path> errorMapURL;
  double encodeDuration = 0;               // seconds, wall clock
  double decodeDuration = 0;               // seconds, wall clock
  std::string commandLine;                 // settings only, never a path
  std::vector<std::string> encodedMetadataLines;
  std::string settingsSignature;
  std::optional<int> foundQuality;         // set only by the target search
  std::optional<double> foundDistance;     // set only by the target search

  // Deletes workDirectory recursively; failures are ignored.
  void removeWorkDirectory() const;
};

// "Quality N", "Distance D", or nothing when the search set neither.
std::optional<std::string> foundParameterLabel(const CompressionResult& result);

}  // namespace quorlin
