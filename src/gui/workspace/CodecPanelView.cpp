#include "gui/workspace/CodecPanelView.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QBrush>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QScrollArea>
#include <QStringList>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/codecs/ContentTypes.h"
#include "core/workspace/CodecPanelPresentation.h"
#include "core/workspace/CompressionWorkspace.h"
#include "gui/app/SymbolIcons.h"
#include "gui/app/TextStyles.h"
#include "gui/widgets/PaletteColors.h"
#include "gui/widgets/SeparatorLine.h"
#include "gui/windows/WindowParts.h"
#include "gui/workspace/DistanceSlider.h"
#include "gui/workspace/LabeledSlider.h"
#include "gui/workspace/ResultMetricLine.h"

namespace quorlin::gui {

namespace {

constexpr int panelWidth = 300;
constexpr int narrowestPanelWidth = 250;   // narrow windows: the canvas keeps half the width
constexpr int badgeSize = 22;
constexpr int codecPickerWidth = 138;
constexpr int codecPickerChrome = 34;
constexpr int symbolSize = 14;
constexpr double staleResultOpacity = 0.45;

QString text(std::string_view value) { return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())); }


// The corner number in a filled circle, in the selection colours so it reads
// as the panel's marker in either palette.
class CornerBadge : public QWidget {
 public:
  CornerBadge(int number, QWidget* parent) : QWidget(parent), number_(number) {
    setFixedSize(badgeSize, badgeSize);
    setFont(captionFont(QFont::Bold));
    setAccessibleName(QString::number(number));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Highlight));
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(rect(), Qt::AlignCenter, QString::number(number_));
  }

 private:
  int number_;
};

// Calls back when the watched widget's palette or style changes, for the
// colours the panel picks by palette.
class PaletteWatcher : public QObject {
 public:
  PaletteWatcher(QWidget* watched, std::function<void()> changed) : QObject(watched), changed_(std::move(changed)) {
    watched->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) changed_();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> changed_;
};

void setOpacity(QWidget* widget, double opacity) {
  auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
  if (!effect) {
    effect = new QGraphicsOpacityEffect(widget);
    widget->setGraphicsEffect(effect);
  }
  effect->setOpacity(opacity);
  effect->setEnabled(opacity < 1.0);   // no offscreen pass while fully opaque
}

QLabel* secondaryLabel(const QString& value, QWidget* parent) {
  auto* label = new QLabel(value, parent);
  label->setFont(captionFont());
  label->setForegroundRole(QPalette::PlaceholderText);
  label->setWordWrap(true);
  return label;
}

// A caption line led by a small symbol; `captionLabel` receives its text label.
QWidget* symbolCaption(std::string_view symbol, const QString& caption, QWidget* parent,
                       QLabel** captionLabel = nullptr) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(5);
  // Painted from the palette each time, so it follows a switch of appearance.
  layout->addWidget(makeSymbolView(symbol, symbolSize, row), 0, Qt::AlignTop);
  QLabel* label = secondaryLabel(caption, row);
  layout->addWidget(label, 1);
  if (captionLabel) *captionLabel = label;
  return row;
}

// "Title ........ [control]" on one line.
QWidget* pickerRow(const QString& title, QWidget* control, QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(8);
  auto* label = new QLabel(title, row);
  label->setBuddy(control);
  layout->addWidget(label);
  layout->addStretch(1);
  layout->addWidget(control);
  control->setAccessibleName(title);
  return row;
}

template <typename Enum>
QComboBox* enumPicker(std::span<const Enum> cases, QWidget* parent,
                      const std::function<QString(Enum)>& title = nullptr) {
  auto* picker = new QComboBox(parent);
  for (Enum value : cases) {
    picker->addItem(title ? title(value) : text(rawValue(value)), static_cast<int>(value));
  }
  picker->setMinimumWidth(96);
  return picker;
}

template <typename Enum>
void selectIn(QComboBox* picker, Enum value) {
  picker->setCurrentIndex(picker->findData(static_cast<int>(value)));
}

// The automatic bit depth ("-") reads better spelled out.
template <typename Depth>
QString depthTitle(Depth depth) {
  return depth == Depth::automatic ? QStringLiteral("Auto") : text(rawValue(depth));
}

QWidget* separator(QWidget* parent) { return new SeparatorLine(Qt::Horizontal, parent); }

QString saveFilter(const std::string& contentType) {
  const ContentTypeInfo* info = contentTypeInfo(contentType);
  if (!info || info->extensions.empty()) return QStringLiteral("All files (*)");
  QStringList patterns;
  for (std::string_view extension : info->extensions) patterns << QStringLiteral("*.") + text(extension);
  return QStringLiteral("%1 (%2)").arg(text(info->description), patterns.join(' '));
}

}  // namespace

