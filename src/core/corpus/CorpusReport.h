// The report of a corpus run: the records of every results file of one or
// more run folders (the shards of a run) merged, each image's curves and its
// Bjøntegaard deltas of every panel against the anchor, and per panel the
// BD-rate over the images (mean, median, geometric mean) with the images left
// out and why.
//
// Records are merged by unit key, the first one read winning, so shards that
// overlap (a run resharded half way) count each unit once; timings and host
// names are not part of the report, so N shards report exactly what one
// unsharded run does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/corpus/CorpusRecord.h"
#include "core/ratedistortion/RateDistortionCurve.h"

namespace quorlin {

struct CorpusPanelCurve {
  std::vector<CorpusRecord> records;  // ok units, by setting
  std::size_t failedUnits = 0;
  RateDistortionCurve curve;          // bits per pixel against SSIMULACRA2
};

struct CorpusImageRow {
  std::string image;
  std::string imageSha256;
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::map<int, CorpusPanelCurve> panels;           // by panel number
  std::map<int, BjontegaardDelta> bdRate;           // every panel but the anchor
  std::map<int, BjontegaardDelta> bdScore;
  std::map<int, std::string> leftOut;               // panel: why this image does not count for it
};

struct CorpusPanelSummary {
  int panel = 1;
  std::string codec;
  std::size_t count = 0;                 // images that count
  std::optional<double> meanBdRate;      // fractions: -0.2 is 20% smaller
  std::optional<double> medianBdRate;
  std::optional<double> geometricMeanBdRate;
  std::optional<double> meanBdScore;
  std::vector<std::pair<std::string, std::string>> leftOut;  // image, reason
  std::map<double, double> pooledBitsPerPixel;                // target score: all bits over all pixels
};

struct CorpusReport {
  int anchor = 1;
  bool isTargetMode = false;
  std::vector<CorpusImageRow> images;     // by image name
  std::vector<CorpusPanelSummary> panels; // by panel number, the anchor included (without deltas)
  std::size_t duplicateRecords = 0;
};

// Throws CorpusError when there are no records, the anchor has none, or the
// records mix panel sets.
CorpusReport buildCorpusReport(const std::vector<CorpusRecord>& records, int anchor);
// Reads every results file of the folders (throws CorpusError for a folder
// without any or an unreadable file).
std::vector<CorpusRecord> readRunFolders(const std::vector<std::filesystem::path>& runFolders);

std::string corpusReportText(const CorpusReport& report);
std::string corpusReportJson(const CorpusReport& report);
std::string corpusReportCsv(const CorpusReport& report);
// One self-contained page: no network, the charts inline SVG, the image rows
// sortable by each panel's BD-rate.
std::string corpusReportHtml(const CorpusReport& report);

}  // namespace quorlin
