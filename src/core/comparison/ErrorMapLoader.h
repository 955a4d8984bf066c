// ErrorMapLoader: error map planes read on worker threads, so that the canvas
// never waits for a 24-megapixel map file.
//
// A load is one file's layer for one result (ErrorMapKey: the result's image
// identifier tells a regenerated result apart even when its map has the same
// file name). start() reads it on a thread of its own and returns at once;
// takeFinished() hands over every plane read since (null for a file that
// could not be read). keepOnly() stops the loads no longer wanted: a stopped
// read ends within a row and its plane is never handed over, so a result
// replaced or removed mid-load never shows a stale map.
//
// After each wanted read ends the arrival handler runs on that worker thread;
// it should only post work to the owner's thread. Destruction stops every
// load, waits for the threads (a row each) and never calls the handler again.
// Everything but the handler runs on the owner's thread.
#pragma once

#include <atomic>
#include <compare>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "core/comparison/ErrorMapImage.h"

namespace quorlin {

struct ErrorMapKey {
  std::filesystem::path file;
  ErrorMapLayer layer = ErrorMapLayer::all;
  std::uint64_t resultIdentifier = 0;

  auto operator<=>(const ErrorMapKey&) const = default;
  bool operator==(const ErrorMapKey&) const = default;
};

class ErrorMapLoader {
 public:
  using Planes = std::map<ErrorMapKey, std::shared_ptr<const ErrorMapPlane>>;

  ErrorMapLoader();
  ~ErrorMapLoader();
  ErrorMapLoader(const ErrorMapLoader&) = delete;
  ErrorMapLoader& operator=(const ErrorMapLoader&) = delete;

  void setArrivalHandler(std::function<void()> handler);
  // Does nothing when the key is being read or read and not yet taken.
  void start(const ErrorMapKey& key);
  // Stops (and forgets the planes of) every load whose key is not in `wanted`.
  void keepOnly(const std::vector<ErrorMapKey>& wanted);
  // Some started load has not finished yet.
  bool isReading() const;
  Planes takeFinished();
  // Blocks until every started load has finished (for tests and benchmarks).
  void waitForAll();

 private:
  struct Shared;
  struct Load {
    std::shared_ptr<std::atomic<bool>> hasEnded = std::make_shared<std::atomic<bool>>(false);
    std::jthread thread;
  };
  void reapStopped();

  std::shared_ptr<Shared> shared_;
  std::map<ErrorMapKey, Load> loads_;   // started and not yet taken
  std::vector<Load> stopped_;           // ending on their own
};

}  // namespace quorlin
