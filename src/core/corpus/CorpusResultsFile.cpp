#include "core/corpus/CorpusResultsFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

namespace quorlin {

namespace fs = std::filesystem;

namespace {

std::string systemMessage(int error) { return std::generic_category().message(error); }

}  // namespace

std::string resultsFileName(CorpusShard shard) {
  return "results-" + std::to_string(shard.index) + "-of-" + std::to_string(shard.count) + ".jsonl";
}

ResultsFileContents readResultsFile(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) throw CorpusError(file.string() + " cannot be read");
  std::ostringstream buffer;
  buffer << stream.rdbuf();
  if (stream.bad()) throw CorpusError(file.string() + " cannot be read");
  const std::string text = buffer.str();
  ResultsFileContents contents;
  std::size_t start = 0;
  std::size_t lineNumber = 1;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    if (newline == std::string::npos) {
      // Written with one write() each, so only a killed writer leaves a line without its end.
      contents.hasTornLine = true;
      break;
    }
    const std::string_view line(text.data() + start, newline - start);
    if (!line.empty()) {
      auto record = parseRecordLine(line);
      if (!record) {
        throw CorpusError(file.string() + ": line " + std::to_string(lineNumber) +
                          " is not a corpus result; is this a results file of quorlin-cli corpus run?");
      }
      contents.records.push_back(std::move(*record));
    }
    start = newline + 1;
    contents.completeLength = start;
    ++lineNumber;
  }
  return contents;
}

std::vector<fs::path> resultsFilesIn(const fs::path& run) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator entry(run, error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.starts_with("results-") && name.ends_with(".jsonl") && entry->is_regular_file(error)) {
      files.push_back(entry->path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

ResultsFileWriter::ResultsFileWriter(const fs::path& file) : file_(file) {
  descriptor_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (descriptor_ < 0) throw CorpusError(file.string() + " cannot be opened: " + systemMessage(errno));
  if (::flock(descriptor_, LOCK_EX | LOCK_NB) != 0) {
    ::close(descriptor_);
    throw CorpusError("another run is writing " + file.string() + "; each shard can run only once at a time");
  }
  try {
    ResultsFileContents contents = readResultsFile(file);
    if (contents.hasTornLine) {
      if (::ftruncate(descriptor_, static_cast<off_t>(contents.completeLength)) != 0) {
        throw CorpusError(file.string() + ": its torn last line cannot be cut off: " + systemMessage(errno));
      }
      cutTornLine_ = true;
    }
  } catch (...) {
    ::close(descriptor_);
    throw;
  }
}

ResultsFileWriter::~ResultsFileWriter() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

void ResultsFileWriter::append(const CorpusRecord& record) {
  const std::string line = recordLine(record);
  std::lock_guard guard(lock_);
  const ssize_t written = ::write(descriptor_, line.data(), line.size());
  if (written != static_cast<ssize_t>(line.size())) {
    const int error = written < 0 ? errno : ENOSPC;
    throw CorpusError(file_.string() + " cannot be written: " + systemMessage(error));
  }
  if (::fsync(descriptor_) != 0) throw CorpusError(file_.string() + " cannot be synced: " + systemMessage(errno));
}

}  // namespace quorlin
