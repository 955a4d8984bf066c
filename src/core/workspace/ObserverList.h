// ObserverList: how the workspace models tell views that something changed.
//
// A view subscribes with a callback and keeps the returned Subscription for as
// long as it wants to hear; dropping the Subscription unsubscribes. Either side
// may go first: a Subscription outliving its list does nothing when dropped.
//
// Callbacks run in subscription order, synchronously inside notify(). A
// callback may subscribe or unsubscribe (itself or others) while being
// notified: the round in progress still reaches every observer that was
// subscribed when it began and has not been dropped since.
//
// Main thread only, like the models that own the lists.
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace quorlin {

class Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  ~Subscription() { reset(); }
  Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      reset();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  // Unsubscribes now; idempotent.
  void reset() {
    if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
  }

 private:
  std::function<void()> cancel_;
};

template <typename... Arguments>
class ObserverList {
 public:
  using Callback = std::function<void(Arguments...)>;

  [[nodiscard]] Subscription subscribe(Callback callback) {
    auto entry = std::make_shared<Entry>(Entry{std::move(callback), true});
    entries_->push_back(entry);
    std::weak_ptr<std::vector<std::shared_ptr<Entry>>> weakEntries = entries_;
    return Subscription([weakEntries, entry] {
      entry->isSubscribed = false;
      if (auto entries = weakEntries.lock()) {
        std::erase(*entries, entry);
      }
    });
  }

  void notify(const Arguments&... arguments) const {
    // A copy, so callbacks may change the list while this round runs.
    auto round = *entries_;
    for (const auto& entry : round) {
      if (entry->isSubscribed) entry->callback(arguments...);
    }
  }

  std::size_t count() const { return entries_->size(); }

 private:
  struct Entry {
    Callback callback;
    bool isSubscribed;
  };

  std::shared_ptr<std::vector<std::shared_ptr<Entry>>> entries_ =
      std::make_shared<std::vector<std::shared_ptr<Entry>>>();
};

}  // namespace quorlin