struct CodecPanelView::State {
  CodecPanelView& view;
  CompressionWorkspace& workspace;
  const int index;
  Subscription subscription;

  // Header
  CornerBadge* badge = nullptr;
  QComboBox* codecPicker = nullptr;
  QProgressBar* busyIndicator = nullptr;
  QToolButton* generateButton = nullptr;
  QLabel* progressLabel = nullptr;

  // Settings, top to bottom
  LabeledSlider* effort = nullptr;
  QWidget* searchCaption = nullptr;
  QLabel* searchCaptionText = nullptr;
  DistanceSlider* distance = nullptr;
  LabeledSlider* quality = nullptr;

  QWidget* webPGroup = nullptr;
  QCheckBox* webPLossless = nullptr;
  LabeledSlider* webPLosslessLevel = nullptr;

  QWidget* jpegXLGroup = nullptr;
  QWidget* jpegXLProgressiveControls = nullptr;
  QCheckBox* jpegXLProgressive = nullptr;
  QComboBox* groupOrder = nullptr;
  QLabel* groupOrderDescription = nullptr;
  QWidget* transcodeControls = nullptr;
  QCheckBox* transcode = nullptr;

  QWidget* avifGroup = nullptr;
  QCheckBox* avifLossless = nullptr;
  QComboBox* avifDepth = nullptr;
  QComboBox* avifChroma = nullptr;
  QCheckBox* avifProgressive = nullptr;

  QWidget* jpegliGroup = nullptr;
  QComboBox* jpegliChroma = nullptr;
  QButtonGroup* jpegliProgressive = nullptr;

  QWidget* jpegTurboGroup = nullptr;
  QComboBox* jpegTurboChroma = nullptr;
  QCheckBox* jpegTurboProgressive = nullptr;
  QCheckBox* jpegTurboOptimized = nullptr;

  QWidget* heifGroup = nullptr;
  QCheckBox* heifLossless = nullptr;
  QComboBox* heifDepth = nullptr;

  // Result area
  QWidget* resultSeparator = nullptr;
  QLabel* staleNotice = nullptr;
  QWidget* resultLines = nullptr;
  std::vector<ResultMetricLine*> lines;
  QWidget* failure = nullptr;
  QLabel* failureTitle = nullptr;
  QLabel* failureMessage = nullptr;
  QWidget* resultActions = nullptr;
  QToolButton* exportButton = nullptr;
  QToolButton* metadataButton = nullptr;

  State(CodecPanelView& owner, CompressionWorkspace& model, int panelIndex)
      : view(owner), workspace(model), index(panelIndex) {}

  const CodecPanel& panel() const { return workspace.panel(index); }
  void edit(const std::function<void(CodecPanel&)>& mutator) { workspace.updatePanel(index, mutator); }

  void build();
  QWidget* buildHeader();
  QWidget* buildSettings(QWidget* parent);
  QWidget* buildWebPGroup(QWidget* parent);
  QWidget* buildJPEGXLGroup(QWidget* parent);
  QWidget* buildAVIFGroup(QWidget* parent);
  QWidget* buildJPEGliGroup(QWidget* parent);
  QWidget* buildJPEGTurboGroup(QWidget* parent);
  QWidget* buildHEIFGroup(QWidget* parent);
  void nameSettingRows();
  QWidget* buildResults(QWidget* parent);
  QCheckBox* toggle(std::string_view title, std::string_view tooltip, QWidget* parent,
                    std::function<void(CodecPanel&, bool)> write);

  void refresh();
  void refreshSettings(const CodecPanel& panel);
  void refreshResults(const CodecPanel& panel);
  void refreshCodecMarks();
  void exportResult();
};

QCheckBox* CodecPanelView::State::toggle(std::string_view title, std::string_view tooltip, QWidget* parent,
                                         std::function<void(CodecPanel&, bool)> write) {
  auto* box = new QCheckBox(text(title), parent);
  if (!tooltip.empty()) box->setToolTip(text(tooltip));
  // clicked, not toggled: only the user's changes are edits.
  QObject::connect(box, &QCheckBox::clicked, &view, [this, write = std::move(write)](bool checked) {
    edit([&](CodecPanel& panel) { write(panel, checked); });
  });
  return box;
}

void CodecPanelView::State::build() {
  view.setMinimumWidth(narrowestPanelWidth);
  view.setMaximumWidth(panelWidth);
  view.setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

  auto* layout = new QVBoxLayout(&view);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(buildHeader());

  auto* scroll = new QScrollArea(&view);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
  auto* content = new QWidget(scroll);
  content->setObjectName("codecPanelContent");
  auto* contentLayout = new QVBoxLayout(content);
  contentLayout->setContentsMargins(10, 2, 10, 6);
  contentLayout->setSpacing(8);
  contentLayout->addWidget(buildSettings(content));
  nameSettingRows();
  contentLayout->addWidget(buildResults(content));
  contentLayout->addStretch(1);
  scroll->setWidget(content);
  layout->addWidget(scroll, 1);
}

