#include "gui/windows/PreferencesView.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>

#include "core/common/PlatformTexts.h"
#include "core/engine/CoreBudget.h"
#include "core/workspace/AppSettings.h"
#include "gui/app/SymbolIcons.h"
#include "gui/app/TextStyles.h"
#include "gui/widgets/CardFrame.h"
#include "gui/widgets/ElidedLabel.h"
#include "gui/widgets/SegmentButton.h"
#include "gui/widgets/SeparatorLine.h"
#include "gui/widgets/ToneLabel.h"

namespace quorlin::gui {

namespace {

// Exclusive buttons side by side: the desktop's stand-in for a segmented picker.
QWidget* segmentedPicker(const QStringList& segments, QButtonGroup* group, QWidget* parent) {
  auto* picker = new QWidget(parent);
  auto* layout = new QHBoxLayout(picker);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  group->setExclusive(true);
  for (int index = 0; index < segments.size(); ++index) {
    auto* button = new SegmentButton(segments[index], picker);
    button->setMinimumWidth(64);
    group->addButton(button, index);
    layout->addWidget(button);
  }
  return picker;
}

QHBoxLayout* formRow(QWidget* row) {
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(12, 6, 12, 6);
  layout->setSpacing(8);
  return layout;
}

QWidget* separator(QWidget* parent) { return new SeparatorLine(Qt::Horizontal, parent); }

}  // namespace

PreferencesView::PreferencesView(AppSettings& settings, QWidget* parent) : QWidget(parent), settings_(settings) {
  setFixedWidth(formWidth);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 16);
  layout->setSpacing(14);

  // 1. Appearance.
  auto* appearanceSection = new CardFrame(this);
  auto* appearanceLayout = new QVBoxLayout(appearanceSection);
  appearanceLayout->setContentsMargins(0, 4, 0, 4);
  auto* appearanceRow = new QWidget(appearanceSection);
  auto* appearanceRowLayout = formRow(appearanceRow);
  appearanceRowLayout->addWidget(new QLabel(QStringLiteral("Appearance"), appearanceRow));
  appearanceRowLayout->addStretch(1);
  appearanceGroup_ = new QButtonGroup(this);
  QStringList appearanceNames;
  for (AppAppearance appearance : allAppAppearances()) appearanceNames << QString::fromUtf8(displayName(appearance));
  appearanceRowLayout->addWidget(segmentedPicker(appearanceNames, appearanceGroup_, appearanceRow));
  appearanceLayout->addWidget(appearanceRow);
  layout->addWidget(appearanceSection);
  connect(appearanceGroup_, &QButtonGroup::idClicked, this,
          [this](int index) { settings_.setAppearance(allAppAppearances()[std::size_t(index)]); });

  // 2. Encoding.
  auto* encodingSection = new CardFrame(this);
  auto* encodingLayout = new QVBoxLayout(encodingSection);
  encodingLayout->setContentsMargins(0, 4, 0, 4);
  encodingLayout->setSpacing(0);

  auto* toggleRow = new QWidget(encodingSection);
  autoRegenerate_ = new QCheckBox(QStringLiteral("Auto-regenerate after changes"), toggleRow);
  formRow(toggleRow)->addWidget(autoRegenerate_);
  encodingLayout->addWidget(toggleRow);
  connect(autoRegenerate_, &QCheckBox::toggled, this, [this](bool isOn) { settings_.setAutoRegenerate(isOn); });

  waitRow_ = new QWidget(encodingSection);
  waitRow_->setObjectName("waitRow");
  auto* waitLayout = new QVBoxLayout(waitRow_);
  waitLayout->setContentsMargins(0, 0, 0, 0);
  waitLayout->setSpacing(0);
  waitLayout->addWidget(separator(waitRow_));
  auto* waitControls = new QWidget(waitRow_);
  auto* waitControlsLayout = formRow(waitControls);
  waitControlsLayout->addWidget(new QLabel(QStringLiteral("Wait"), waitControls));
  const AppSettingInfo& delayInfo = appSettingInfo(AppSetting::autoRegenerateDelay);
  delaySlider_ = new QSlider(Qt::Horizontal, waitControls);
  delaySlider_->setRange(int(std::lround(delayInfo.sliderMinimum * sliderStepsPerSecond)),
                         int(std::lround(delayInfo.sliderMaximum * sliderStepsPerSecond)));
  waitControlsLayout->addWidget(delaySlider_, 1);
  delayText_ = new QLabel(waitControls);
  delayText_->setObjectName("delayText");
  delayText_->setFixedWidth(36);
  delayText_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  waitControlsLayout->addWidget(delayText_);
  waitLayout->addWidget(waitControls);
  encodingLayout->addWidget(waitRow_);
  connect(delaySlider_, &QSlider::valueChanged, this,
          [this](int value) { settings_.setAutoRegenerateDelay(double(value) / sliderStepsPerSecond); });

