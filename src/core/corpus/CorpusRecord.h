// One line of a corpus results file: one work unit (one image, one panel, one
// point), written as a single JSON object on one line.
//
// A unit is known by its key: the image's SHA-256, the settings signature of
// the panel at that point and the setting (the quality or distance, or the
// target score of a search), so a resumed run recognises it whatever the
// image's path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorlin {

struct CorpusRecord {
  std::string image;        // the name relative to its input
  std::string path;         // absolute
  std::string imageSha256;
  std::int64_t width = 0;
  std::int64_t height = 0;
  int panel = 1;            // numbered from 1
  std::string codec;        // "WebP"
  std::string signature;    // the planned unit's settings signature
  double setting = 0;       // quality or distance; a search: its target score
  bool isTarget = false;    // the unit is a target-score search
  std::optional<double> foundSetting;  // a search: the value it chose
  std::string tool;         // "cwebp"
  std::string toolVersion;
  std::int64_t encodedSize = 0;
  std::optional<double> bitsPerPixel;
  std::optional<double> ssimulacra2;
  double encodeSeconds = 0;
  double decodeSeconds = 0;
  bool isOk = false;
  std::string error;
  std::string host;

  std::string key() const;
};

std::string unitKey(std::string_view imageSha256, std::string_view signature, double setting);

// One line, ending in '\n'.
std::string recordLine(const CorpusRecord& record);
// Nothing when `line` is no complete record.
std::optional<CorpusRecord> parseRecordLine(std::string_view line);

// Shortest text that reads back as the same number ("85", "1.5").
std::string numberText(double value);

}  // namespace quorlin
