// The Settings window edits AppSettings and follows it: appearance, the
// auto-regeneration switch with its "Wait" row, parallel or serial encoding,
// the threads per pass, and the custom tool directories (added through the directory chooser,
// removed by their rows' buttons).
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

#include "GuiTestSupport.h"
#include "core/engine/CoreBudget.h"
#include "core/tools/ToolLookup.h"
#include "core/workspace/AppSettings.h"
#include "gui/windows/SettingsWindow.h"
#include "support/TestSupport.h"

namespace quorlin::gui {
namespace {

class SettingsWindowTest : public ::testing::Test {
 protected:
  SettingsWindowTest() { controller.show(); }

  QWidget* window() const { return controller.window(); }

  QAbstractButton* buttonTitled(const QString& text) const {
    for (auto* button : window()->findChildren<QAbstractButton*>()) {
      if (button->text() == text) return button;
    }
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
  }

  QWidget* waitRow() const { return window()->findChild<QWidget*>("waitRow"); }
  QSlider* delaySlider() const { return window()->findChild<QSlider*>(); }
  QString delayText() const { return window()->findChild<QLabel*>("delayText")->text(); }

  QStringList directoryRows() const {
    QStringList paths;
    for (auto* label : window()->findChildren<QLabel*>("directoryPath")) paths << label->text();
    return paths;
  }

  // Answers the next directory chooser with `directory`; returns the prompt
  // its accept button showed.
  QString chooseDirectoryWith(const std::filesystem::path& directory) {
    QString prompt;
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &prompt, directory] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      poll->stop();
      poll->deleteLater();
      prompt = dialog->labelText(QFileDialog::Accept);
      EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
      // With nothing typed, a directory chooser answers the directory it shows.
      dialog->setDirectory(QString::fromStdString(directory.string()));
      static_cast<QDialog*>(dialog)->accept();   // its own override is protected
    });
    poll->start(10);
    buttonTitled(QStringLiteral("Add Directory…"))->click();
    return prompt;
  }

  ExecutableURLCache cache;
  ToolSearchPath searchPath{cache, {}};
  std::shared_ptr<InMemorySettingsStore> store = std::make_shared<InMemorySettingsStore>();
  AppSettings settings{store, searchPath};
  SettingsWindowController controller{settings};
};

TEST_F(SettingsWindowTest, OneWindowWhoseSegmentsWriteTheSettingsAndFollowThem) {
  QWidget* first = window();
  ASSERT_NE(first, nullptr);
  controller.show();
  EXPECT_EQ(window(), first);

  EXPECT_TRUE(buttonTitled("Auto")->isChecked());
  buttonTitled("Dark")->click();
  EXPECT_EQ(settings.appearance(), AppAppearance::dark);
  settings.setAppearance(AppAppearance::light);
  EXPECT_FALSE(buttonTitled("Dark")->isChecked());
  buttonTitled("Serial")->click();
  EXPECT_FALSE(settings.encodeInParallel());
  settings.setEncodeInParallel(true);
  EXPECT_TRUE(buttonTitled("Parallel")->isChecked());
}

TEST_F(SettingsWindowTest, WaitRowShowsOnlyWhileAutoRegeneratingAndTheDelayStaysStored) {
  auto* toggle = window()->findChild<QCheckBox*>();
  ASSERT_NE(toggle, nullptr);
  EXPECT_FALSE(toggle->isChecked());
  EXPECT_FALSE(waitRow()->isVisibleTo(window()));

  toggle->click();
  EXPECT_TRUE(settings.autoRegenerate());
  EXPECT_TRUE(waitRow()->isVisibleTo(window()));
  delaySlider()->setValue(delaySlider()->maximum());
  EXPECT_DOUBLE_EQ(settings.autoRegenerateDelay(), 10.0);
  delaySlider()->setValue(260);   // 2.6 s: the field rounds to the nearest second
  EXPECT_DOUBLE_EQ(settings.autoRegenerateDelay(), 2.6);
  EXPECT_EQ(delayText(), "3 s");

  toggle->click();
  EXPECT_FALSE(settings.autoRegenerate());
  EXPECT_FALSE(waitRow()->isVisibleTo(window()));

  // Switched on elsewhere: the row comes back with the kept delay.
  settings.setAutoRegenerate(true);
  EXPECT_TRUE(toggle->isChecked());
  EXPECT_TRUE(waitRow()->isVisibleTo(window()));
  EXPECT_EQ(delaySlider()->value(), 260);
  settings.setAutoRegenerateDelay(4.45);
  EXPECT_EQ(delayText(), "4 s");
  EXPECT_NEAR(delaySlider()->value() / 100.0, 4.45, 0.006);
  EXPECT_DOUBLE_EQ(settings.autoRegenerateDelay(), 4.45);   // showing it did not round it
}

TEST_F(SettingsWindowTest, ThreadsPerPassOffersAutoAndEveryHardwareThreadAndFollowsTheSetting) {
  auto* picker = window()->findChild<QComboBox*>("threadsPerPass");
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(picker->currentText(), "Auto");
  EXPECT_EQ(picker->count(), 1 + CoreBudget::availableHardwareThreads());
  picker->activated(1);  // what choosing the row "1" emits
  EXPECT_EQ(settings.threadsPerPass(), 1);
  // A count beyond this computer's, chosen elsewhere, is still shown.
  const int beyond = CoreBudget::availableHardwareThreads() + 2;
  settings.setThreadsPerPass(beyond);
  EXPECT_EQ(picker->currentText(), QString::number(beyond));
  picker->activated(0);
  EXPECT_EQ(settings.threadsPerPass(), std::nullopt);
}

TEST_F(SettingsWindowTest, DirectoriesAreAddedOnceAndRemovedByTheirRowsWithToolLookupFollowing) {
  test::ScratchDirectory scratch;
  test::writeFakeTool(scratch / "first", "cjxl", "exit 0");
  std::filesystem::create_directories(scratch / "second");
  EXPECT_TRUE(directoryRows().isEmpty());
  ASSERT_FALSE(cache.locate("cjxl", searchPath.toolSearchDirectories()));

  EXPECT_EQ(chooseDirectoryWith(scratch / "first"), "Add");
  chooseDirectoryWith(scratch / "first");
  EXPECT_EQ(directoryRows(), QStringList{QString::fromStdString((scratch / "first").string())});
  ASSERT_TRUE(cache.locate("cjxl", searchPath.toolSearchDirectories()));
  chooseDirectoryWith(scratch / "second");
  EXPECT_EQ(directoryRows().size(), 2);

  auto removeButtons = window()->findChildren<QToolButton*>("removeDirectory");
  ASSERT_EQ(removeButtons.size(), 2);
  removeButtons[0]->click();
  EXPECT_EQ(directoryRows(), QStringList{QString::fromStdString((scratch / "second").string())});
  EXPECT_FALSE(cache.locate("cjxl", searchPath.toolSearchDirectories()));
  QApplication::processEvents();   // the removed row is deleted later, safely
}

}  // namespace
}  // namespace quorlin::gui