QWidget* CodecPanelView::State::buildHeader() {
  auto* header = new QWidget(&view);
  auto* column = new QVBoxLayout(header);
  column->setContentsMargins(10, 8, 10, 4);
  column->setSpacing(4);
  auto* row = new QHBoxLayout;
  row->setSpacing(8);

  badge = new CornerBadge(index + 1, header);
  row->addWidget(badge);

  codecPicker = new QComboBox(header);
  codecPicker->setObjectName("codecPicker");
  codecPicker->setAccessibleName(text(CodecPanelTexts::codecPicker));
  int longestName = 0;
  for (CompressionCodec codec : allCompressionCodecs()) {
    codecPicker->addItem(text(displayName(codec)), static_cast<int>(codec));
    longestName = std::max(longestName, codecPicker->fontMetrics().horizontalAdvance(text(displayName(codec))));
  }
  // Wide enough for every name closed, arrow and frame included.
  codecPicker->setMinimumWidth(codecPickerWidth);
  codecPicker->setMaximumWidth(std::max(codecPickerWidth, longestName + codecPickerChrome));
  codecPicker->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  // The longest names do not fit the closed picker: the list opens wide
  // enough for them, and the tooltip names the chosen one in full.
  codecPicker->view()->setMinimumWidth(codecPicker->view()->sizeHintForColumn(0) + 24);
  QObject::connect(codecPicker, &QComboBox::activated, &view, [this](int picked) {
    const auto codec = static_cast<CompressionCodec>(codecPicker->itemData(picked).toInt());
    if (codec == panel().codec) return;
    edit([codec](CodecPanel& panel) { panel.selectCodec(codec); });
  });
  row->addWidget(codecPicker);
  row->addStretch(1);

  busyIndicator = new QProgressBar(header);
  busyIndicator->setRange(0, 0);   // indeterminate
  busyIndicator->setTextVisible(false);
  busyIndicator->setFixedSize(28, 8);
  busyIndicator->setAccessibleName("Running");
  row->addWidget(busyIndicator);

  generateButton = new QToolButton(header);
  generateButton->setObjectName("generateButton");
  generateButton->setIcon(symbolIcon("arrow.triangle.2.circlepath"));
  generateButton->setToolTip(text(CodecPanelTexts::generateTooltip));
  generateButton->setAccessibleName(text(CodecPanelTexts::generateTooltip));
  generateButton->setAutoRaise(true);
  QObject::connect(generateButton, &QToolButton::clicked, &view, [this] {
    if (panel().isRunning) {
      workspace.stopPanel(panel().id);
    } else {
      workspace.generatePanel(panel().id);
    }
  });
  row->addWidget(generateButton);
  column->addLayout(row);

  // While a run goes on, its progress text (search probes, "Encoding ...")
  // stands right under the header, where the eye goes after Generate.
  progressLabel = secondaryLabel({}, header);
  progressLabel->setObjectName("progressMessage");
  column->addWidget(progressLabel);
  return header;
}

namespace {

// The column of one codec group's rows; shown only while its codec is chosen.
std::pair<QWidget*, QVBoxLayout*> settingsGroup(QWidget* parent) {
  auto* group = new QWidget(parent);
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->setContentsMargins(0, 0, 0, 0);
  groupLayout->setSpacing(8);
  return {group, groupLayout};
}

}  // namespace

QWidget* CodecPanelView::State::buildSettings(QWidget* parent) {
  auto* settings = new QWidget(parent);
  auto* layout = new QVBoxLayout(settings);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(8);

  effort = new LabeledSlider(text(CodecPanelTexts::effort), {1, 10}, settings);
  QObject::connect(effort, &LabeledSlider::valueEdited, &view,
                   [this](int value) { edit([value](CodecPanel& panel) { panel.effort = value; }); });
  layout->addWidget(effort);

  searchCaption = symbolCaption("scope", {}, settings, &searchCaptionText);
  searchCaption->setToolTip(text(CodecPanelTexts::searchedTooltip));
  layout->addWidget(searchCaption);

  distance = new DistanceSlider(settings);
  QObject::connect(distance, &DistanceSlider::distanceEdited, &view,
                   [this](double value) { edit([value](CodecPanel& panel) { panel.distance = value; }); });
  layout->addWidget(distance);

  quality = new LabeledSlider(text(CodecPanelTexts::quality), qualityRange, settings);
  QObject::connect(quality, &LabeledSlider::valueEdited, &view,
                   [this](int value) { edit([value](CodecPanel& panel) { panel.quality = value; }); });
  layout->addWidget(quality);
  layout->addWidget(buildWebPGroup(settings));
  layout->addWidget(buildJPEGXLGroup(settings));
  layout->addWidget(buildAVIFGroup(settings));
  layout->addWidget(buildJPEGliGroup(settings));
  layout->addWidget(buildJPEGTurboGroup(settings));
  layout->addWidget(buildHEIFGroup(settings));
  return settings;
}

