// PreferencesView: the content of the Settings window, a grouped form bound
// to AppSettings: appearance; auto-regeneration with its delay ("Wait", shown
// only while auto-regeneration is on), parallel or serial encoding and the
// threads per pass ("Auto" or a count); the
// custom tool directories with their remove buttons and "Add Directory…".
//
// Every control writes its setting at once; the view follows the settings'
// change notifications, so another editor of the same settings is reflected
// too. Main thread only; the settings must outlive the view.
#pragma once

#include <QWidget>

#include "core/workspace/ObserverList.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QVBoxLayout;

namespace quorlin {
class AppSettings;
enum class AppSetting;
}

namespace quorlin::gui {

class PreferencesView : public QWidget {
  Q_OBJECT

 public:
  explicit PreferencesView(AppSettings& settings, QWidget* parent = nullptr);

  static constexpr int formWidth = 420;
  // The slider's steps per second: fine enough to be continuous.
  static constexpr int sliderStepsPerSecond = 100;

 private:
  void settingChanged(AppSetting setting);
  void showAppearance();
  void showAutoRegeneration();
  void showDelay();
  void showEncoding();
  void showThreads();
  void showDirectories();
  void chooseDirectory();

  AppSettings& settings_;
  Subscription subscription_;
  QButtonGroup* appearanceGroup_;
  QCheckBox* autoRegenerate_;
  QWidget* waitRow_;
  QSlider* delaySlider_;
  QLabel* delayText_;
  QButtonGroup* encodingGroup_;
  QComboBox* threadsPicker_;
  QWidget* directoryList_;
  QVBoxLayout* directoryLayout_;
};

}  // namespace quorlin::gui
