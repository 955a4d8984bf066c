// FileTarget: a file being written by one of the engine's writers, directly
// or through libvips, that keeps the operating system's reason when a write
// fails, so a full disk is reported as such (a file-system error naming the
// file) and not as an unreadable image. Engine internal.
//
// The file is created (truncated when present) on construction and closed by
// close() or the destructor. One thread at a time.
#pragma once

#include <vips/vips8>

#include <cstddef>
#include <filesystem>

namespace quorlin {

class FileTarget {
 public:
  // Throws std::filesystem::filesystem_error when the file cannot be created.
  explicit FileTarget(std::filesystem::path file);
  ~FileTarget();
  FileTarget(const FileTarget&) = delete;
  FileTarget& operator=(const FileTarget&) = delete;

  // A libvips target writing into this file (for the *save_target operations).
  vips::VTarget vipsTarget();

  // Writes all of `data`; throws std::filesystem::filesystem_error on failure.
  void write(const void* data, std::size_t size);

  // After a libvips save failed: throws the file-system error of the failed
  // write, if a write was what failed; returns otherwise.
  void throwIfWriteFailed() const;

  // Closes the file; throws the first write or close failure.
  void close();

 private:
  static gint64 onVipsWrite(VipsTargetCustom* target, const void* data, gint64 length, void* self);
  bool writeAll(const void* data, std::size_t size);

  std::filesystem::path file_;
  int descriptor_ = -1;
  int writeError_ = 0;
};

}  // namespace quorlin