QWidget* CodecPanelView::State::buildWebPGroup(QWidget* parent) {
  auto [group, groupLayout] = settingsGroup(parent);
  webPGroup = group;
  webPLossless = toggle(CodecPanelTexts::lossless, {}, group,
                        [](CodecPanel& panel, bool on) { panel.isWebPLossless = on; });
  groupLayout->addWidget(webPLossless);
  webPLosslessLevel = new LabeledSlider(text(CodecPanelTexts::webPLosslessLevel), webPLosslessLevelRange, group);
  webPLosslessLevel->setToolTip(text(CodecPanelTexts::webPLosslessLevelTooltip));
  webPLosslessLevel->setEndCaptions(text(CodecPanelTexts::webPLosslessLevelLowCaption),
                                    text(CodecPanelTexts::webPLosslessLevelHighCaption));
  QObject::connect(webPLosslessLevel, &LabeledSlider::valueEdited, &view, [this](int value) {
    edit([value](CodecPanel& panel) { panel.webPLosslessLevel = value; });
  });
  groupLayout->addWidget(webPLosslessLevel);
  return group;
}

QWidget* CodecPanelView::State::buildJPEGXLGroup(QWidget* parent) {
  auto [group, groupLayout] = settingsGroup(parent);
  jpegXLGroup = group;
  jpegXLProgressiveControls = new QWidget(group);
  auto* progressiveLayout = new QVBoxLayout(jpegXLProgressiveControls);
  progressiveLayout->setContentsMargins(0, 0, 0, 0);
  progressiveLayout->setSpacing(6);
  jpegXLProgressive = toggle(CodecPanelTexts::moreProgressive, CodecPanelTexts::moreProgressiveTooltip,
                             jpegXLProgressiveControls,
                             [](CodecPanel& panel, bool on) { panel.isJPEGXLProgressive = on; });
  progressiveLayout->addWidget(jpegXLProgressive);
  groupOrder = enumPicker(allJPEGXLGroupOrders(), jpegXLProgressiveControls);
  groupOrder->setToolTip(text(CodecPanelTexts::progressiveOrderTooltip));
  QObject::connect(groupOrder, &QComboBox::activated, &view, [this](int row) {
    const auto order = static_cast<JPEGXLGroupOrder>(groupOrder->itemData(row).toInt());
    edit([order](CodecPanel& panel) { panel.jpegXLGroupOrder = order; });
  });
  progressiveLayout->addWidget(pickerRow(text(CodecPanelTexts::progressiveOrder), groupOrder,
                                         jpegXLProgressiveControls));
  groupOrderDescription = secondaryLabel({}, jpegXLProgressiveControls);
  progressiveLayout->addWidget(groupOrderDescription);
  groupLayout->addWidget(jpegXLProgressiveControls);

  transcodeControls = new QWidget(group);
  auto* transcodeLayout = new QVBoxLayout(transcodeControls);
  transcodeLayout->setContentsMargins(0, 0, 0, 0);
  transcodeLayout->setSpacing(3);
  transcode = toggle(CodecPanelTexts::losslessJPEGTranscode, {}, transcodeControls,
                     [](CodecPanel& panel, bool on) { panel.isJPEGLosslessTranscode = on; });
  transcodeLayout->addWidget(transcode);
  transcodeLayout->addWidget(
      symbolCaption("info.circle", text(CodecPanelTexts::losslessJPEGTranscodeCaption), transcodeControls));
  groupLayout->addWidget(transcodeControls);
  return group;
}

