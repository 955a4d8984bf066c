#include "metric/ErrorMap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
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
#include <utility>

#include "metric/ScoreMapping.h"
#include "metric/SimdTargets.h"
#include "metric/ThreadPool.h"

namespace quorlin::metric {

namespace {

constexpr int kMinimumSize = 8;

[[noreturn]] void throwErrno(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

// An unnamed file in `directory`, gone when closed (or when the process
// dies). `anonymous` tells whether it was made without a name at all (and so
// can be given one later).
int openScratchFile(const std::filesystem::path& directory, bool& anonymous) {
  const std::filesystem::path where = directory.empty() ? std::filesystem::path(".") : directory;
  anonymous = false;
#ifdef O_TMPFILE
  const int file = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (file >= 0) {
    anonymous = true;
    return file;
  }
#endif
  std::string name = (where / "ssimulacra2-map-XXXXXX").string();
  const int fallback = ::mkostemp(name.data(), O_CLOEXEC);
  if (fallback < 0) throwErrno("scratch file in " + where.string());
  ::unlink(name.c_str());
  return fallback;
}

// Whether `path` names no file yet or a plain one (not a link, a pipe or a
// device, which are written through rather than replaced).
bool plainFileOrNone(const std::filesystem::path& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode);
}

// Gives the unnamed file `file` the name `path` (replacing a file there at
// once, so a reader never sees half a map), with the permissions a new file
// gets. False when the system cannot name it (no /proc, say).
bool nameScratchFile(int file, const std::filesystem::path& path) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(file, 0666 & ~mask) != 0) throwErrno(path.string());
  const std::string self = "/proc/self/fd/" + std::to_string(file);
  for (int attempt = 0;; ++attempt) {
    const std::string staging = path.string() + ".part" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, staging.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno == EEXIST && attempt < 100) continue;
      return false;
    }
    if (::rename(staging.c_str(), path.c_str()) != 0) {
      const int error = errno;
      ::unlink(staging.c_str());
      errno = error;
      throwErrno(path.string());
    }
    return true;
  }
}

void writeAll(int file, const void* data, std::size_t size, long long offset, const std::string& what) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t done = ::pwrite(file, bytes, size, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throwErrno(what);
    bytes += done;
    size -= static_cast<std::size_t>(done);
    offset += done;
  }
}

