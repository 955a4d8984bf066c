// AppSettings: the user's persistent preferences, shared by the main window,
// every workspace and the settings window.
//
// One instance per process, created at start over the per-user store and
// handed to whoever needs it (never fetched from a global). Construction reads
// every key (a missing key, or a value of another type, gives the default of
// the table below) and hands the custom tool directories to tool lookup.
// Every assignment writes through to the store at once, then: the custom tool
// directories go to tool lookup, so the next lookup searches them first; and
// the observers hear which setting changed (the desktop build applies the
// appearance when it hears of it, and once after construction).
//
// Readers take the current value when they need it: a workspace reads the
// delay when it schedules a regeneration and the parallel switch when a pass
// starts; the application hands "Threads per pass" to the engine's core budget
// whenever it changes. Main thread only. The store and the search path must outlive this
// object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/tools/ToolLookup.h"
#include "core/workspace/AppAppearance.h"
#include "core/workspace/ObserverList.h"
#include "core/workspace/SettingsStore.h"

namespace quorlin {

// The settings in table order.
enum class AppSetting {
  appearance,
  autoRegenerate,
  autoRegenerateDelay,
  encodeInParallel,
  hasSeenToolRequirements,
  customToolDirectories,
  threadsPerPass,
  toolTimeLimit,
  maximumPixelCount,
};

// One row of the settings table: the store key, the value used when the key is
// absent or holds another type (its alternative is the type the setting is
// stored as), and for the delay the range its slider offers; for the threads
// the counts accepted (a stored count outside them, or not whole, is Auto).
// "Threads per pass" is stored as a number, 0 standing for Auto.
struct AppSettingInfo {
  AppSetting setting;
  std::string_view key;
  SettingsValue defaultValue;
  double sliderMinimum = 0;
  double sliderMaximum = 0;
};

// All rows in table order.
std::span<const AppSettingInfo> appSettingsTable();
const AppSettingInfo& appSettingInfo(AppSetting setting);

class AppSettings {
 public:
  AppSettings(std::shared_ptr<SettingsStore> store, ToolSearchPath& toolSearchPath);
  AppSettings(const AppSettings&) = delete;
  AppSettings& operator=(const AppSettings&) = delete;

  AppAppearance appearance() const { return appearance_; }
  bool autoRegenerate() const { return autoRegenerate_; }
  double autoRegenerateDelay() const { return autoRegenerateDelay_; }  // seconds
  bool encodeInParallel() const { return encodeInParallel_; }
  bool hasSeenToolRequirements() const { return hasSeenToolRequirements_; }
  const std::vector<std::string>& customToolDirectories() const { return customToolDirectories_; }
  // "Threads per pass": nothing for Auto (every hardware thread).
  std::optional<int> threadsPerPass() const { return threadsPerPass_; }
  // How long one tool may run, in seconds (a stored value of 0 or less reads as the default).
  double toolTimeLimit() const { return toolTimeLimit_; }
  // The most pixels an image may declare to be decoded (below 1 reads as the default).
  std::uint64_t maximumPixelCount() const { return maximumPixelCount_; }

  void setAppearance(AppAppearance value);
  void setAutoRegenerate(bool value);
  void setAutoRegenerateDelay(double seconds);
  void setEncodeInParallel(bool value);
  void setHasSeenToolRequirements(bool value);
  void setCustomToolDirectories(std::vector<std::string> directories);
  // A count outside the accepted range is Auto.
  void setThreadsPerPass(std::optional<int> threads);
  void setToolTimeLimit(double seconds);
  void setMaximumPixelCount(std::uint64_t pixels);

  // The settings window's "Add Directory…": appends `directory` unless an
  // identical text is already listed. Returns whether it was added.
  bool addCustomToolDirectory(std::string directory);
  // The settings window's remove button of row `index`; nothing for an index
  // past the end.
  void removeCustomToolDirectory(std::size_t index);

  // The first showing of the main window: true (and the setting becomes true)
  // when the required tools window has never been shown; false afterwards.
  bool takeFirstToolRequirementsShowing();

  // Called after each assignment with the setting assigned.
  [[nodiscard]] Subscription observe(std::function<void(AppSetting)> observer) {
    return observers_.subscribe(std::move(observer));
  }

  SettingsStore& store() const { return *store_; }

 private:
  void changed(AppSetting setting);

  std::shared_ptr<SettingsStore> store_;
  ToolSearchPath& toolSearchPath_;
  AppAppearance appearance_;
  bool autoRegenerate_;
  double autoRegenerateDelay_;
  bool encodeInParallel_;
  bool hasSeenToolRequirements_;
  std::vector<std::string> customToolDirectories_;
  std::optional<int> threadsPerPass_;
  double toolTimeLimit_;
  std::uint64_t maximumPixelCount_;
  ObserverList<AppSetting> observers_;
};

}  // namespace quorlin
