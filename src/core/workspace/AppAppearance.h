// AppAppearance: the application's light or dark look, or the desktop's own.
// Stored as its raw text; shown by its display name.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace quorlin {

// `automatic` is the "auto" case (`auto` is a C++ keyword).
enum class AppAppearance { automatic, light, dark };

// All cases in order: auto, light, dark.
std::span<const AppAppearance> allAppAppearances();
// "auto", "light", "dark".
std::string_view rawValue(AppAppearance appearance);
// "Auto", "Light", "Dark".
std::string_view displayName(AppAppearance appearance);
// The case whose raw value is exactly `raw`; nothing for any other text.
std::optional<AppAppearance> appAppearanceFromRawValue(std::string_view raw);

}  // namespace quorlin