  encodingLayout->addWidget(separator(encodingSection));
  auto* encodingRow = new QWidget(encodingSection);
  auto* encodingRowLayout = formRow(encodingRow);
  encodingRowLayout->addWidget(new QLabel(QStringLiteral("Encoding"), encodingRow));
  encodingRowLayout->addStretch(1);
  encodingGroup_ = new QButtonGroup(this);
  encodingRowLayout->addWidget(
      segmentedPicker({QStringLiteral("Parallel"), QStringLiteral("Serial")}, encodingGroup_, encodingRow));
  encodingLayout->addWidget(encodingRow);
  connect(encodingGroup_, &QButtonGroup::idClicked, this,
          [this](int index) { settings_.setEncodeInParallel(index == 0); });

  encodingLayout->addWidget(separator(encodingSection));
  auto* threadsRow = new QWidget(encodingSection);
  auto* threadsRowLayout = formRow(threadsRow);
  threadsRowLayout->addWidget(new QLabel(QStringLiteral("Threads per pass"), threadsRow));
  threadsRowLayout->addStretch(1);
  threadsPicker_ = new QComboBox(threadsRow);
  threadsPicker_->setObjectName("threadsPerPass");
  threadsPicker_->setToolTip(
      QStringLiteral("How many threads the tools of a pass share. Auto uses all %1 of this computer's; Serial gives "
                     "them to the running panel, Parallel divides them among the running panels.")
          .arg(CoreBudget::availableHardwareThreads()));
  threadsRowLayout->addWidget(threadsPicker_);
  encodingLayout->addWidget(threadsRow);
  layout->addWidget(encodingSection);
  // Item data: the count, 0 for Auto.
  connect(threadsPicker_, &QComboBox::activated, this, [this](int index) {
    int count = threadsPicker_->itemData(index).toInt();
    settings_.setThreadsPerPass(count > 0 ? std::optional<int>(count) : std::nullopt);
  });

  // 3. Custom tool directories.
  auto* directoriesTitle = new QLabel(QStringLiteral("Custom Tool Directories"), this);
  directoriesTitle->setFont(calloutFont(QFont::DemiBold));
  layout->addWidget(directoriesTitle);
  auto* directoriesSection = new CardFrame(this);
  auto* directoriesLayout = new QVBoxLayout(directoriesSection);
  directoriesLayout->setContentsMargins(12, 10, 12, 10);
  directoriesLayout->setSpacing(8);
  auto* explanation = new ToneLabel(
      QString::fromUtf8(platformTexts().toolDirectoriesExplanation),
      directoriesSection);
  explanation->setTone(ToneLabel::Tone::secondary);
  explanation->setWordWrap(true);
  explanation->setFont(captionFont());
  directoriesLayout->addWidget(explanation);
  directoryList_ = new QWidget(directoriesSection);
  directoryList_->setObjectName("directoryList");
  directoryLayout_ = new QVBoxLayout(directoryList_);
  directoryLayout_->setContentsMargins(0, 0, 0, 0);
  directoryLayout_->setSpacing(2);
  directoriesLayout->addWidget(directoryList_);
  auto* addButton = new QPushButton(symbolIcon("plus"), QStringLiteral("Add Directory…"), directoriesSection);
  addButton->setObjectName("addDirectory");
  directoriesLayout->addWidget(addButton, 0, Qt::AlignLeft);
  layout->addWidget(directoriesSection);
  connect(addButton, &QPushButton::clicked, this, [this] { chooseDirectory(); });

  layout->addStretch(1);

