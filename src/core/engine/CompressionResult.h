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

// One probe of the Target Score search that made a result, as numbers only
// (its files are gone): a point of the panel's rate–distortion curve for free.
struct SearchProbePoint {
  double parameter = 0;  // the quality or distance it was encoded with
  std::int64_t encodedSize = 0;
  double ssimulacra2Score = 0;
  double encodeDuration = 0;
  double decodeDuration = 0;
  std::string commandLine;
};

struct CompressionResult {
  Uuid id;
  CompressionCodec codec = CompressionCodec::jpegXL;
  std::filesystem::path workDirectory;
  std::filesystem::path encodedURL;
  std::filesystem::path decodedURL;
  std::int64_t encodedSize = 0;            // bytes; 0 when unreadable
  DisplayImage decodedImage;
  double ssimulacra2Score = 0;
  // The decoder's PNG said nothing about its colours and was given the
  // prepared source's profile before it was read and scored.
  bool scoredWithSourceProfile = false;
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
  std::vector<SearchProbePoint> searchProbes;  // set only by the target search, in probe order

  // Deletes workDirectory recursively; failures are ignored.
  void removeWorkDirectory() const;
};

// "Quality N", "Distance D", or nothing when the search set neither.
std::optional<std::string> foundParameterLabel(const CompressionResult& result);

}  // namespace quorlin