QWidget* CodecPanelView::State::buildAVIFGroup(QWidget* parent) {
  auto [group, groupLayout] = settingsGroup(parent);
  avifGroup = group;
  avifLossless = toggle(CodecPanelTexts::lossless, {}, group,
                        [](CodecPanel& panel, bool on) { panel.isAVIFLossless = on; });
  groupLayout->addWidget(avifLossless);
  avifDepth = enumPicker<AVIFDepth>(allAVIFDepths(), group, depthTitle<AVIFDepth>);
  QObject::connect(avifDepth, &QComboBox::activated, &view, [this](int row) {
    const auto depth = static_cast<AVIFDepth>(avifDepth->itemData(row).toInt());
    edit([depth](CodecPanel& panel) { panel.avifDepth = depth; });
  });
  groupLayout->addWidget(pickerRow(text(CodecPanelTexts::depth), avifDepth, group));
  avifChroma = enumPicker(allAVIFChromaSubsamplings(), group);
  QObject::connect(avifChroma, &QComboBox::activated, &view, [this](int row) {
    const auto chroma = static_cast<AVIFChromaSubsampling>(avifChroma->itemData(row).toInt());
    edit([chroma](CodecPanel& panel) { panel.avifChromaSubsampling = chroma; });
  });
  groupLayout->addWidget(pickerRow(text(CodecPanelTexts::chroma), avifChroma, group));
  avifProgressive = toggle(CodecPanelTexts::progressive, CodecPanelTexts::avifProgressiveTooltip, group,
                           [](CodecPanel& panel, bool on) { panel.isAVIFProgressive = on; });
  groupLayout->addWidget(avifProgressive);
  return group;
}

QWidget* CodecPanelView::State::buildJPEGliGroup(QWidget* parent) {
  auto [group, groupLayout] = settingsGroup(parent);
  jpegliGroup = group;
  jpegliChroma = enumPicker(allChromaSubsamplings(), group);
  QObject::connect(jpegliChroma, &QComboBox::activated, &view, [this](int row) {
    const auto chroma = static_cast<ChromaSubsampling>(jpegliChroma->itemData(row).toInt());
    edit([chroma](CodecPanel& panel) { panel.chromaSubsampling = chroma; });
  });
  groupLayout->addWidget(pickerRow(text(CodecPanelTexts::chroma), jpegliChroma, group));

  auto* segments = new QWidget(group);
  auto* segmentLayout = new QHBoxLayout(segments);
  segmentLayout->setContentsMargins(0, 0, 0, 0);
  segmentLayout->setSpacing(0);
  jpegliProgressive = new QButtonGroup(segments);
  jpegliProgressive->setExclusive(true);
  for (int level = progressiveLevelRange.lowerBound; level <= progressiveLevelRange.upperBound; ++level) {
    auto* segment = new QToolButton(segments);
    segment->setText(QString::number(level));
    segment->setCheckable(true);
    segment->setFixedWidth(32);
    segment->setAccessibleName(text(CodecPanelTexts::progressive) + ' ' + QString::number(level));
    jpegliProgressive->addButton(segment, level);
    segmentLayout->addWidget(segment);
  }
  QObject::connect(jpegliProgressive, &QButtonGroup::idClicked, &view,
                   [this](int level) { edit([level](CodecPanel& panel) { panel.progressiveLevel = level; }); });
  groupLayout->addWidget(pickerRow(text(CodecPanelTexts::progressive), segments, group));
  return group;
}

// libjpeg-turbo: "Auto" first, as for jpegli: it leaves cjpeg's own default,
// which new panels start with.
QWidget* CodecPanelView::State::buildJPEGTurboGroup(QWidget* parent) {
  auto [group, groupLayout] = settingsGroup(parent);
  jpegTurboGroup = group;
  jpegTurboChroma = enumPicker(allChromaSubsamplings(), group);
  QObject::connect(jpegTurboChroma, &QComboBox::activated, &view, [this](int row) {
    const auto chroma = static_cast<ChromaSubsampling>(jpegTurboChroma->itemData(row).toInt());
    edit([chroma](CodecPanel& panel) { panel.chromaSubsampling = chroma; });
  });
  groupLayout->addWidget(pickerRow(text(CodecPanelTexts::chroma), jpegTurboChroma, group));
  jpegTurboProgressive = toggle(CodecPanelTexts::progressive, CodecPanelTexts::jpegTurboProgressiveTooltip, group,
                                [](CodecPanel& panel, bool on) { panel.isJPEGTurboProgressive = on; });
  groupLayout->addWidget(jpegTurboProgressive);
  jpegTurboOptimized = toggle(CodecPanelTexts::optimizeHuffman, CodecPanelTexts::optimizeHuffmanTooltip, group,
                              [](CodecPanel& panel, bool on) { panel.isJPEGTurboOptimized = on; });
  groupLayout->addWidget(jpegTurboOptimized);
  return group;
}

QWidget* CodecPanelView::State::buildHEIFGroup(QWidget* parent) {
  auto [group, groupLayout] = settingsGroup(parent);
  heifGroup = group;
  heifLossless = toggle(CodecPanelTexts::lossless, {}, group,
                        [](CodecPanel& panel, bool on) { panel.isHEIFLossless = on; });
  groupLayout->addWidget(heifLossless);
  heifDepth = enumPicker<HEIFDepth>(allHEIFDepths(), group, depthTitle<HEIFDepth>);
  QObject::connect(heifDepth, &QComboBox::activated, &view, [this](int row) {
    const auto depth = static_cast<HEIFDepth>(heifDepth->itemData(row).toInt());
    edit([depth](CodecPanel& panel) { panel.heifBitDepth = depth; });
  });
  groupLayout->addWidget(pickerRow(text(CodecPanelTexts::bitDepth), heifDepth, group));
  return group;
}

