// Help and About: one window each, kept when closed; the help keys in this
// platform's shortcut notation; the version line; the attributions in order
// with their links.
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

bool anyLabelContains(const QWidget* window, const QString& text) {
  for (const QString& label : labelTexts(window)) {
    if (label.contains(text)) return true;
  }
  return false;
}

TEST(AppHelpWindowTest, OneWindowKeptWhenClosedWithTheShortcutsInThisPlatformsNotation) {
  AppHelpWindowController controller;
  EXPECT_EQ(controller.window(), nullptr);
  controller.show();
  QWidget* window = controller.window();
  ASSERT_NE(window, nullptr);
  controller.show();
  EXPECT_EQ(controller.window(), window);
  window->resize(700, 500);
  window->close();
  controller.show();
  EXPECT_EQ(controller.window(), window);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->size(), QSize(700, 500));

  // Every key row of the help texts is shown, as the platform writes it.
  QStringList keys = labelTexts(window, QStringLiteral("helpKey"));
  QStringList expectedKeys;
  for (const auto& section : gui::helpSections()) {
    for (const auto& item : section.items) {
      if (item.isRow()) expectedKeys << QString::fromStdString(item.key);
    }
  }
  EXPECT_EQ(keys, expectedKeys);
#ifndef __APPLE__
  // Linux keyboards: Ctrl and Alt in place of the Mac signs, the minus sign kept.
  EXPECT_TRUE(keys.contains(QStringLiteral("Ctrl++ / Ctrl+\u2212")));
  EXPECT_TRUE(anyLabelContains(window, QStringLiteral("Shift-Alt-scroll zooms")));
  for (const QString& text : labelTexts(window)) {
    EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[\u2318\u2325\u21e7\u2303]|Option|Command"))))
        << text.toStdString();
  }
#endif
}

TEST(HelpTextsTest, MacShortcutsReadAsLinuxKeyNames) {
  using gui::pcKeyNotation;
  // Modifiers come out in one order whatever order the signs are written in.
  EXPECT_EQ(pcKeyNotation("⌥⌘T"), "Ctrl+Alt+T");
  EXPECT_EQ(pcKeyNotation("⌘⇧⌥R"), "Ctrl+Alt+Shift+R");
  EXPECT_EQ(pcKeyNotation("⌃⌘F"), "Ctrl+F");
  EXPECT_EQ(pcKeyNotation("press ⌘G. Then ⌘0"), "press Ctrl+G. Then Ctrl+0");
  EXPECT_EQ(pcKeyNotation("Shift-Option-scroll, Command-hover"), "Shift-Alt-scroll, Ctrl-hover");
  EXPECT_EQ(pcKeyNotation("Options"), "Options");
  EXPECT_EQ(pcKeyNotation(""), "");
}

TEST(AboutWindowTest, VersionLineShowsAnEnDashForWhatIsMissing) {
  using gui::versionLine;
  EXPECT_EQ(versionLine("1.0", std::nullopt), "Version 1.0 (–)");
  EXPECT_EQ(versionLine("2.3.1", ""), "Version 2.3.1 (–)");
  EXPECT_EQ(versionLine(std::nullopt, "7"), "Version – (7)");
  EXPECT_EQ(gui::buildVersionLine().rfind(std::string("Version ") + QUORLIN_VERSION + " (", 0), 0u)
      << gui::buildVersionLine();
}

TEST(AboutWindowTest, OneWindowWithTheVersionFooterYearAndEachAttributionLinked) {
  AboutWindowController controller;
  controller.show();
  QWidget* window = controller.window();
  ASSERT_NE(window, nullptr);
  window->close();
  controller.show();
  EXPECT_EQ(controller.window(), window);
  EXPECT_TRUE(window->isVisible());

  EXPECT_EQ(labelTexts(window, QStringLiteral("aboutVersion")),
            QStringList({QString::fromStdString(gui::buildVersionLine())}));
  QStringList footer = labelTexts(window, QStringLiteral("aboutFooter"));
  ASSERT_EQ(footer.size(), 1);
  EXPECT_TRUE(footer[0].contains(QString::number(QDate::currentDate().year())));

  const auto& attributions = gui::openSourceAttributions();
  QStringList names = labelTexts(window, QStringLiteral("attributionName"));
  QList<QLabel*> links = window->findChildren<QLabel*>(QStringLiteral("attributionLink"));
  ASSERT_EQ(std::size_t(links.size()), attributions.size());
  ASSERT_EQ(std::size_t(names.size()), attributions.size());
  for (std::size_t i = 0; i < attributions.size(); ++i) {
    QString url = QString::fromStdString(attributions[i].url);
    EXPECT_EQ(names[qsizetype(i)].toStdString(), attributions[i].name);
    EXPECT_TRUE(links[qsizetype(i)]->text().contains(QStringLiteral("href=\"%1\"").arg(url))) << attributions[i].name;
    EXPECT_TRUE(links[qsizetype(i)]->openExternalLinks());
  }
}

}  // namespace
}  // namespace quorlin::test
