#include "metric/ImageFileLoader.h"

#include <cstdio>
#include <memory>
#include <system_error>

#include "core/common/DeclaredImageSize.h"
#include "metric/PngColourChunks.h"
#include "metric/PngDecoder.h"
#include "metric/VipsDecoder.h"

namespace quorlin::metric {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};

}  // namespace

ImageLoadResult loadImageFile(const std::filesystem::path& path, std::uint64_t pixelLimit) {
  ImageLoadResult result;
  std::error_code error;
  std::unique_ptr<std::FILE, FileCloser> file;
  if (std::filesystem::is_regular_file(path, error)) file.reset(std::fopen(path.c_str(), "rb"));
  if (!file) {
    result.failure = LoadFailure::unreadable;
    return result;
  }
  result.failure = LoadFailure::undecodable;
  auto refuse = [&](std::uint64_t width, std::uint64_t height) {
    auto refusal = declaredSizeRefusal(path, width, height, pixelLimit);
    if (refusal) {
      result.failure = LoadFailure::refused;
      result.reason = *refusal;
    }
    return refusal.has_value();
  };
  if (auto declared = readDeclaredImageSize(path); declared && refuse(declared->width, declared->height)) return result;
  if (readPngSignature(file.get())) {
    std::rewind(file.get());
    std::string ignoredProfile;
    result.image = decodePng(file.get(), &ignoredProfile);
    if (result.image && !ignoredProfile.empty()) {
      result.warning = "Warning: ignoring the ICC profile of " + path.string() + ": " + ignoredProfile;
    }
    return result;
  }
  if (std::ferror(file.get())) {
    result.failure = LoadFailure::unreadable;
    return result;
  }
  file.reset();
  result.image = decodeWithVips(path, [&](int width, int height) {
    return !refuse(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height));
  });
  return result;
}

}  // namespace quorlin::metric
