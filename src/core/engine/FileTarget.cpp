#include "core/engine/FileTarget.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "core/engine/VipsRuntime.h"

namespace quorlin {

namespace {

[[noreturn]] void throwFileError(const char* what, const std::filesystem::path& file, int error) {
  throw std::filesystem::filesystem_error(what, file, std::error_code(error, std::generic_category()));
}

}  // namespace

FileTarget::FileTarget(std::filesystem::path file) : file_(std::move(file)) {
  descriptor_ = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor_ < 0) throwFileError("cannot create file", file_, errno);
}

FileTarget::~FileTarget() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

bool FileTarget::writeAll(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = ::write(descriptor_, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (!writeError_) writeError_ = errno;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

gint64 FileTarget::onVipsWrite(VipsTargetCustom*, const void* data, gint64 length, void* self) {
  auto* target = static_cast<FileTarget*>(self);
  if (length < 0 || !target->writeAll(data, static_cast<std::size_t>(length))) return -1;
  return length;
}

vips::VTarget FileTarget::vipsTarget() {
  ensureVipsInitialized();
  VipsTargetCustom* custom = vips_target_custom_new();
  g_signal_connect(custom, "write", G_CALLBACK(onVipsWrite), this);
  return vips::VTarget(VIPS_TARGET(custom));
}

void FileTarget::write(const void* data, std::size_t size) {
  if (!writeAll(data, size)) throwFileError("cannot write file", file_, writeError_);
}

void FileTarget::throwIfWriteFailed() const {
  if (writeError_) throwFileError("cannot write file", file_, writeError_);
}

void FileTarget::close() {
  throwIfWriteFailed();
  int descriptor = descriptor_;
  descriptor_ = -1;
  if (descriptor >= 0 && ::close(descriptor) != 0) throwFileError("cannot write file", file_, errno);
}

}  // namespace quorlin
