// The results files of a corpus run folder: "results-K-of-N.jsonl", one per
// shard, one CorpusRecord a line.
//
// A line is written with one write() and made durable with fsync() before the
// next unit is reported done, so a run killed at any moment leaves complete
// lines and at most one torn last line, which readers ignore and the next
// writer cuts off before appending. A writer holds an exclusive lock on its
// file, so two tasks given the same shard cannot interleave lines.
#pragma once

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/corpus/CorpusInputs.h"
#include "core/corpus/CorpusRecord.h"

namespace quorlin {

// A results file or run folder that cannot be used; the message says which and why.
class CorpusError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "results-2-of-5.jsonl"
std::string resultsFileName(CorpusShard shard);

struct ResultsFileContents {
  std::vector<CorpusRecord> records;
  std::size_t completeLength = 0;  // bytes up to the end of the last complete line
  bool hasTornLine = false;
};

// Throws CorpusError when the file cannot be read or a line other than a torn
// last one is no record.
ResultsFileContents readResultsFile(const std::filesystem::path& file);

// The results files in `run`, by name; empty when it has none or does not exist.
std::vector<std::filesystem::path> resultsFilesIn(const std::filesystem::path& run);

class ResultsFileWriter {
 public:
  // Creates the file when missing, takes its lock, and cuts a torn last line
  // off. Throws CorpusError.
  explicit ResultsFileWriter(const std::filesystem::path& file);
  ~ResultsFileWriter();
  ResultsFileWriter(const ResultsFileWriter&) = delete;
  ResultsFileWriter& operator=(const ResultsFileWriter&) = delete;

  // Appends the record's line and syncs it; thread-safe. Throws CorpusError.
  void append(const CorpusRecord& record);
  bool cutTornLine() const { return cutTornLine_; }

 private:
  std::filesystem::path file_;
  int descriptor_ = -1;
  bool cutTornLine_ = false;
  std::mutex lock_;
};

}  // namespace quorlin
