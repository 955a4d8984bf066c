#include "gui/windows/HelpAndAboutContent.h"

#include <array>

#include "core/common/PlatformTexts.h"

namespace quorlin::gui {

namespace {

HelpItem text(std::string value) { return {{}, std::move(value)}; }
HelpItem row(std::string key, std::string value) { return {std::move(key), std::move(value)}; }

std::vector<HelpSection> macHelpSections() {
  return {
      {"Getting Started",
       "play.circle",
       {text("Open or drag in a still image, choose a codec and settings in each panel, then click Generate or "
             "press ⌘G. The four decoded results appear as aligned quadrants."),
        text("Set Quality gives each panel independent quality controls. Target Score searches for the smallest "
             "result near the selected SSIMULACRA2 score.")}},
      {"Inspecting the Comparison",
       "viewfinder",
       {row("Space", "Hold to show the original image."),
        row("Shift", "Hold to show the amplified difference between each decoded result and the original."),
        row("Shift-scroll", "Change difference gain through 1×, 2×, 4×, 8×, 16×, and 32×. New tabs start at 2×."),
        row("Shift-1 … Shift-6", "Jump directly to 1×, 2×, 4×, 8×, 16×, or 32× respectively."),
        text("Difference uses absolute per-channel error at the selected gain. Black pixels are identical; "
             "brighter pixels differ more, and their color shows which channels changed."),
        row("Drag", "Move the four-way comparison split."),
        row("Two-finger scroll", "Pan a zoomed image."),
        row("Command-hover", "Pan a zoomed image toward the pointer."),
        row("Option-scroll",
            "Zoom around the pointer. Shift-Option-scroll zooms while the difference is visible.")}},
      {"Zoom",
       "magnifyingglass",
       {row("⌘+ / ⌘−", "Zoom in or out."),
        row("⌘0", "Fit the image and reset its pan."),
        row("⌘1", "Show actual size."),
        row("⌘2 / ⌘4 / ⌘6 / ⌘8", "Jump to 200%, 400%, 600%, or 800%."),
        text("The percentage button shows the current displayed scale and returns to actual size when clicked.")}},
      {"Results and Files",
       "doc.badge.gearshape",
       {text("Each panel reports encoded size, savings, bits per pixel, SSIMULACRA2, and encode/decode "
             "performance."),
        text("Use a panel’s metadata action to inspect the encoded file with ExifTool, or Export to save that "
             "encoded result."),
        text("Original File Specs shows dimensions, format, bit depth, color profile, alpha, DPI, and "
             "orientation when available.")}},
      {"Tabs and Tools",
       "square.on.square",
       {row("⌘T", "Create a comparison tab."),
        row("⌥⌘T", "Create a Target Score comparison tab."),
        row("⇧⌘C", "Open the command console."),
        row("⌥⌘R", "Open Required Tools. Also in the toolbar and the Help menu."),
        text(std::string(platformTexts().requiredToolsHelp))}},
  };
}

// The modifier signs in the order Qt writes their names.
struct Modifier {
  std::string_view sign;
  int bit;
};
constexpr std::array<Modifier, 4> modifierSigns{{{"⌘", 1}, {"⌃", 1}, {"⌥", 2}, {"⇧", 4}}};
constexpr std::array<std::pair<int, std::string_view>, 3> modifierNames{{{1, "Ctrl"}, {2, "Alt"}, {4, "Shift"}}};
constexpr std::array<std::pair<std::string_view, std::string_view>, 2> modifierWords{
    {{"Command-", "Ctrl-"}, {"Option-", "Alt-"}}};

int modifierAt(std::string_view text, std::size_t index, std::size_t& length) {
  for (const Modifier& modifier : modifierSigns) {
    if (text.substr(index, modifier.sign.size()) == modifier.sign) {
      length = modifier.sign.size();
      return modifier.bit;
    }
  }
  return 0;
}

// Bytes in the UTF-8 sequence that starts with `lead`.
std::size_t codePointLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::string pcKeyNotation(std::string_view macText) {
  std::string result;
  std::size_t index = 0;
  while (index < macText.size()) {
    std::size_t length = 0;
    if (modifierAt(macText, index, length) != 0) {
      int modifiers = 0;
      while (int bit = modifierAt(macText, index, length)) {
        modifiers |= bit;
        index += length;
      }
      std::string names;
      for (const auto& [bit, name] : modifierNames) {
        if (!(modifiers & bit)) continue;
        if (!names.empty()) names += '+';
        names += name;
      }
      result += names;
      if (index < macText.size() && macText[index] != ' ') {
        std::size_t keyLength = codePointLength(static_cast<unsigned char>(macText[index]));
        result += "+";
        result += macText.substr(index, keyLength);
        index += keyLength;
      }
      continue;
    }
    bool isWord = false;
    for (const auto& [word, replacement] : modifierWords) {
      if (macText.substr(index, word.size()) == word) {
        result += replacement;
        index += word.size();
        isWord = true;
        break;
      }
    }
    if (!isWord) result += macText[index++];
  }
  return result;
}

std::vector<HelpSection> helpSections() {
  std::vector<HelpSection> sections = macHelpSections();
#ifndef __APPLE__
  for (HelpSection& section : sections) {
    for (HelpItem& item : section.items) {
      item.key = pcKeyNotation(item.key);
      item.text = pcKeyNotation(item.text);
    }
  }
#endif
  return sections;
}

const std::vector<OpenSourceAttribution>& openSourceAttributions() {
  static const std::vector<OpenSourceAttribution> attributions{
      {"libjxl (JPEG XL)", "JPEG XL encoder, decoder, and file inspector (cjxl, djxl, jxlinfo).", "BSD 3-Clause",
       "https://github.com/libjxl/libjxl"},
      {"SSIMULACRA 2",
       "Perceptual quality metric behind every score and Target Score search (ssimulacra2, shipped with libjxl).",
       "BSD 3-Clause", "https://github.com/cloudinary/ssimulacra2"},
      {"jpegli", "Improved JPEG encoder and decoder (cjpegli, djpegli).", "BSD 3-Clause",
       "https://github.com/google/jpegli"},
      {"libavif", "AVIF encoder and decoder (avifenc, avifdec).", "BSD 2-Clause",
       "https://github.com/AOMediaCodec/libavif"},
      {"libwebp", "WebP encoder and decoder (cwebp, dwebp).", "BSD 3-Clause",
       "https://developers.google.com/speed/webp"},
      {"libheif", "HEIF, AVIF, and JPEG 2000 encoder and decoder (heif-enc, heif-dec).",
       "LGPL 3.0 library; MIT example tools", "https://github.com/strukturag/libheif"},
      {"libjpeg-turbo", "Baseline and progressive JPEG encoder (cjpeg).", "IJG, BSD 3-Clause, and zlib",
       "https://libjpeg-turbo.org"},
      {"ExifTool", "Metadata inspection of encoded files (exiftool).", "Perl Artistic License / GPL",
       "https://exiftool.org"},
      {"Homebrew", "Recommended package manager for installing the tools above.", "BSD 2-Clause", "https://brew.sh"},
  };
  // Elsewhere the tools come from the system's own package manager.
  static const std::vector<OpenSourceAttribution> withoutHomebrew(attributions.begin(), attributions.end() - 1);
  if (!platformTexts().creditsHomebrew) return withoutHomebrew;
  return attributions;
}

std::string versionLine(std::optional<std::string_view> shortVersion, std::optional<std::string_view> buildVersion) {
  auto shown = [](std::optional<std::string_view> value) {
    return value && !value->empty() ? std::string(*value) : std::string("–");
  };
  return "Version " + shown(shortVersion) + " (" + shown(buildVersion) + ")";
}

std::string buildVersionLine() {
#ifdef QUORLIN_VERSION
  std::optional<std::string_view> shortVersion = QUORLIN_VERSION;
#else
  std::optional<std::string_view> shortVersion;
#endif
#ifdef QUORLIN_BUILD_NUMBER
  std::optional<std::string_view> buildVersion = QUORLIN_BUILD_NUMBER;
#else
  std::optional<std::string_view> buildVersion;
#endif
  return versionLine(shortVersion, buildVersion);
}

std::string aboutFooter(int year) {
  return "© " + std::to_string(year) +
         " The Quorlin developers. Each project above is distributed under its own license.";
}

}  // namespace quorlin::gui
