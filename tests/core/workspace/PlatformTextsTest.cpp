#include "core/common/PlatformTexts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common/CompressionError.h"
#include "core/workspace/WorkspaceTexts.h"

namespace quorlin {
namespace {

std::vector<std::string_view> sentencesOf(const PlatformTexts& texts) {
  return {texts.chooseSupportedImage,     texts.installMissingTool,       texts.requiredToolsExplanation,
          texts.acknowledgementsIntro,    texts.requiredToolsHelp,        texts.toolDirectoriesExplanation,
          texts.systemHEIFQualityTooltip, texts.systemJPEGQualityTooltip};
}

TEST(PlatformTextsTest, UsersSeeTheLinuxTableWhichNamesNoMacOSPartsWhileTheMacOSTableKeepsThem) {
  for (std::string_view sentence : sentencesOf(linuxTexts())) {
    for (std::string_view foreign : {"macOS", "Homebrew", "ImageIO", "brew"}) {
      EXPECT_EQ(sentence.find(foreign), std::string_view::npos) << sentence;
    }
  }
  EXPECT_FALSE(linuxTexts().creditsHomebrew);
  EXPECT_NE(macOSTexts().requiredToolsExplanation.find("macOS ImageIO"), std::string_view::npos);
  EXPECT_NE(macOSTexts().installMissingTool.find("Homebrew"), std::string_view::npos);
  // The texts users see come from this platform's table.
#ifndef __APPLE__
  ASSERT_EQ(&platformTexts(), &linuxTexts());
#endif
  EXPECT_EQ(CompressionError::missingTool("cjpegli").message(),
            "Missing command-line tool: cjpegli. " + std::string(platformTexts().installMissingTool));
  EXPECT_EQ(WorkspaceTexts::loadErrorAlert("a.bin"),
            "\u201C" "a.bin\u201D could not be read as an image. " + std::string(platformTexts().chooseSupportedImage));
}

}  // namespace
}  // namespace quorlin
