#include "core/workspace/AppAppearance.h"

#include <array>

namespace quorlin {

namespace {

struct AppearanceRow {
  AppAppearance appearance;
  std::string_view rawValue;
  std::string_view displayName;
};

constexpr std::array<AppearanceRow, 3> appearanceRows{{
    {AppAppearance::automatic, "auto", "Auto"},
    {AppAppearance::light, "light", "Light"},
    {AppAppearance::dark, "dark", "Dark"},
}};

constexpr std::array<AppAppearance, 3> appearanceCases{AppAppearance::automatic, AppAppearance::light,
                                                       AppAppearance::dark};

const AppearanceRow& row(AppAppearance appearance) {
  return appearanceRows[static_cast<std::size_t>(appearance)];
}

}  // namespace

std::span<const AppAppearance> allAppAppearances() { return appearanceCases; }

std::string_view rawValue(AppAppearance appearance) { return row(appearance).rawValue; }

std::string_view displayName(AppAppearance appearance) { return row(appearance).displayName; }

std::optional<AppAppearance> appAppearanceFromRawValue(std::string_view raw) {
  for (const auto& entry : appearanceRows) {
    if (entry.rawValue == raw) return entry.appearance;
  }
  return std::nullopt;
}

}  // namespace quorlin