// Each settings row carries the name of the CodecPanel field it edits, as the
// catalog's panel settings name it, so the rows can be checked against them.
void CodecPanelView::State::nameSettingRows() {
  const std::pair<QObject*, const char*> rows[] = {
      {effort, "effort"},
      {distance, "distance"},
      {quality, "quality"},
      {webPLossless, "isWebPLossless"},
      {webPLosslessLevel, "webPLosslessLevel"},
      {jpegXLProgressive, "isJPEGXLProgressive"},
      {groupOrder, "jpegXLGroupOrder"},
      {transcode, "isJPEGLosslessTranscode"},
      {avifLossless, "isAVIFLossless"},
      {avifDepth, "avifDepth"},
      {avifChroma, "avifChromaSubsampling"},
      {avifProgressive, "isAVIFProgressive"},
      {jpegliChroma, "chromaSubsampling"},
      {jpegliProgressive->buttons().front()->parentWidget(), "progressiveLevel"},
      {jpegTurboChroma, "chromaSubsampling"},
      {jpegTurboProgressive, "isJPEGTurboProgressive"},
      {jpegTurboOptimized, "isJPEGTurboOptimized"},
      {heifLossless, "isHEIFLossless"},
      {heifDepth, "heifBitDepth"},
  };
  for (const auto& [row, field] : rows) row->setProperty("panelField", field);
}

QWidget* CodecPanelView::State::buildResults(QWidget* parent) {
  auto* results = new QWidget(parent);
  auto* layout = new QVBoxLayout(results);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);

  resultSeparator = separator(results);
  layout->addWidget(resultSeparator);

  failure = new QWidget(results);
  failure->setObjectName("failure");
  auto* failureLayout = new QVBoxLayout(failure);
  failureLayout->setContentsMargins(0, 0, 0, 0);
  failureLayout->setSpacing(2);
  failureTitle = new QLabel(text(CodecPanelTexts::failed), failure);
  failureTitle->setFont(calloutFont(QFont::DemiBold));
  failureLayout->addWidget(failureTitle);
  failureMessage = new QLabel(failure);
  failureMessage->setWordWrap(true);
  failureMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
  failureLayout->addWidget(failureMessage);
  layout->addWidget(failure);

  // A result made with other settings stays, dimmed, under a notice: the
  // header may already name another codec than the one these numbers are of.
  staleNotice = new QLabel(text(CodecPanelTexts::needsRegeneration), results);
  staleNotice->setObjectName("staleNotice");
  staleNotice->setFont(calloutFont(QFont::DemiBold));
  staleNotice->setToolTip(text(CodecPanelTexts::staleResultTooltip));
  layout->addWidget(staleNotice);

  resultLines = new QWidget(results);
  auto* linesLayout = new QVBoxLayout(resultLines);
  linesLayout->setContentsMargins(0, 0, 0, 0);
  linesLayout->setSpacing(3);
  layout->addWidget(resultLines);

  resultActions = new QWidget(results);
  auto* actionsLayout = new QHBoxLayout(resultActions);
  actionsLayout->setContentsMargins(0, 0, 0, 0);
  actionsLayout->setSpacing(4);
  actionsLayout->addStretch(1);
  exportButton = new QToolButton(resultActions);
  exportButton->setText(text(CodecPanelTexts::exportAction));
  exportButton->setAutoRaise(true);
  QObject::connect(exportButton, &QToolButton::clicked, &view, [this] { exportResult(); });
  actionsLayout->addWidget(exportButton);
  metadataButton = new QToolButton(resultActions);
  metadataButton->setIcon(symbolIcon("info.circle"));
  metadataButton->setToolTip(text(CodecPanelTexts::exifToolTooltip));
  metadataButton->setAccessibleName(text(CodecPanelTexts::exifToolTooltip));
  metadataButton->setAutoRaise(true);
  QObject::connect(metadataButton, &QToolButton::clicked, &view,
                   [this] { workspace.inspectEncodedMetadata(index); });
  actionsLayout->addWidget(metadataButton);
  layout->addWidget(resultActions);
  return results;
}

