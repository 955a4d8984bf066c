// Help and About: one window each, kept when closed; the help texts with
// their special characters and this platform's shortcut notation; the
// version line; the attributions in order with their links.
#include <QDate>
#include <QLabel>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "gui/windows/HelpAndAboutContent.h"
#include "gui/windows/HelpAndAboutWindows.h"

namespace quorlin::test {
namespace {

using gui::AboutWindowController;
using gui::AppHelpWindowController;

QStringList labelTexts(const QWidget* window, const QString& objectName = {}) {
  QStringList texts;
  for (const QLabel* label : window->findChildren<QLabel*>(objectName)) texts << label->text();
  return texts;
}

bool anyLabelContains(const QWidget* window, const QString& text) {
  for (const QString& label : labelTexts(window)) {
    if (label.contains(text)) return true;
  }
  return false;
}

TEST(AppHelpWindowTest, ShowingTwiceGivesOneWindowThatComesBackAfterClosingAtItsSize) {
  AppHelpWindowController controller;
  EXPECT_EQ(controller.window(), nullptr);
  controller.show();
  QWidget* window = controller.window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Quorlin Help"));
  EXPECT_EQ(window->size(), QSize(680, 660));
  EXPECT_EQ(window->minimumSize(), QSize(560, 440));
  controller.show();
  EXPECT_EQ(controller.window(), window);

  window->resize(700, 500);
  window->close();
  EXPECT_FALSE(window->isVisible());
  controller.show();
  EXPECT_EQ(controller.window(), window);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->size(), QSize(700, 500));
}

TEST(AppHelpWindowTest, ShowsEverySectionWithItsSpecialCharacters) {
  AppHelpWindowController controller;
  controller.show();
  QWidget* window = controller.window();
  QStringList titles;
  for (const QWidget* title : window->findChildren<QWidget*>(QStringLiteral("helpSectionTitle"))) {
    titles << title->findChild<QLabel*>()->text();
  }
  EXPECT_EQ(titles, QStringList({"Getting Started", "Inspecting the Comparison", "Zoom", "Results and Files",
                                 "Tabs and Tools"}));
  QStringList keys = labelTexts(window, QStringLiteral("helpKey"));
  EXPECT_EQ(keys.size(), 16);
  EXPECT_TRUE(keys.contains(QStringLiteral("Shift-1 \u2026 Shift-6")));
  EXPECT_TRUE(anyLabelContains(window, QStringLiteral("1\u00d7, 2\u00d7, 4\u00d7, 8\u00d7, 16\u00d7, and 32\u00d7")));
  EXPECT_TRUE(anyLabelContains(window, QStringLiteral("Use a panel\u2019s metadata action")));
  EXPECT_TRUE(anyLabelContains(window, QStringLiteral("Jump to 200%, 400%, 600%, or 800%.")));
#ifdef __APPLE__
  EXPECT_TRUE(keys.contains(QStringLiteral("\u2318+ / \u2318\u2212")));
#else
  // Linux keyboards: Ctrl and Alt in place of the Mac signs, the minus sign kept.
  EXPECT_TRUE(keys.contains(QStringLiteral("Ctrl++ / Ctrl+\u2212")));
  EXPECT_TRUE(keys.contains(QStringLiteral("Ctrl+Alt+T")));
  EXPECT_TRUE(keys.contains(QStringLiteral("Ctrl-hover")));
  EXPECT_TRUE(anyLabelContains(window, QStringLiteral("then click Generate or press Ctrl+G.")));
  EXPECT_TRUE(anyLabelContains(window, QStringLiteral("Shift-Alt-scroll zooms")));
  for (const QString& text : labelTexts(window)) {
    EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[\u2318\u2325\u21e7\u2303]|Option|Command"))))
        << text.toStdString();
  }
#endif
}

TEST(HelpTextsTest, MacShortcutsReadAsLinuxKeyNames) {
  using gui::pcKeyNotation;
  EXPECT_EQ(pcKeyNotation("⌘G"), "Ctrl+G");
  EXPECT_EQ(pcKeyNotation("⌘+ / ⌘−"), "Ctrl++ / Ctrl+−");
  EXPECT_EQ(pcKeyNotation("⌘2 / ⌘4 / ⌘6 / ⌘8"), "Ctrl+2 / Ctrl+4 / Ctrl+6 / Ctrl+8");
  // Modifiers come out in one order whatever order the signs are written in.
  EXPECT_EQ(pcKeyNotation("⌥⌘T"), "Ctrl+Alt+T");
  EXPECT_EQ(pcKeyNotation("⇧⌘C"), "Ctrl+Shift+C");
  EXPECT_EQ(pcKeyNotation("⌘⇧⌥R"), "Ctrl+Alt+Shift+R");
  EXPECT_EQ(pcKeyNotation("⌃⌘F"), "Ctrl+F");
  EXPECT_EQ(pcKeyNotation("press ⌘G. Then ⌘0"), "press Ctrl+G. Then Ctrl+0");
  EXPECT_EQ(pcKeyNotation("Hold ⌘ to pan"), "Hold Ctrl to pan");
  EXPECT_EQ(pcKeyNotation("⌥"), "Alt");
  EXPECT_EQ(pcKeyNotation("Shift-Option-scroll, Command-hover"), "Shift-Alt-scroll, Ctrl-hover");
  EXPECT_EQ(pcKeyNotation("Shift-1 … Shift-6: 1×"), "Shift-1 … Shift-6: 1×");
  EXPECT_EQ(pcKeyNotation("Options"), "Options");
  EXPECT_EQ(pcKeyNotation(""), "");
}

TEST(AboutWindowTest, VersionLineShowsAnEnDashForWhatIsMissing) {
  using gui::versionLine;
  EXPECT_EQ(versionLine("1.0", std::nullopt), "Version 1.0 (–)");
  EXPECT_EQ(versionLine("1.0", "42"), "Version 1.0 (42)");
  EXPECT_EQ(versionLine("2.3.1", ""), "Version 2.3.1 (–)");
  EXPECT_EQ(versionLine(std::nullopt, "7"), "Version – (7)");
  EXPECT_EQ(versionLine(std::nullopt, std::nullopt), "Version – (–)");
  EXPECT_EQ(gui::buildVersionLine().rfind(std::string("Version ") + QUORLIN_VERSION + " (", 0), 0u)
      << gui::buildVersionLine();
}

TEST(AboutWindowTest, OneWindowWithTheVersionIconSpaceAndFooterYear) {
  AboutWindowController controller;
  controller.show();
  QWidget* window = controller.window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("About Quorlin"));
  EXPECT_EQ(window->size(), QSize(560, 540));
  EXPECT_EQ(window->minimumSize(), QSize(480, 420));
  window->close();
  controller.show();
  EXPECT_EQ(controller.window(), window);
  EXPECT_TRUE(window->isVisible());

