#include "core/workspace/AppSettings.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/common/DeclaredImageSize.h"
#include "core/tools/ProcessRunner.h"

namespace quorlin {

namespace {

const std::array<AppSettingInfo, 9>& table() {
  static const std::array<AppSettingInfo, 9> rows{{
      {AppSetting::appearance, "appAppearance", std::string(rawValue(AppAppearance::automatic))},
      {AppSetting::autoRegenerate, "autoRegenerate", false},
      {AppSetting::autoRegenerateDelay, "autoRegenerateDelay", 1.0, 1.0, 10.0},
      {AppSetting::encodeInParallel, "encodeInParallel", true},
      {AppSetting::hasSeenToolRequirements, "hasSeenToolRequirements", false},
      {AppSetting::customToolDirectories, "customToolDirectories", std::vector<std::string>{}},
      {AppSetting::threadsPerPass, "threadsPerPass", 0.0, 1.0, 1024.0},
      {AppSetting::toolTimeLimit, "toolTimeLimit", defaultToolTimeLimitSeconds},
      {AppSetting::maximumPixelCount, "maximumPixelCount", static_cast<double>(defaultMaximumPixelCount)},
  }};
  return rows;
}

template <typename T>
const T& defaultOf(AppSetting setting) {
  return std::get<T>(appSettingInfo(setting).defaultValue);
}

std::string_view keyOf(AppSetting setting) { return appSettingInfo(setting).key; }

// A whole count within the accepted range, else Auto.
std::optional<int> acceptedThreads(std::optional<double> count) {
  const AppSettingInfo& info = appSettingInfo(AppSetting::threadsPerPass);
  if (!count || *count != std::floor(*count) || *count < info.sliderMinimum || *count > info.sliderMaximum) {
    return std::nullopt;
  }
  return static_cast<int>(*count);
}

}  // namespace

std::span<const AppSettingInfo> appSettingsTable() { return table(); }

const AppSettingInfo& appSettingInfo(AppSetting setting) { return table()[static_cast<std::size_t>(setting)]; }

AppSettings::AppSettings(std::shared_ptr<SettingsStore> store, ToolSearchPath& toolSearchPath)
    : store_(std::move(store)), toolSearchPath_(toolSearchPath) {
  const SettingsStore& s = *store_;
  auto storedAppearance = s.stringValue(keyOf(AppSetting::appearance));
  appearance_ = appAppearanceFromRawValue(storedAppearance.value_or(""))
                    .value_or(*appAppearanceFromRawValue(defaultOf<std::string>(AppSetting::appearance)));
  autoRegenerate_ = s.boolValue(keyOf(AppSetting::autoRegenerate))
                        .value_or(defaultOf<bool>(AppSetting::autoRegenerate));
  autoRegenerateDelay_ = s.doubleValue(keyOf(AppSetting::autoRegenerateDelay))
                             .value_or(defaultOf<double>(AppSetting::autoRegenerateDelay));
  encodeInParallel_ = s.boolValue(keyOf(AppSetting::encodeInParallel))
                          .value_or(defaultOf<bool>(AppSetting::encodeInParallel));
  hasSeenToolRequirements_ = s.boolValue(keyOf(AppSetting::hasSeenToolRequirements))
                                 .value_or(defaultOf<bool>(AppSetting::hasSeenToolRequirements));
  customToolDirectories_ = s.stringListValue(keyOf(AppSetting::customToolDirectories))
                               .value_or(defaultOf<std::vector<std::string>>(AppSetting::customToolDirectories));
  threadsPerPass_ = acceptedThreads(s.doubleValue(keyOf(AppSetting::threadsPerPass)));
  toolSearchPath_.setCustomToolDirectories(customToolDirectories_);
  double limit = s.doubleValue(keyOf(AppSetting::toolTimeLimit)).value_or(0);
  toolTimeLimit_ = limit > 0 ? limit : defaultOf<double>(AppSetting::toolTimeLimit);
  double pixels = s.doubleValue(keyOf(AppSetting::maximumPixelCount)).value_or(0);
  maximumPixelCount_ = static_cast<std::uint64_t>(pixels >= 1 && pixels < 1e18 ? pixels
                                                                                : defaultOf<double>(AppSetting::maximumPixelCount));
}

void AppSettings::setAppearance(AppAppearance value) {
  appearance_ = value;
  store_->setValue(keyOf(AppSetting::appearance), std::string(rawValue(value)));
  changed(AppSetting::appearance);
}

void AppSettings::setAutoRegenerate(bool value) {
  autoRegenerate_ = value;
  store_->setValue(keyOf(AppSetting::autoRegenerate), value);
  changed(AppSetting::autoRegenerate);
}

void AppSettings::setAutoRegenerateDelay(double seconds) {
  autoRegenerateDelay_ = seconds;
  store_->setValue(keyOf(AppSetting::autoRegenerateDelay), seconds);
  changed(AppSetting::autoRegenerateDelay);
}

void AppSettings::setEncodeInParallel(bool value) {
  encodeInParallel_ = value;
  store_->setValue(keyOf(AppSetting::encodeInParallel), value);
  changed(AppSetting::encodeInParallel);
}

void AppSettings::setHasSeenToolRequirements(bool value) {
  hasSeenToolRequirements_ = value;
  store_->setValue(keyOf(AppSetting::hasSeenToolRequirements), value);
  changed(AppSetting::hasSeenToolRequirements);
}

void AppSettings::setCustomToolDirectories(std::vector<std::string> directories) {
  customToolDirectories_ = std::move(directories);
  store_->setValue(keyOf(AppSetting::customToolDirectories), customToolDirectories_);
  toolSearchPath_.setCustomToolDirectories(customToolDirectories_);
  changed(AppSetting::customToolDirectories);
}

void AppSettings::setToolTimeLimit(double seconds) {
  toolTimeLimit_ = seconds > 0 ? seconds : defaultOf<double>(AppSetting::toolTimeLimit);
  store_->setValue(keyOf(AppSetting::toolTimeLimit), toolTimeLimit_);
  changed(AppSetting::toolTimeLimit);
}

void AppSettings::setMaximumPixelCount(std::uint64_t pixels) {
  maximumPixelCount_ = pixels > 0 ? pixels : static_cast<std::uint64_t>(defaultOf<double>(AppSetting::maximumPixelCount));
  store_->setValue(keyOf(AppSetting::maximumPixelCount), static_cast<double>(maximumPixelCount_));
  changed(AppSetting::maximumPixelCount);
}

void AppSettings::setThreadsPerPass(std::optional<int> threads) {
  threadsPerPass_ = acceptedThreads(threads ? std::optional<double>(*threads) : std::nullopt);
  store_->setValue(keyOf(AppSetting::threadsPerPass), static_cast<double>(threadsPerPass_.value_or(0)));
  changed(AppSetting::threadsPerPass);
}

bool AppSettings::addCustomToolDirectory(std::string directory) {
  if (std::find(customToolDirectories_.begin(), customToolDirectories_.end(), directory) !=
      customToolDirectories_.end()) {
    return false;
  }
  auto directories = customToolDirectories_;
  directories.push_back(std::move(directory));
  setCustomToolDirectories(std::move(directories));
  return true;
}

void AppSettings::removeCustomToolDirectory(std::size_t index) {
  if (index >= customToolDirectories_.size()) return;
  auto directories = customToolDirectories_;
  directories.erase(directories.begin() + static_cast<std::ptrdiff_t>(index));
  setCustomToolDirectories(std::move(directories));
}

bool AppSettings::takeFirstToolRequirementsShowing() {
  if (hasSeenToolRequirements_) return false;
  setHasSeenToolRequirements(true);
  return true;
}

void AppSettings::changed(AppSetting setting) { observers_.notify(setting); }

}  // namespace quorlin