// Writes at the file's current position (the output may be a pipe).
void writeOut(int file, const void* data, std::size_t size, const std::string& what) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t done = ::write(file, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throwErrno(what);
    bytes += done;
    size -= static_cast<std::size_t>(done);
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

// Per layer and channel of the finest scale: a pixel's share is
// linear*v + quartic*v^4.
struct FinestCoefficients {
  std::array<std::array<double, 3>, 3> linear{}, quartic{};
};

[[gnu::always_inline]] inline double share(double value, double linear, double quartic) {
  const double square = value * value;
  return linear * value + quartic * (square * square);
}

// One output row from the finest scale's values: per pixel and layer, the
// shares of the X, Y and B maps added to zero in that order, plus the share
// of the coarser scales' pixel over it. Bit 3 * layer + channel of `Maps` says
// whether that map adds a share (one without adds zero, which changes no sum).
template <unsigned Maps>
[[gnu::always_inline]] inline void finestRowShares(const float* const* columns, const FinestCoefficients& k,
                                                   const double* __restrict coarse0,
                                                   const double* __restrict coarse1,
                                                   const double* __restrict coarse2, float* __restrict out,
                                                   std::size_t count) {
  const float* __restrict ssimX = columns[0];
  const float* __restrict ssimY = columns[1];
  const float* __restrict ssimB = columns[2];
  const float* __restrict edgeX = columns[3];
  const float* __restrict edgeY = columns[4];
  const float* __restrict edgeB = columns[5];
  const float* __restrict edgeX2 = columns[6];
  const float* __restrict edgeY2 = columns[7];
  const float* __restrict edgeB2 = columns[8];
  const auto& l = k.linear;
  const auto& q = k.quartic;
  for (std::size_t x = 0; x < count; ++x) {
    double structure = 0.0, artifacts = 0.0, blur = 0.0;
    if constexpr ((Maps & 1u) != 0) structure += share(ssimX[x], l[0][0], q[0][0]);
    if constexpr ((Maps & 2u) != 0) structure += share(ssimY[x], l[0][1], q[0][1]);
    if constexpr ((Maps & 4u) != 0) structure += share(ssimB[x], l[0][2], q[0][2]);
    if constexpr ((Maps & 8u) != 0) artifacts += share(positivePart(edgeX[x]), l[1][0], q[1][0]);
    if constexpr ((Maps & 16u) != 0) artifacts += share(positivePart(edgeY[x]), l[1][1], q[1][1]);
    if constexpr ((Maps & 32u) != 0) artifacts += share(positivePart(edgeB[x]), l[1][2], q[1][2]);
    if constexpr ((Maps & 64u) != 0) blur += share(negativePart(edgeX2[x]), l[2][0], q[2][0]);
    if constexpr ((Maps & 128u) != 0) blur += share(negativePart(edgeY2[x]), l[2][1], q[2][1]);
    if constexpr ((Maps & 256u) != 0) blur += share(negativePart(edgeB2[x]), l[2][2], q[2][2]);
    out[3 * x] = static_cast<float>(structure + coarse0[x >> 1]);
    out[3 * x + 1] = static_cast<float>(artifacts + coarse1[x >> 1]);
    out[3 * x + 2] = static_cast<float>(blur + coarse2[x >> 1]);
  }
}

// The maps of the finest scale of a six-scale comparison (every picture of
// at least 113 pixels a side): SSIM of Y, artifacts of X and B, blur of Y.
// Other layouts take the loop over all nine.
constexpr unsigned kSixScaleFinestMaps = 2u | 8u | 32u | 128u;

QUORLIN_METRIC_KERNEL
void finestRowSixScales(const float* const* columns, const FinestCoefficients& k, const double* coarse0,
                        const double* coarse1, const double* coarse2, float* out, std::size_t count) {
  finestRowShares<kSixScaleFinestMaps>(columns, k, coarse0, coarse1, coarse2, out, count);
}

QUORLIN_METRIC_KERNEL
void finestRowAnyScales(const float* const* columns, const FinestCoefficients& k, const double* coarse0,
                        const double* coarse1, const double* coarse2, float* out, std::size_t count) {
  finestRowShares<511u>(columns, k, coarse0, coarse1, coarse2, out, count);
}

struct FileDescriptor {
  explicit FileDescriptor(int descriptor) : file(descriptor) {}
  ~FileDescriptor() {
    if (file >= 0) ::close(file);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int release() { return std::exchange(file, -1); }
  int file;
};

struct Unmapper {
  std::size_t bytes;
  void operator()(void* memory) const { ::munmap(memory, bytes); }
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

ErrorMapRecorder::ErrorMapRecorder(int width, int height, const std::filesystem::path& scratchDirectory,
                                   bool coarseInMemory)
    : width_(width), height_(height), file_(openScratchFile(scratchDirectory, anonymous_)) {
  const int scales = scaleCount(width, height);
  const auto& weights = scoreWeights();
  scales_.resize(static_cast<std::size_t>(scales));
  long long offset = 0;
  for (int s = 0; s < scales; ++s) {
    Scale& scale = scales_[static_cast<std::size_t>(s)];
    scale.width = width;
    scale.height = height;
    scale.recorder = this;
    scale.offset = offset;
    scale.inMemory = coarseInMemory && s > 0;
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
    if (!scale.inMemory) offset = scale.end();
    width = (width + 1) / 2;
    height = (height + 1) / 2;
  }
  reserveBlocks(file_, fileBytes(), "the error map's scratch file");
}

long long ErrorMapRecorder::fileBytes() const {
  long long bytes = 0;
  for (const Scale& scale : scales_) {
    if (!scale.inMemory) bytes = scale.end();
  }
  return bytes;
}

ErrorMapRecorder::~ErrorMapRecorder() {
  if (file_ >= 0) ::close(file_);
}

ErrorRowSink::Rows ErrorMapRecorder::Scale::beginRows(int first, int rows) {
  if (inMemory) {
    // Made now, not up front: the finest scale's comparison has ended, and
    // what it held is free again.
    if (memory.empty()) memory = Plane(static_cast<int>(rowFloats()), height);
    return {memory.row(height - 1 - first), -static_cast<std::ptrdiff_t>(memory.stride())};
  }
  std::vector<float>& buffer = recorder->rows_;
  buffer.resize(std::max(buffer.size(), rowFloats() * static_cast<std::size_t>(rows)));
  bufferFirst = first;
  bufferRows = rows;
  const auto step = static_cast<std::ptrdiff_t>(rowFloats());
  // The buffer holds the rows in the order the file does, the last one first.
  return {buffer.data() + (rows - 1) * step, -step};
}

void ErrorMapRecorder::Scale::endRows() {
  if (inMemory) return;
  // A write at a time of about a megabyte: much larger ones cost the page
  // cache more.
  const int chunkRows = std::max(1, static_cast<int>((1 << 20) / rowBytes()));
  const long long start = offset + rowBytes() * (height - bufferFirst - bufferRows);
  for (int row = 0; row < bufferRows; row += chunkRows) {
    const int rows = std::min(chunkRows, bufferRows - row);
    writeAll(recorder->file_, recorder->rows_.data() + rowFloats() * static_cast<std::size_t>(row),
             static_cast<std::size_t>(rowBytes() * rows), start + rowBytes() * row,
             "writing the error map's scratch file");
  }
  bufferRows = 0;
}

void ErrorMapRecorder::write(const std::filesystem::path& path,
                             const std::vector<std::array<ChannelNorms, 3>>& perScale, ThreadPool& pool) {
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

  // PFM stores the bottom row first; a negative scale means little-endian.
  const char* order = std::endian::native == std::endian::little ? "-1.0" : "1.0";
  char header[64];
  const int headerBytes = std::snprintf(header, sizeof header, "PF\n%d %d\n%s\n", width_, height_, order);
  const long long outputBytes = headerBytes + 3LL * static_cast<long long>(sizeof(float)) * width_ * height_;
  // The map is written over the scratch file's finest scale, whose rows are
  // stored in the map's order (as every scale's are): when each is longer than a map row by at
  // least the header, every map row lands where rows already read lay. The
  // scratch file then takes the map's name. A map that is no plain file (or a
  // scratch file with a name) is written to its own file.
  const Scale& finest = scales_[0];
  const bool inPlace = anonymous_ && plainFileOrNone(path) &&
                       finest.rowBytes() >= 3LL * static_cast<long long>(sizeof(float)) * width_ + headerBytes;
  FileDescriptor out(-1);
  long long mapEnd = headerBytes;  // in place: where the next map row goes
  if (!inPlace) {
    out.file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out.file < 0) throwErrno(path.string());
    reserveBlocks(out.file, outputBytes, path.string());
    writeOut(out.file, header, static_cast<std::size_t>(headerBytes), path.string());
  }

  // The recorded values are read where they lie, in the scratch file's
  // pages, rather than copied out.
  const long long scratchBytes = fileBytes();
  void* mapped = ::mmap(nullptr, static_cast<std::size_t>(scratchBytes), PROT_READ, MAP_SHARED, file_, 0);
  if (mapped == MAP_FAILED) throwErrno("reading the error map's scratch file");
  const std::unique_ptr<void, Unmapper> unmap(mapped, Unmapper{static_cast<std::size_t>(scratchBytes)});
  const char* scratch = static_cast<const char*>(mapped);

  // Per coarser scale, its current row as shares per full-resolution pixel
  // covered (one plane per layer), plus the shares of the still coarser
  // scales' rows over it, so that an output pixel adds only two numbers per
  // layer. One set per worker.
  struct RowCache {
    int row = -1;
    const float* values = nullptr;
    std::array<std::vector<double>, 3> shares;
  };
  const unsigned workers = pool.threadCount();
  std::vector<std::vector<RowCache>> workerCaches(workers, std::vector<RowCache>(static_cast<std::size_t>(scales)));
  const auto rowValues = [&](int s, int row) -> const float* {
    const Scale& scale = scales_[static_cast<std::size_t>(s)];
    if (scale.inMemory) return static_cast<const float*>(scale.memory.row(scale.height - 1 - row));
    return reinterpret_cast<const float*>(scratch + scale.offset +
                                          scale.rowBytes() * (scale.height - 1 - row));
  };
  const auto loadRow = [&](std::vector<RowCache>& caches, int s, int row) {
    const Scale& scale = scales_[static_cast<std::size_t>(s)];
    RowCache& cache = caches[static_cast<std::size_t>(s)];
    cache.row = row;
    cache.values = rowValues(s, row);
    if (s == 0) return;
    const std::size_t width = static_cast<std::size_t>(scale.width);
    for (auto& layer : cache.shares) layer.assign(width, 0.0);
    const Coefficients& slot = coefficients[static_cast<std::size_t>(s)];
    for (int k = 0; k < scale.slots; ++k) {
      const double linear = slot.linear[static_cast<std::size_t>(k)];
      const double quartic = slot.quartic[static_cast<std::size_t>(k)];
      const int map = scale.slotMap[static_cast<std::size_t>(k)];
      const float* v = cache.values + static_cast<std::size_t>(scale.slotColumn[static_cast<std::size_t>(k)]) * width;
      addShares(v, map, linear, quartic, cache.shares[static_cast<std::size_t>(map)].data(), width);
    }
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

  // Rows already read leave the mapping every 256 KiB, so that they do not
  // count as this process's memory, and the file every 2 MiB on 2 MiB
  // boundaries: the page cache holds a file in blocks of up to that size,
  // and a hole through the middle of one is zeroed rather than freed. The
  // freed pages go straight to the map's writes (memory already in use is
  // much cheaper to write than fresh) and spare the disk. Written in place,
  // the map's rows take over the finest scale's pages instead.
  struct Released {
    long long unmapped, freed;  // the ends of what has left the mapping and the file
  };
  constexpr long long kPage = 4096, kBlock = 2 << 20;
  const auto roundUp = [](long long at, long long step) { return (at + step - 1) / step * step; };
  std::vector<Released> released(static_cast<std::size_t>(scales));
  for (int s = 0; s < scales; ++s) {
    // A page or block shared with the scale before is left to that one.
    const long long offset = scales_[static_cast<std::size_t>(s)].offset;
    released[static_cast<std::size_t>(s)] = {roundUp(offset, kPage), roundUp(offset, kBlock)};
  }
  // All of scale `s` from row `row` on has been read for good: as rows are
  // stored last one first, the scale's start up to that row's end.
  const auto release = [&](int s, int row) {
    const Scale& scale = scales_[static_cast<std::size_t>(s)];
    if (scale.inMemory) return;
    Released& done = released[static_cast<std::size_t>(s)];
    const bool all = row == 0;
    const long long to = scale.offset + scale.rowBytes() * (scale.height - row);
    const long long page = all ? to : to / kPage * kPage;
    if (page - done.unmapped >= (256 << 10) || (all && page > done.unmapped)) {
      ::madvise(const_cast<char*>(scratch) + done.unmapped, static_cast<std::size_t>(page - done.unmapped),
                MADV_DONTNEED);
      done.unmapped = page;
    }
    // In place, the map's rows take over the finest scale's pages.
    const long long block = all ? to : to / kBlock * kBlock;
    if (!(inPlace && s == 0) && (block - done.freed >= kBlock || (all && block > done.freed))) {
      ::fallocate(file_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, done.freed, block - done.freed);
      done.freed = block;
    }
  };

  // The finest scale goes straight to the output: per layer, the shares of
  // its X, Y and B maps in that order (a missing one adds zero from a row of
  // zeros, which changes no sum), plus the coarser scales' shares.
  const std::vector<float> zeros(static_cast<std::size_t>(width_), 0.0f);
  const std::vector<double> noCoarser(static_cast<std::size_t>(width_ / 2 + 1), 0.0);
  FinestCoefficients finestCoefficients;
  std::array<std::array<int, 3>, 3> finestColumn{};  // [layer][channel], -1 for none
  for (auto& layer : finestColumn) layer = {-1, -1, -1};
  unsigned finestMaps = 0;
  for (int k = 0; k < finest.slots; ++k) {
    const auto c = static_cast<std::size_t>(finest.slotChannel[static_cast<std::size_t>(k)]);
    const auto map = static_cast<std::size_t>(finest.slotMap[static_cast<std::size_t>(k)]);
    finestMaps |= 1u << (3 * map + c);
    finestColumn[map][c] = finest.slotColumn[static_cast<std::size_t>(k)];
    finestCoefficients.linear[map][c] = coefficients[0].linear[static_cast<std::size_t>(k)];
    finestCoefficients.quartic[map][c] = coefficients[0].quartic[static_cast<std::size_t>(k)];
  }
  const std::size_t rowFloats = static_cast<std::size_t>(width_) * 3;
  // Output row y into `row`.
  const auto outputRow = [&](std::vector<RowCache>& caches, int y, float* row) {
    for (int s = scales - 1; s >= 0; --s) {
      if (caches[static_cast<std::size_t>(s)].row != y >> s) loadRow(caches, s, y >> s);
    }
    const float* columns[9];
    for (std::size_t layer = 0; layer < 3; ++layer) {
      for (std::size_t c = 0; c < 3; ++c) {
        const int column = finestColumn[layer][c];
        columns[3 * layer + c] =
            column < 0 ? zeros.data() : caches[0].values + static_cast<std::size_t>(column) * width_;
      }
    }
    const bool coarser = scales > 1;
    (finestMaps == kSixScaleFinestMaps ? finestRowSixScales : finestRowAnyScales)(columns, finestCoefficients, coarser ? caches[1].shares[0].data() : noCoarser.data(),
              coarser ? caches[1].shares[1].data() : noCoarser.data(),
              coarser ? caches[1].shares[2].data() : noCoarser.data(), row, static_cast<std::size_t>(width_));
  };
  // Blocks of whole rows, one per worker at a time: about 256 KiB, and
  // starting on a row of the coarsest scale, so that no worker works out a
  // coarser scale's row another one needs too. A batch is written, and the
  // scratch it read released, on one thread while the others work out the
  // next batch into the other buffer.
  const int coarsest = 1 << (scales - 1);
  const int blockRows =
      std::max(1, static_cast<int>((std::size_t{256} << 10) / (rowFloats * sizeof(float))) / coarsest) * coarsest;
  const int blockCount = (height_ + blockRows - 1) / blockRows;
  // The two buffers take the memory the scales' rows came through.
  const std::size_t batchFloats =
      rowFloats * static_cast<std::size_t>(std::min(height_, blockRows * static_cast<int>(workers)));
  rows_.resize(std::max(rows_.size(), 2 * batchFloats));
  const std::array<float*, 2> output{rows_.data(), rows_.data() + batchFloats};
  struct {
    int lowest = 0, rows = 0;  // rows [lowest, lowest + rows), bottom up
    const float* values = nullptr;
  } pending;
  const auto handOver = [&] {
    const std::size_t bytes = rowFloats * sizeof(float) * static_cast<std::size_t>(pending.rows);
    if (inPlace) {
      writeAll(file_, pending.values, bytes, mapEnd, path.string());
      mapEnd += static_cast<long long>(bytes);
    } else {
      writeOut(out.file, pending.values, bytes, path.string());
    }
    // The rows still to come read scale s's rows up to (lowest - 1) >> s.
    for (int s = 0; s < scales; ++s) release(s, pending.lowest == 0 ? 0 : ((pending.lowest - 1) >> s) + 1);
    pending.rows = 0;
  };
  // Blocks from the bottom one up; block b holds rows [b * blockRows, (b + 1) * blockRows).
  for (int top = blockCount - 1, buffer = 0; top >= 0; top -= static_cast<int>(workers), buffer ^= 1) {
    const int blocks = std::min(static_cast<int>(workers), top + 1);
    const int end = std::min(height_, (top + 1) * blockRows), lowest = (top + 1 - blocks) * blockRows;
    const std::size_t writes = pending.rows > 0 ? 1 : 0;
    float* values = output[static_cast<std::size_t>(buffer)];
    pool.parallelFor(writes + static_cast<std::size_t>(blocks), [&](std::size_t task, unsigned worker) {
      if (task < writes) return handOver();
      const int block = top - static_cast<int>(task - writes);
      for (int y = std::min(height_, (block + 1) * blockRows) - 1; y >= block * blockRows; --y) {
        outputRow(workerCaches[worker], y, values + rowFloats * static_cast<std::size_t>(end - 1 - y));
      }
    });
    pending = {lowest, end - lowest, values};
  }
  handOver();
  if (!inPlace) {
    if (::close(out.release()) != 0) throwErrno(path.string());
    return;
  }
  writeAll(file_, header, static_cast<std::size_t>(headerBytes), 0, path.string());
  if (::ftruncate(file_, outputBytes) != 0) throwErrno(path.string());
  if (nameScratchFile(file_, path)) return;
  // Copied out instead.
  FileDescriptor copy(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (copy.file < 0) throwErrno(path.string());
  std::vector<char> chunk(std::size_t{1} << 20);
  for (long long at = 0; at < outputBytes;) {
    const ssize_t got = ::pread(file_, chunk.data(), static_cast<std::size_t>(std::min<long long>(
                                                         static_cast<long long>(chunk.size()), outputBytes - at)),
                                at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throwErrno(path.string());
    writeOut(copy.file, chunk.data(), static_cast<std::size_t>(got), path.string());
    at += got;
  }
  if (::close(copy.release()) != 0) throwErrno(path.string());
}

}  // namespace quorlin::metric