  EXPECT_EQ(labelTexts(window, QStringLiteral("aboutVersion")),
            QStringList({QString::fromStdString(gui::buildVersionLine())}));
  const QLabel* icon = window->findChild<QLabel*>(QStringLiteral("aboutIcon"));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->size(), QSize(96, 96));
  QStringList footer = labelTexts(window, QStringLiteral("aboutFooter"));
  ASSERT_EQ(footer.size(), 1);
  EXPECT_TRUE(footer[0].contains(QString::number(QDate::currentDate().year())));
  EXPECT_TRUE(anyLabelContains(window, QStringLiteral("Open Source Software")));
  EXPECT_TRUE(anyLabelContains(window, QStringLiteral("They are not bundled with the app; install them with "
                                                      "your package manager (see Required Tools).")));
}

TEST(AboutWindowTest, AttributionsAppearInOrderEachWithItsHomePageLink) {
  AboutWindowController controller;
  controller.show();
  QWidget* window = controller.window();
  EXPECT_EQ(labelTexts(window, QStringLiteral("attributionName")),
            QStringList({"libjxl (JPEG XL)", "SSIMULACRA 2", "jpegli", "libavif", "libwebp", "libheif",
                         "libjpeg-turbo", "ExifTool"}));

  const auto& attributions = gui::openSourceAttributions();
  QList<QLabel*> links = window->findChildren<QLabel*>(QStringLiteral("attributionLink"));
  ASSERT_EQ(std::size_t(links.size()), attributions.size());
  for (std::size_t i = 0; i < attributions.size(); ++i) {
    QString url = QString::fromStdString(attributions[i].url);
    EXPECT_TRUE(url.startsWith(QStringLiteral("https://"))) << attributions[i].name;
    EXPECT_TRUE(links[qsizetype(i)]->text().contains(QStringLiteral("href=\"%1\"").arg(url))) << attributions[i].name;
    EXPECT_TRUE(links[qsizetype(i)]->openExternalLinks());
  }
  EXPECT_EQ(attributions[5].license, "LGPL 3.0 library; MIT example tools");
  EXPECT_EQ(attributions[6].role, "Baseline and progressive JPEG encoder (cjpeg).");
  EXPECT_TRUE(anyLabelContains(window, QStringLiteral("Perl Artistic License / GPL")));
}

}  // namespace
}  // namespace quorlin::test
