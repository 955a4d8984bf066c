#include "core/comparison/ErrorMapLoader.h"

#include <algorithm>
#include <mutex>

namespace quorlin {

struct ErrorMapLoader::Shared {
  std::mutex mutex;
  Planes finished;
  std::function<void()> onArrival;
};

ErrorMapLoader::ErrorMapLoader() : shared_(std::make_shared<Shared>()) {}

ErrorMapLoader::~ErrorMapLoader() {
  std::lock_guard lock(shared_->mutex);
  shared_->onArrival = nullptr;
  // The threads are stopped and joined by their destructors, after the lock.
}

void ErrorMapLoader::setArrivalHandler(std::function<void()> handler) {
  std::lock_guard lock(shared_->mutex);
  shared_->onArrival = std::move(handler);
}

void ErrorMapLoader::start(const ErrorMapKey& key) {
  if (loads_.count(key) != 0) return;
  Load load;
  load.thread = std::jthread([shared = shared_, hasEnded = load.hasEnded, key](std::stop_token stop) {
    auto plane = readErrorMapPlane(key.file, key.layer, stop);
    {
      std::lock_guard lock(shared->mutex);
      // keepOnly asks for the stop before it clears this key under the lock,
      // so a stopped read never leaves its plane behind.
      if (!stop.stop_requested()) {
        shared->finished[key] = std::move(plane);
        if (shared->onArrival) shared->onArrival();
      }
    }
    *hasEnded = true;
  });
  loads_.emplace(key, std::move(load));
}

void ErrorMapLoader::keepOnly(const std::vector<ErrorMapKey>& wanted) {
  reapStopped();
  for (auto load = loads_.begin(); load != loads_.end();) {
    if (std::find(wanted.begin(), wanted.end(), load->first) != wanted.end()) {
      ++load;
      continue;
    }
    load->second.thread.request_stop();
    {
      std::lock_guard lock(shared_->mutex);
      shared_->finished.erase(load->first);
    }
    // The thread may still be inside a read (or blocked opening the file): it
    // ends on its own and is joined once it has.
    stopped_.push_back(std::move(load->second));
    load = loads_.erase(load);
  }
}

void ErrorMapLoader::reapStopped() {
  std::erase_if(stopped_, [](const Load& load) { return load.hasEnded->load(); });
}

bool ErrorMapLoader::isReading() const {
  std::lock_guard lock(shared_->mutex);
  return std::any_of(loads_.begin(), loads_.end(),
                     [&](const auto& load) { return shared_->finished.count(load.first) == 0; });
}

ErrorMapLoader::Planes ErrorMapLoader::takeFinished() {
  Planes planes;
  {
    std::lock_guard lock(shared_->mutex);
    planes.swap(shared_->finished);
  }
  for (const auto& entry : planes) loads_.erase(entry.first);   // each thread is past its last step
  return planes;
}

void ErrorMapLoader::waitForAll() {
  for (auto& [key, load] : loads_) {
    if (load.thread.joinable()) load.thread.join();
  }
}

}  // namespace quorlin
