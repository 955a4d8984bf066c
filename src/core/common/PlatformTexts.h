// PlatformTexts: the user-facing sentences that depend on the operating
// system (which image library the "(System)" codecs use, where the tools come
// from). One table per platform; everything that shows such a text reads it
// from platformTexts(), so no sentence about one system reaches the other.
#pragma once

#include <string_view>

namespace quorlin {

struct PlatformTexts {
  // Ends the "Couldn't Open Image" alert, after the file name's sentence.
  std::string_view chooseSupportedImage;
  // Ends the missing-tool error, after "Missing command-line tool: NAME. ".
  std::string_view installMissingTool;
  // The Required Tools window's explanation.
  std::string_view requiredToolsExplanation;
  // The About window's paragraph above the acknowledgements.
  std::string_view acknowledgementsIntro;
  // The Help page's paragraph on Required Tools.
  std::string_view requiredToolsHelp;
  // The Settings window's explanation of custom tool folders.
  std::string_view toolDirectoriesExplanation;
  // The quality tooltips of the two "(System)" codecs.
  std::string_view systemHEIFQualityTooltip;
  std::string_view systemJPEGQualityTooltip;
  // Whether About credits Homebrew as the package manager for the tools.
  bool creditsHomebrew;
};

const PlatformTexts& macOSTexts();
const PlatformTexts& linuxTexts();
// The table of the system Quorlin was built for.
const PlatformTexts& platformTexts();

}  // namespace quorlin