void CodecPanelView::State::refresh() {
  const CodecPanel& current = panel();
  selectIn(codecPicker, current.codec);
  refreshCodecMarks();
  const std::optional<std::string> reason = workspace.codecUnavailableReason(current.codec);
  codecPicker->setToolTip(reason ? codecPicker->currentText() + QStringLiteral(": ") + text(*reason)
                                 : codecPicker->currentText());
  busyIndicator->setVisible(current.isRunning);
  generateButton->setEnabled(workspace.sourceURL().has_value());
  const QString generateText = text(current.isRunning ? CodecPanelTexts::stopTooltip : CodecPanelTexts::generateTooltip);
  generateButton->setIcon(symbolIcon(current.isRunning ? "stop.fill" : "arrow.triangle.2.circlepath"));
  generateButton->setToolTip(generateText);
  generateButton->setAccessibleName(generateText);
  const bool showsProgress = current.isRunning && current.progressMessage && !current.progressMessage->empty();
  progressLabel->setText(showsProgress ? QString::fromStdString(*current.progressMessage) : QString());
  progressLabel->setVisible(showsProgress);
  refreshSettings(current);
  refreshResults(current);
}

void CodecPanelView::State::refreshSettings(const CodecPanel& panel) {
  const CompressionCodec codec = panel.codec;
  const CodecSettingsGroup group = codecInfo(codec).settingsGroup;
  const bool manual = panel.rateControlMode == RateControlMode::manual;

  const auto effortLimits = effortRange(codec);
  effort->setVisible(effortLimits.has_value());
  if (effortLimits) {
    effort->setRange(*effortLimits);
    effort->setValue(panel.effort);
    effort->setToolTip(text(effortTooltip(codec)));
  }

  const RateParameterRow rateRow = rateParameterRow(panel);
  searchCaption->setVisible(rateRow == RateParameterRow::searchCaption);
  searchCaptionText->setText(text(quorlin::searchCaption(codec)));
  distance->setVisible(rateRow == RateParameterRow::distanceSlider);
  quality->setVisible(rateRow == RateParameterRow::qualitySlider);
  if (rateRow == RateParameterRow::distanceSlider) {
    distance->setDistance(panel.distance, codec);
    distance->setToolTip(text(rateParameterTooltip(codec)));
    setOpacity(distance, distanceSliderOpacity(panel));
  } else if (rateRow == RateParameterRow::qualitySlider) {
    quality->setValue(panel.quality);
    quality->setToolTip(text(rateParameterTooltip(codec)));
  }

  webPGroup->setVisible(group == CodecSettingsGroup::webP);
  webPLossless->setVisible(showsLosslessToggle(panel));
  webPLossless->setChecked(panel.isWebPLossless);
  // The level only matters to a lossless encode, which the search never makes.
  webPLosslessLevel->setVisible(manual);
  webPLosslessLevel->setEnabled(panel.isWebPLossless);
  webPLosslessLevel->setValue(panel.webPLosslessLevel);

  jpegXLGroup->setVisible(group == CodecSettingsGroup::jpegXL);
  jpegXLProgressive->setChecked(panel.isJPEGXLProgressive);
  selectIn(groupOrder, panel.jpegXLGroupOrder);
  groupOrderDescription->setText(text(quorlin::groupOrderDescription(panel.jpegXLGroupOrder)));
  setOpacity(jpegXLProgressiveControls, jpegXLProgressiveOpacity(panel));
  transcodeControls->setVisible(showsLosslessJPEGTranscodeToggle(panel));
  transcode->setChecked(panel.isJPEGLosslessTranscode);
  // A loaded source that is not a JPEG cannot be transcoded: the switch can
  // then only be turned off. Before any source, it may be set in advance.
  transcode->setEnabled(panel.isJPEGLosslessTranscode || !workspace.sourceURL() || workspace.sourceIsJPEG());

  avifGroup->setVisible(group == CodecSettingsGroup::avif);
  avifLossless->setVisible(showsLosslessToggle(panel));
  avifLossless->setChecked(panel.isAVIFLossless);
  selectIn(avifDepth, panel.avifDepth);
  selectIn(avifChroma, panel.avifChromaSubsampling);
  avifProgressive->setChecked(panel.isAVIFProgressive);

  jpegliGroup->setVisible(group == CodecSettingsGroup::jpegli);
  selectIn(jpegliChroma, panel.chromaSubsampling);
  if (QAbstractButton* level = jpegliProgressive->button(panel.progressiveLevel)) {
    level->setChecked(true);
  } else if (QAbstractButton* checked = jpegliProgressive->checkedButton()) {
    // A level outside 0-2 selects no segment.
    jpegliProgressive->setExclusive(false);
    checked->setChecked(false);
    jpegliProgressive->setExclusive(true);
  }

  jpegTurboGroup->setVisible(group == CodecSettingsGroup::jpegTurbo);
  selectIn(jpegTurboChroma, panel.chromaSubsampling);
  jpegTurboProgressive->setChecked(panel.isJPEGTurboProgressive);
  jpegTurboOptimized->setChecked(panel.isJPEGTurboOptimized);

  heifGroup->setVisible(group == CodecSettingsGroup::libheif);
  heifLossless->setVisible(showsLosslessToggle(panel));
  heifLossless->setChecked(panel.isHEIFLossless);
  selectIn(heifDepth, panel.heifBitDepth);
}