  showAppearance();
  showAutoRegeneration();
  showDelay();
  showEncoding();
  showThreads();
  showDirectories();
  subscription_ = settings_.observe([this](AppSetting setting) { settingChanged(setting); });
}

void PreferencesView::settingChanged(AppSetting setting) {
  switch (setting) {
    case AppSetting::appearance:
      showAppearance();
      break;
    case AppSetting::autoRegenerate:
      showAutoRegeneration();
      break;
    case AppSetting::autoRegenerateDelay:
      showDelay();
      break;
    case AppSetting::encodeInParallel:
      showEncoding();
      break;
    case AppSetting::customToolDirectories:
      showDirectories();
      break;
    case AppSetting::threadsPerPass:
      showThreads();
      break;
    case AppSetting::hasSeenToolRequirements:
    case AppSetting::toolTimeLimit:  // the limits have no control in this window
    case AppSetting::maximumPixelCount:
      break;
  }
}

void PreferencesView::showAppearance() {
  auto appearances = allAppAppearances();
  for (std::size_t index = 0; index < appearances.size(); ++index) {
    if (appearances[index] == settings_.appearance()) appearanceGroup_->button(int(index))->setChecked(true);
  }
}

void PreferencesView::showAutoRegeneration() {
  QSignalBlocker blocker(autoRegenerate_);
  autoRegenerate_->setChecked(settings_.autoRegenerate());
  waitRow_->setVisible(settings_.autoRegenerate());
}

void PreferencesView::showDelay() {
  double delay = settings_.autoRegenerateDelay();
  int position = int(std::lround(delay * sliderStepsPerSecond));
  if (delaySlider_->value() != position) {
    // Only a change from elsewhere moves the slider; its own moves already match.
    QSignalBlocker blocker(delaySlider_);
    delaySlider_->setValue(position);
  }
  delayText_->setText(QString::number(std::lround(delay)) + QStringLiteral(" s"));
}

void PreferencesView::showEncoding() {
  encodingGroup_->button(settings_.encodeInParallel() ? 0 : 1)->setChecked(true);
}

void PreferencesView::showThreads() {
  // Auto, then every count up to this computer's threads (or the chosen count, if more).
  const int chosen = settings_.threadsPerPass().value_or(0);
  const int most = std::max(CoreBudget::availableHardwareThreads(), chosen);
  QSignalBlocker blocker(threadsPicker_);
  threadsPicker_->clear();
  threadsPicker_->addItem(QStringLiteral("Auto"), 0);
  for (int count = 1; count <= most; ++count) threadsPicker_->addItem(QString::number(count), count);
  threadsPicker_->setCurrentIndex(threadsPicker_->findData(chosen));
}

void PreferencesView::showDirectories() {
  // The rows go later: this may run inside a click of one of their buttons.
  while (QLayoutItem* item = directoryLayout_->takeAt(0)) {
    if (QWidget* row = item->widget()) {
      row->hide();
      row->setParent(nullptr);
      row->deleteLater();
    }
    delete item;
  }
  const auto& directories = settings_.customToolDirectories();
  for (std::size_t index = 0; index < directories.size(); ++index) {
    auto* row = new QWidget(directoryList_);
    row->setObjectName("directoryRow");
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(6);
    auto* path = new ElidedLabel(QString::fromUtf8(directories[index]), row);
    path->setObjectName("directoryPath");
    rowLayout->addWidget(path, 1);
    auto* remove = new QToolButton(row);
    remove->setObjectName("removeDirectory");
    remove->setIcon(symbolIcon("minus.circle"));
    remove->setText(QStringLiteral("\u2212"));   // shown only while the icon is missing
    remove->setAutoRaise(true);   // borderless
    remove->setToolTip(QStringLiteral("Remove directory"));
    remove->setAccessibleName(QStringLiteral("Remove directory"));
    rowLayout->addWidget(remove);
    connect(remove, &QToolButton::clicked, this, [this, index] { settings_.removeCustomToolDirectory(index); });
    directoryLayout_->addWidget(row);
  }
  directoryList_->setVisible(!directories.empty());
}

void PreferencesView::chooseDirectory() {
  QFileDialog dialog(this);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Add"));
  if (dialog.exec() != QDialog::Accepted) return;
  QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return;
  settings_.addCustomToolDirectory(chosen.front().toStdString());
}

}  // namespace quorlin::gui
