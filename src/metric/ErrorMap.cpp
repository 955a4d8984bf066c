#include "metric/ErrorMap.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "metric/ScoreMapping.h"
#include "metric/SimdTargets.h"

namespace quorlin::metric {

namespace {

constexpr int kMinimumSize = 8;

[[noreturn]] void throwErrno(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

// An unnamed file in `directory`, gone when closed (or when the process dies).
int openScratchFile(const std::filesystem::path& directory) {
  const std::filesystem::path where = directory.empty() ? std::filesystem::path(".") : directory;
#ifdef O_TMPFILE
  const int file = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (file >= 0) return file;
#endif
  std::string name = (where / "ssimulacra2-map-XXXXXX").string();
  const int fallback = ::mkostemp(name.data(), O_CLOEXEC);
  if (fallback < 0) throwErrno("scratch file in " + where.string());
  ::unlink(name.c_str());
  return fallback;
}

void writeAll(int file, const void* data, std::size_t size, long long offset) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t done = ::pwrite(file, bytes, size, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throwErrno("writing the error map's scratch file");
    bytes += done;
    size -= static_cast<std::size_t>(done);
    offset += done;
  }
}

void readAll(int file, void* data, std::size_t size, long long offset) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t done = ::pread(file, bytes, size, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throwErrno("reading the error map's scratch file");
    bytes += done;
    size -= static_cast<std::size_t>(done);
    offset += done;
  }
}

// Reserves the file's blocks up front (beyond its end, so its size still
// grows only as written): the writes need not allocate as they go, and a full
// disk fails here, before any work. Where the file system cannot reserve, the
// writes allocate as before.
void reserveBlocks(int file, long long bytes, const std::string& what) {
  if (bytes <= 0) return;
  if (::fallocate(file, FALLOC_FL_KEEP_SIZE, 0, bytes) != 0 && (errno == ENOSPC || errno == EFBIG)) throwErrno(what);
}

// The positive and the negative part of a signed edge difference. Taken on
// the bits (no stored difference is NaN, and -0 gives +0 either way) so that
// the loops below vectorise.
inline float positivePart(float value) {
  const auto bits = std::bit_cast<std::int32_t>(value);
  return std::bit_cast<float>(bits & ~(bits >> 31));
}
inline float negativePart(float value) {
  const auto bits = std::bit_cast<std::int32_t>(value);
  return std::bit_cast<float>(bits & (bits >> 31) & 0x7fffffff);
}

// shares[x] += linear*v + quartic*v^4, in double, where v is the value of map
// `map` (0: values as they are; 1 and 2: the positive and the negative part
// of signed edge differences).
QUORLIN_METRIC_KERNEL
void addShares(const float* __restrict values, int map, double linear, double quartic, double* __restrict shares,
               std::size_t count) {
  // Three loops rather than a choice per value, so that each vectorises.
  if (map == 0) {
    for (std::size_t x = 0; x < count; ++x) {
      const double value = values[x], square = value * value;
      shares[x] += linear * value + quartic * (square * square);
    }
  } else if (map == 1) {
    for (std::size_t x = 0; x < count; ++x) {
      const double value = positivePart(values[x]), square = value * value;
      shares[x] += linear * value + quartic * (square * square);
    }
  } else {
    for (std::size_t x = 0; x < count; ++x) {
      const double value = negativePart(values[x]), square = value * value;
      shares[x] += linear * value + quartic * (square * square);
    }
  }
}

// shares[x] = shares[x]*inverseCover + coarser[x/2] over [first, end).
QUORLIN_METRIC_KERNEL
void spreadShares(double* __restrict shares, const double* __restrict coarser, double inverseCover, std::size_t first,
                  std::size_t end) {
  if (coarser) {
    for (std::size_t x = first; x < end; ++x) shares[x] = shares[x] * inverseCover + coarser[x >> 1];
  } else {
    for (std::size_t x = first; x < end; ++x) shares[x] *= inverseCover;
  }
}

// One output row: per pixel its three layers, each its own share plus that
// of the next scale's pixel over it.
QUORLIN_METRIC_KERNEL
void interleaveLayers(const double* __restrict own0, const double* __restrict own1, const double* __restrict own2,
                      const double* __restrict coarse0, const double* __restrict coarse1,
                      const double* __restrict coarse2, float* __restrict out, std::size_t count) {
  if (coarse0) {
    for (std::size_t x = 0; x < count; ++x) {
      out[3 * x] = static_cast<float>(own0[x] + coarse0[x >> 1]);
      out[3 * x + 1] = static_cast<float>(own1[x] + coarse1[x >> 1]);
      out[3 * x + 2] = static_cast<float>(own2[x] + coarse2[x >> 1]);
    }
  } else {
    for (std::size_t x = 0; x < count; ++x) {
      out[3 * x] = static_cast<float>(own0[x]);
      out[3 * x + 1] = static_cast<float>(own1[x]);
      out[3 * x + 2] = static_cast<float>(own2[x]);
    }
  }
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

int scaleCount(int width, int height) {
  int scales = 1;
  while (scales < kMaxScales && width >= kMinimumSize && height >= kMinimumSize) {
    width = (width + 1) / 2;
    height = (height + 1) / 2;
    ++scales;
  }
  return scales;
}

ErrorMapRecorder::ErrorMapRecorder(int width, int height, const std::filesystem::path& scratchDirectory)
    : width_(width), height_(height), file_(openScratchFile(scratchDirectory)) {
  const int scales = scaleCount(width, height);
  const auto& weights = scoreWeights();
  scales_.resize(static_cast<std::size_t>(scales));
  long long offset = 0;
  for (int s = 0; s < scales; ++s) {
    Scale& scale = scales_[static_cast<std::size_t>(s)];
    scale.width = width;
    scale.height = height;
    scale.file = file_;
    scale.offset = offset;
    // Only the maps with a weight on their mean or 4-norm at this scale; the
    // artifact and detail-lost maps of a channel share one column.
    for (int c = 0; c < 3; ++c) {
      auto& columns = scale.columns[static_cast<std::size_t>(c)];
      columns = {-1, -1};
      for (int map = 0; map < 3; ++map) {
        const bool weighted = weights[static_cast<std::size_t>(weightIndex(scales, c, s, 0, map))] != 0.0 ||
                              weights[static_cast<std::size_t>(weightIndex(scales, c, s, 1, map))] != 0.0;
        if (!weighted) continue;
        int& column = columns[map == 0 ? ErrorRowSink::kSsim : ErrorRowSink::kEdge];
        if (column < 0) column = scale.count++;
        const auto k = static_cast<std::size_t>(scale.slots++);
        scale.slotChannel[k] = c;
        scale.slotMap[k] = map;
        scale.slotColumn[k] = column;
      }
    }
    offset += static_cast<long long>(scale.count) * width * height * static_cast<long long>(sizeof(float));
    width = (width + 1) / 2;
    height = (height + 1) / 2;
  }
  reserveBlocks(file_, offset, "the error map's scratch file");
}

ErrorMapRecorder::~ErrorMapRecorder() {
  if (file_ >= 0) ::close(file_);
}

void ErrorMapRecorder::Scale::takeRows(int first, int rows, const float* values) {
  const long long rowBytes = static_cast<long long>(count) * width * static_cast<long long>(sizeof(float));
  writeAll(file, values, static_cast<std::size_t>(rowBytes * rows), offset + rowBytes * first);
}

void ErrorMapRecorder::write(const std::filesystem::path& path,
                             const std::vector<std::array<ChannelNorms, 3>>& perScale) {
  const int scales = std::min(static_cast<int>(perScale.size()), this->scales());
  const auto& weights = scoreWeights();

  // Per scale and slot: the share of a pixel is linear*v + quartic*v^4.
  struct Coefficients {
    std::array<double, 9> linear{}, quartic{};
  };
  std::vector<Coefficients> coefficients(static_cast<std::size_t>(scales));
  for (int s = 0; s < scales; ++s) {
    const Scale& scale = scales_[static_cast<std::size_t>(s)];
    const double pixels = static_cast<double>(scale.width) * static_cast<double>(scale.height);
    for (int k = 0; k < scale.slots; ++k) {
      const int c = scale.slotChannel[static_cast<std::size_t>(k)], map = scale.slotMap[static_cast<std::size_t>(k)];
      const auto& norms = perScale[static_cast<std::size_t>(s)][static_cast<std::size_t>(c)].norms;
      const double norm4 = norms[1][static_cast<std::size_t>(map)];
      auto& slot = coefficients[static_cast<std::size_t>(s)];
      slot.linear[static_cast<std::size_t>(k)] =
          weights[static_cast<std::size_t>(weightIndex(scales, c, s, 0, map))] / pixels;
      slot.quartic[static_cast<std::size_t>(k)] =
          norm4 > 0.0 ? weights[static_cast<std::size_t>(weightIndex(scales, c, s, 1, map))] /
                            (pixels * norm4 * norm4 * norm4)
                      : 0.0;
    }
  }

  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(path.c_str(), "wb"));
  if (!out) throwErrno(path.string());
  // Fewer, larger writes than the default few-kilobyte buffer makes.
  std::setvbuf(out.get(), nullptr, _IOFBF, std::size_t{1} << 20);
  // PFM stores the bottom row first; a negative scale means little-endian.
  const char* order = std::endian::native == std::endian::little ? "-1.0" : "1.0";
  const int header = std::fprintf(out.get(), "PF\n%d %d\n%s\n", width_, height_, order);
  if (header < 0) throwErrno(path.string());
  reserveBlocks(::fileno(out.get()), header + 3LL * static_cast<long long>(sizeof(float)) * width_ * height_,
                path.string());

  // Per scale, its current row as shares per full-resolution pixel covered
  // (one plane per layer), plus the shares of the coarser scales' rows over
  // it, so that an output pixel adds only two numbers per layer.
  struct RowCache {
    int row = -1;
    long long freedFrom = -1;  // the scale's rows from here on have been read and dropped
    std::vector<float> values;
    std::array<std::vector<double>, 3> shares;
  };
  std::vector<RowCache> caches(static_cast<std::size_t>(scales));
  const auto loadRow = [&](int s, int row) {
    const Scale& scale = scales_[static_cast<std::size_t>(s)];
    RowCache& cache = caches[static_cast<std::size_t>(s)];
    cache.row = row;
    const std::size_t width = static_cast<std::size_t>(scale.width);
    cache.values.resize(static_cast<std::size_t>(scale.count) * width);
    for (auto& layer : cache.shares) layer.assign(width, 0.0);
    const long long rowBytes = static_cast<long long>(cache.values.size() * sizeof(float));
    const long long rowStart = scale.offset + rowBytes * row;
    readAll(file_, cache.values.data(), static_cast<std::size_t>(rowBytes), rowStart);
    // Rows are read bottom up, once: dropping those read, a megabyte at a
    // time, hands their pages straight to the output file's writes (memory
    // already in use is much cheaper to write than fresh) and spares the disk.
    if (cache.freedFrom < 0) cache.freedFrom = scale.offset + rowBytes * scale.height;
    if (cache.freedFrom - rowStart >= (1 << 20) || row == 0) {
      ::fallocate(file_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, rowStart, cache.freedFrom - rowStart);
      cache.freedFrom = rowStart;
    }
    const Coefficients& slot = coefficients[static_cast<std::size_t>(s)];
    for (int k = 0; k < scale.slots; ++k) {
      const double linear = slot.linear[static_cast<std::size_t>(k)];
      const double quartic = slot.quartic[static_cast<std::size_t>(k)];
      const int map = scale.slotMap[static_cast<std::size_t>(k)];
      const float* v = cache.values.data() + static_cast<std::size_t>(scale.slotColumn[static_cast<std::size_t>(k)]) * width;
      addShares(v, map, linear, quartic, cache.shares[static_cast<std::size_t>(map)].data(), width);
    }
    if (s == 0) return;
    // Spread evenly over the covered pixels (fewer at odd right and bottom edges).
    const int top = row << s;
    const double rows = std::min(top + (1 << s), height_) - top;
    const bool coarser = s + 1 < scales;
    // Every column but the last covers 2^s full-resolution columns.
    const int lastLeft = static_cast<int>(width - 1) << s;
    const double inverseCover = 1.0 / (rows * (1 << s));
    const double lastInverseCover = 1.0 / (rows * (std::min(lastLeft + (1 << s), width_) - lastLeft));
    for (std::size_t layer = 0; layer < 3; ++layer) {
      double* shares = cache.shares[layer].data();
      const double* coarse = coarser ? caches[static_cast<std::size_t>(s) + 1].shares[layer].data() : nullptr;
      spreadShares(shares, coarse, inverseCover, 0, width - 1);
      spreadShares(shares, coarse, lastInverseCover, width - 1, width);
    }
  };

  std::vector<float> output(static_cast<std::size_t>(width_) * 3);
  for (int y = height_ - 1; y >= 0; --y) {
    for (int s = scales - 1; s >= 0; --s) {
      if (caches[static_cast<std::size_t>(s)].row != y >> s) loadRow(s, y >> s);
    }
    const RowCache& full = caches[0];
    const bool coarser = scales > 1;
    interleaveLayers(full.shares[0].data(), full.shares[1].data(), full.shares[2].data(),
                     coarser ? caches[1].shares[0].data() : nullptr, coarser ? caches[1].shares[1].data() : nullptr,
                     coarser ? caches[1].shares[2].data() : nullptr, output.data(), static_cast<std::size_t>(width_));
    if (std::fwrite(output.data(), sizeof(float), output.size(), out.get()) != output.size()) {
      throwErrno(path.string());
    }
  }
  if (std::fclose(out.release()) != 0) throwErrno(path.string());
}

}  // namespace quorlin::metric