void CodecPanelView::State::refreshCodecMarks() {
  // Codecs that cannot run here stay selectable, dimmed, with the reason.
  const QColor dimmed = view.palette().color(QPalette::Disabled, QPalette::Text);
  for (int row = 0; row < codecPicker->count(); ++row) {
    const auto codec = static_cast<CompressionCodec>(codecPicker->itemData(row).toInt());
    const std::optional<std::string> reason = workspace.codecUnavailableReason(codec);
    codecPicker->setItemData(row, reason ? QVariant(text(*reason)) : QVariant(), Qt::ToolTipRole);
    codecPicker->setItemData(row, reason ? QVariant(QBrush(dimmed)) : QVariant(), Qt::ForegroundRole);
  }
}

void CodecPanelView::State::refreshResults(const CodecPanel& panel) {
  const QPalette& palette = view.palette();
  const auto rows = resultMetricRows(panel, workspace.sourceFileSize(), workspace.sourcePixelCount());
  while (lines.size() < rows.size()) {
    auto* line = new ResultMetricLine(resultLines);
    resultLines->layout()->addWidget(line);
    lines.push_back(line);
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ResultMetricLine* line = lines[i];
    line->setVisible(i < rows.size());
    if (i >= rows.size()) continue;
    line->setLabel(QString::fromStdString(rows[i].label));
    line->setValue(QString::fromStdString(rows[i].value));
    switch (rows[i].emphasis) {
      case ResultEmphasis::none: line->setEmphasized(false); break;
      case ResultEmphasis::strong: line->setEmphasized(true); break;
      case ResultEmphasis::warning: line->setEmphasized(true, statusColor(StatusTone::orange, palette)); break;
    }
  }
  resultLines->setVisible(!rows.empty());
  resultActions->setVisible(panel.result.has_value());

  const bool isStale = panel.needsRegeneration();
  staleNotice->setVisible(isStale);
  QPalette stalePalette = staleNotice->palette();
  stalePalette.setColor(QPalette::WindowText, statusColor(StatusTone::orange, palette));
  staleNotice->setPalette(stalePalette);
  setOpacity(resultLines, isStale ? staleResultOpacity : 1.0);

  failure->setVisible(panel.errorMessage.has_value());
  failureMessage->setText(panel.errorMessage ? QString::fromStdString(*panel.errorMessage) : QString());
  QPalette failurePalette = failureTitle->palette();
  failurePalette.setColor(QPalette::WindowText, statusColor(StatusTone::red, palette));
  failureTitle->setPalette(failurePalette);

  resultSeparator->setVisible(panel.result.has_value() || panel.errorMessage.has_value());
}

void CodecPanelView::State::exportResult() {
  const auto proposal = workspace.exportProposal(index);
  if (!proposal) return;
  // On the heap and watched: closing the tab while the dialog is open deletes
  // the dialog with the view, and then nothing here may be touched again.
  QPointer<QFileDialog> dialog = new QFileDialog(&view, text(CodecPanelTexts::exportAction));
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setNameFilter(saveFilter(proposal->contentType));
  if (const ContentTypeInfo* info = contentTypeInfo(proposal->contentType); info && !info->extensions.empty()) {
    dialog->setDefaultSuffix(text(info->extensions.front()));
  }
  dialog->setDirectory(QDir::homePath());
  dialog->selectFile(QString::fromStdString(proposal->proposedFileName));
  const bool accepted = dialog->exec() == QDialog::Accepted;
  if (!dialog) return;
  const QStringList chosen = dialog->selectedFiles();
  delete dialog;
  if (!accepted || chosen.isEmpty()) return;
  workspace.exportResult(index, std::filesystem::path(QFile::encodeName(chosen.front()).toStdString()));
}

CodecPanelView::CodecPanelView(CompressionWorkspace& workspace, int index, QWidget* parent)
    : QWidget(parent), state_(std::make_unique<State>(*this, workspace, index)) {
  setObjectName(QStringLiteral("codecPanel%1").arg(index + 1));
  state_->build();
  state_->subscription = workspace.observe([this](const WorkspaceChange& change) {
    if (change.containsPanel(state_->index) || change.contains(WorkspaceAspect::source) ||
        change.contains(WorkspaceAspect::rateControl)) {
      state_->refresh();
    }
  });
  new PaletteWatcher(this, [this] { state_->refreshResults(state_->panel()); });
  state_->refresh();
}

CodecPanelView::~CodecPanelView() = default;

}  // namespace quorlin::gui
