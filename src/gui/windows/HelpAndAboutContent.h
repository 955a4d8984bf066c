// The static texts of the Help and About windows, kept apart from the widgets
// so that they can be checked on their own: the help sections, the
// open-source attributions, the version line and the footer.
//
// Shortcuts are written in the Mac notation (⌘, ⌥, ⇧, "Command-", "Option-");
// helpSections() gives them in the notation of the platform it was built for.
// Pure functions, any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin::gui {

// One line of a help section: a paragraph, or a key with its description.
struct HelpItem {
  std::string key;    // empty for a paragraph
  std::string text;

  bool isRow() const { return !key.empty(); }
  bool operator==(const HelpItem&) const = default;
};

struct HelpSection {
  std::string title;
  std::string symbolName;
  std::vector<HelpItem> items;
};

// The sections of the help window, in display order, with their shortcuts in
// this platform's notation.
std::vector<HelpSection> helpSections();

// The Mac shortcut notation rewritten for Linux and Windows keyboards: a run
// of modifier signs before a key becomes "Ctrl+Alt+Shift+KEY" (⌘ and ⌃ are
// Ctrl, ⌥ is Alt, ⇧ is Shift, in Qt's order), "Command-" becomes "Ctrl-" and
// "Option-" becomes "Alt-". Everything else is kept.
std::string pcKeyNotation(std::string_view macText);

struct OpenSourceAttribution {
  std::string name;
  std::string role;
  std::string license;
  std::string url;   // the project's home page
};

// The projects Quorlin runs, in display order.
const std::vector<OpenSourceAttribution>& openSourceAttributions();

// "Version 1.0 (42)"; a missing or empty value shows as "–".
std::string versionLine(std::optional<std::string_view> shortVersion, std::optional<std::string_view> buildVersion);

// The version line of this build: the project version, and the build number
// when the build defines one (QUORLIN_BUILD_NUMBER).
std::string buildVersionLine();

// The About footer for `year`.
std::string aboutFooter(int year);

}  // namespace quorlin::gui
