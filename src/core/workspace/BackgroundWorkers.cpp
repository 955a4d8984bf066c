#include "core/workspace/BackgroundWorkers.h"

#include <thread>

namespace quorlin {

BackgroundWorkers::BackgroundWorkers() : state_(std::make_shared<State>()) {}

void BackgroundWorkers::start(std::function<void()> work) {
  {
    std::lock_guard lock(state_->mutex);
    ++state_->running;
  }
  try {
    std::thread([state = state_, work = std::move(work)]() mutable noexcept {
      work();
      // Release what the work held before reporting it finished, so a waiter
      // that then tears things down is the last owner.
      work = nullptr;
      std::lock_guard lock(state->mutex);
      if (--state->running == 0) state->idle.notify_all();
    }).detach();
  } catch (...) {
    std::lock_guard lock(state_->mutex);
    if (--state_->running == 0) state_->idle.notify_all();
    throw;
  }
}

std::size_t BackgroundWorkers::runningCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->running;
}

bool BackgroundWorkers::waitUntilIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->idle.wait_for(lock, timeout, [this] { return state_->running == 0; });
}

}  // namespace quorlin
