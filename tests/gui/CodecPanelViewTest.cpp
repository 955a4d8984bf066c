// The codec panel over a real workspace (fake engine): which rows show for
// which codec and mode, edits reaching the panel, the result and failure
// areas, and the panel's own actions.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QProgressBar>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "gui/app/ApplicationAppearance.h"
#include "gui/workspace/CodecPanelView.h"
#include "gui/workspace/DistanceSlider.h"
#include "gui/workspace/LabeledSlider.h"
#include "gui/workspace/ResultMetricLine.h"
#include "support/CodecParameters.h"
#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

using namespace gui;

constexpr int jpegXLPanel = 0;
constexpr int webPPanel = 2;

class CodecPanelViewTest : public WorkspaceFixture {
 protected:
  void TearDown() override {
    views.clear();
    WorkspaceFixture::TearDown();
  }

  CodecPanelView& viewOf(int index) { return *views.emplace_back(std::make_unique<CodecPanelView>(*workspace, index)); }

  static bool shows(const CodecPanelView& view, const QWidget* widget) {
    return widget != nullptr && widget->isVisibleTo(&view);
  }

  // The first `Widget` whose label (or text) is `text`, visible ones only when asked
  // (several codecs have a "Lossless" toggle, and several panels a "File Size" line).
  template <typename Widget>
  static Widget* withText(const CodecPanelView& view, const QString& text, bool visibleOnly = false) {
    for (auto* candidate : view.findChildren<Widget*>()) {
      QString shown;
      if constexpr (requires { candidate->label(); }) shown = candidate->label();
      else shown = candidate->text();
      if (shown == text && (!visibleOnly || candidate->isVisibleTo(&view))) return candidate;
    }
    return nullptr;
  }
  static LabeledSlider* slider(const CodecPanelView& view, const QString& label) {
    return withText<LabeledSlider>(view, label);
  }
  static QCheckBox* toggle(const CodecPanelView& view, const QString& text) { return withText<QCheckBox>(view, text, true); }
  static ResultMetricLine* line(const CodecPanelView& view, const QString& label) {
    return withText<ResultMetricLine>(view, label, true);
  }
  static double opacityOf(QWidget* widget) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect && effect->isEnabled() ? effect->opacity() : 1.0;
  }

  static void pickCodec(CodecPanelView& view, CompressionCodec codec) {
    auto* picker = view.findChild<QComboBox*>("codecPicker");
    const int row = picker->findData(static_cast<int>(codec));
    ASSERT_GE(row, 0);
    picker->setCurrentIndex(row);
    emit picker->activated(row);
  }

  // A result made with the panel's current settings, as the search or a run would leave it.
  void giveResult(int index, double score = 88.04, std::optional<int> foundQuality = {}) {
    workspace->updatePanel(index, [&](CodecPanel& panel) {
      CompressionResult result;
      result.codec = panel.codec;
      result.encodedSize = 50'000;
      result.ssimulacra2Score = score;
      result.decodeDuration = 0.5;
      result.settingsSignature = panel.settingsSignature();
      result.foundQuality = foundQuality;
      panel.result = result;
    });
  }

  // One run of panel `index` started and waiting.
  int startRun(int index) {
    workspace->generatePanel(workspace->panel(index).id);
    auto runs = waitingRuns(1);
    return runs.empty() ? -1 : runs.back().number;
  }

  std::vector<std::unique_ptr<CodecPanelView>> views;
};

// The rows shown for each codec are the catalog's panel settings (which the
// command line takes too) with the same kinds and ranges.
class CodecPanelRowsTest : public CodecPanelViewTest, public ::testing::WithParamInterface<CompressionCodec> {};

TEST_P(CodecPanelRowsTest, AreTheCatalogSettingsWithTheirRanges) {
  CodecPanelView& view = viewOf(jpegXLPanel);
  pickCodec(view, GetParam());
  const auto catalogRows = panelSettings(GetParam());
  std::size_t shownRows = 0;
  for (auto* row : view.findChildren<QWidget*>()) {
    const QString field = row->property("panelField").toString();
    if (field.isEmpty() || !row->isVisibleTo(&view)) continue;
    ++shownRows;
    SCOPED_TRACE(field.toStdString());
    auto setting = std::find_if(catalogRows.begin(), catalogRows.end(),
                                [&](const PanelSetting& s) { return QString::fromUtf8(s.field) == field; });
    ASSERT_NE(setting, catalogRows.end());
    using K = PanelSettingKind;
    if (auto* slider = qobject_cast<LabeledSlider*>(row)) {
      EXPECT_EQ(setting->kind, K::wholeNumber);
      EXPECT_EQ(slider->range(), setting->range);
    } else if (qobject_cast<DistanceSlider*>(row)) {
      EXPECT_EQ(setting->kind, K::number);
      EXPECT_EQ(setting->range.upperBound, maximumSliderDistance);
    } else if (qobject_cast<QCheckBox*>(row)) {
      EXPECT_EQ(setting->kind, K::flag);
    } else if (auto* picker = qobject_cast<QComboBox*>(row)) {
      ASSERT_EQ(setting->kind, K::choice);
      ASSERT_EQ(static_cast<std::size_t>(picker->count()), setting->choices.size());
      for (int i = 0; i < picker->count(); ++i) EXPECT_EQ(picker->itemData(i).toInt(), i);
    } else {
      const auto levels = row->findChildren<QToolButton*>();
      ASSERT_FALSE(levels.isEmpty());
      EXPECT_EQ(setting->kind, K::wholeNumber);
      EXPECT_EQ((IntegerRange{levels.front()->text().toInt(), levels.back()->text().toInt()}), setting->range);
    }
  }
  EXPECT_EQ(shownRows, catalogRows.size());
}

INSTANTIATE_TEST_SUITE_P(Catalog, CodecPanelRowsTest, catalogCodecs(), codecParameterName);

TEST_F(CodecPanelViewTest, GenerateRunsThisPanelWithProgressShownOnlyWhileRunning) {
  CodecPanelView& view = viewOf(3);
  auto* picker = view.findChild<QComboBox*>("codecPicker");
  EXPECT_EQ(static_cast<std::size_t>(picker->count()), allCompressionCodecs().size());
  EXPECT_EQ(picker->currentData().toInt(), static_cast<int>(workspace->panel(3).codec));
  auto* generate = view.findChild<QToolButton*>("generateButton");
  auto* progress = view.findChild<QLabel*>("progressMessage");
  EXPECT_FALSE(generate->isEnabled());   // nothing to encode yet
  load(writeImage("photo.png"));
  generate->click();
  auto runs = waitingRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].panel.id, workspace->panel(3).id);
  EXPECT_EQ(generate->toolTip(), "Stop this codec");
  EXPECT_TRUE(shows(view, view.findChild<QProgressBar*>()));
  // The workspace writes these while a search probes.
  workspace->updatePanel(3, [](CodecPanel& panel) { panel.progressMessage = "Quality 88: 84.2"; });
  EXPECT_TRUE(shows(view, progress) && progress->text() == "Quality 88: 84.2");
  finishAndApply(runs[0].number);
  EXPECT_FALSE(shows(view, view.findChild<QProgressBar*>()));
  EXPECT_FALSE(shows(view, progress));   // a stale text is not shown once the run is over
}

TEST_F(CodecPanelViewTest, ACodecSwitchDuringARunLeavesTheArrivingResultDimmedUnderNeedsRegeneration) {
  CodecPanelView& view = viewOf(webPPanel);
  load(writeImage("photo.png"));
  const int run = startRun(webPPanel);
  pickCodec(view, CompressionCodec::avif);
  finishAndApply(run);
  ASSERT_TRUE(workspace->panel(webPPanel).needsRegeneration());
  auto* notice = view.findChild<QLabel*>("staleNotice");
  EXPECT_TRUE(shows(view, notice));
  QWidget* resultArea = line(view, "File Size")->parentWidget();
  EXPECT_LT(opacityOf(resultArea), 1.0);
  finishAndApply(startRun(webPPanel));
  EXPECT_FALSE(shows(view, notice));
  EXPECT_EQ(opacityOf(resultArea), 1.0);
}

TEST_F(CodecPanelViewTest, ThePickerDimsCodecsThatCannotRunHereNamesTheReasonAndStillOffersThem) {
  engine->unavailableCodecs = {{CompressionCodec::jpegli, "cjpegli not installed"}};
  CodecPanelView& view = viewOf(jpegXLPanel);
  auto* picker = view.findChild<QComboBox*>("codecPicker");
  const int jpegli = picker->findData(static_cast<int>(CompressionCodec::jpegli));
  EXPECT_EQ(picker->itemData(jpegli, Qt::ToolTipRole).toString(), "cjpegli not installed");
  EXPECT_TRUE(picker->itemData(jpegli, Qt::ForegroundRole).isValid());
  EXPECT_FALSE(picker->itemData(0, Qt::ToolTipRole).isValid());
  pickCodec(view, CompressionCodec::jpegli);
  EXPECT_EQ(workspace->panel(jpegXLPanel).codec, CompressionCodec::jpegli);
  EXPECT_EQ(picker->toolTip(), "JPEGli: cjpegli not installed");
}

TEST_F(CodecPanelViewTest, PickingAnotherCodecClearsTheResultAndErrorAndKeepsTheOtherCodecsSettings) {
  CodecPanelView& view = viewOf(jpegXLPanel);
  auto* distance = view.findChild<DistanceSlider*>();
  ASSERT_TRUE(shows(view, distance));
  EXPECT_FALSE(shows(view, slider(view, "Quality")));
  distance->slider()->setValue(DistanceSlider::positionSteps / 2);
  toggle(view, "More Progressive")->click();
  ASSERT_EQ(workspace->panel(jpegXLPanel).distance, 6.25);
  ASSERT_TRUE(workspace->panel(jpegXLPanel).isJPEGXLProgressive);
  giveResult(jpegXLPanel);
  workspace->updatePanel(jpegXLPanel, [](CodecPanel& panel) { panel.errorMessage = "earlier failure"; });
  ASSERT_NE(line(view, "File Size"), nullptr);

  pickCodec(view, CompressionCodec::webP);
  EXPECT_EQ(line(view, "File Size"), nullptr);
  EXPECT_FALSE(shows(view, withText<QLabel>(view, "Failed")));
  EXPECT_FALSE(shows(view, distance));
  ASSERT_TRUE(shows(view, slider(view, "Quality")));
  EXPECT_EQ(toggle(view, "More Progressive"), nullptr);

  pickCodec(view, CompressionCodec::jpegXL);
  ASSERT_TRUE(shows(view, distance));
  EXPECT_DOUBLE_EQ(distance->position(), 0.5);
  EXPECT_TRUE(toggle(view, "More Progressive")->isChecked());
}

TEST_F(CodecPanelViewTest, ControlsWriteTheirFieldsAndTheWebPLosslessLevelOnlyWhileLossless) {
  CodecPanelView& view = viewOf(webPPanel);
  LabeledSlider* level = slider(view, "Lossless Level (-z)");
  ASSERT_TRUE(shows(view, level));
  EXPECT_FALSE(level->isEnabled());
  toggle(view, "Lossless")->click();
  EXPECT_TRUE(workspace->panel(webPPanel).isWebPLossless);
  EXPECT_TRUE(level->isEnabled());
  level->slider()->setValue(9);
  EXPECT_EQ(workspace->panel(webPPanel).webPLosslessLevel, 9);

  CodecPanelView& avif = viewOf(1);
  QComboBox* depth = nullptr;
  for (auto* picker : avif.findChildren<QComboBox*>()) depth = picker->accessibleName() == "Depth" ? picker : depth;
  ASSERT_TRUE(shows(avif, depth));
  depth->setCurrentIndex(3);
  emit depth->activated(3);
  EXPECT_EQ(workspace->panel(1).avifDepth, AVIFDepth::twelve);

  pickCodec(avif, CompressionCodec::jpegli);
  QAbstractButton* levelOne = withText<QToolButton>(avif, "1");
  ASSERT_TRUE(shows(avif, levelOne));
  levelOne->click();
  EXPECT_EQ(workspace->panel(1).progressiveLevel, 1);
  // The distance knob writes the rounded distance and is left where it was put.
  auto* distance = avif.findChild<DistanceSlider*>();
  distance->slider()->setValue(317);   // 0.317^2 x 25 = 2.512... -> 2.5
  EXPECT_DOUBLE_EQ(workspace->panel(1).distance, 2.5);
  EXPECT_EQ(distance->slider()->value(), 317);
}

TEST_F(CodecPanelViewTest, TargetScoreModeShowsTheCaptionInsteadOfRateAndLosslessControls) {
  CodecPanelView& webP = viewOf(webPPanel);
  CodecPanelView& jpegXL = viewOf(jpegXLPanel);
  workspace->setRateControlMode(RateControlMode::targetScore);
  EXPECT_FALSE(shows(webP, slider(webP, "Quality")));
  EXPECT_EQ(toggle(webP, "Lossless"), nullptr);
  EXPECT_TRUE(shows(webP, slider(webP, "Encoding Effort")));
  EXPECT_FALSE(shows(jpegXL, jpegXL.findChild<DistanceSlider*>()));
  EXPECT_EQ(toggle(jpegXL, "Lossless JPEG transcode"), nullptr);
  QLabel* caption = withText<QLabel>(jpegXL, "Distance set by target score search");
  ASSERT_TRUE(shows(jpegXL, caption));
  workspace->setRateControlMode(RateControlMode::manual);
  EXPECT_TRUE(shows(webP, slider(webP, "Quality")));
  EXPECT_FALSE(shows(jpegXL, caption));
}

TEST_F(CodecPanelViewTest, TranscodeIsOnlyForAJPEGSourceAndDimsTheDistanceAndProgressiveControls) {
  load(writeImage("photo.png"));
  CodecPanelView& other = viewOf(jpegXLPanel);
  ASSERT_NE(toggle(other, "Lossless JPEG transcode"), nullptr);
  EXPECT_FALSE(toggle(other, "Lossless JPEG transcode")->isEnabled());

  load(writeImage("photo.jpg"));
  CodecPanelView& view = viewOf(jpegXLPanel);
  auto* distance = view.findChild<DistanceSlider*>();
  QCheckBox* progressive = toggle(view, "More Progressive");
  EXPECT_EQ(opacityOf(distance), 1.0);
  QCheckBox* transcode = toggle(view, "Lossless JPEG transcode");
  ASSERT_TRUE(transcode->isEnabled());
  transcode->click();
  EXPECT_TRUE(workspace->panel(jpegXLPanel).isJPEGLosslessTranscode);
  EXPECT_LT(opacityOf(distance), 1.0);
  EXPECT_LT(opacityOf(progressive->parentWidget()), 1.0);
  EXPECT_TRUE(distance->isEnabled());   // it still drives a non-JPEG source's encode
  pickCodec(view, CompressionCodec::jpegli);   // the codec change switches transcode off
  EXPECT_EQ(opacityOf(distance), 1.0);
}

TEST_F(CodecPanelViewTest, UnreachableTargetIsReportedAfterTheFoundValueInAColourForThePalette) {
  CodecPanelView& view = viewOf(webPPanel);
  giveResult(webPPanel);
  EXPECT_EQ(line(view, "Search Result"), nullptr);   // manual mode
  EXPECT_TRUE(line(view, "File Size")->isEmphasized());
  workspace->setRateControlMode(RateControlMode::targetScore);
  giveResult(webPPanel, 83.9, 91);
  ASSERT_NE(line(view, "Search Result"), nullptr);
  EXPECT_TRUE(line(view, "Search Result")->emphasisColor().isValid());
  giveResult(webPPanel, 84.6, 91);
  EXPECT_FALSE(line(view, "Search Result")->emphasisColor().isValid());
  giveResult(webPPanel, 80.0, 91);
  view.setPalette(gui::lightPalette());
  const QColor onLight = line(view, "Search Result")->emphasisColor();
  view.setPalette(gui::darkPalette());
  EXPECT_GT(line(view, "Search Result")->emphasisColor().lightness(), onLight.lightness());
}

TEST_F(CodecPanelViewTest, AFailureShowsTheErrorUnderFailedAndAResultExportsAndShowsItsMetadata) {
  load(writeImage("photo.png"));
  CodecPanelView& view = viewOf(webPPanel);
  EXPECT_FALSE(shows(view, withText<QLabel>(view, "Failed")));
  const auto error = CompressionError::missingTool("cwebp");
  failAndApply(startRun(webPPanel), error);
  EXPECT_TRUE(shows(view, withText<QLabel>(view, "Failed")));
  EXPECT_TRUE(shows(view, withText<QLabel>(view, QString::fromStdString(error.message()))));
  EXPECT_EQ(line(view, "File Size"), nullptr);
  EXPECT_FALSE(shows(view, withText<QToolButton>(view, "Export")));

  finishAndApply(startRun(webPPanel), 90.0, 1234);
  ASSERT_TRUE(workspace->panel(webPPanel).result.has_value());
  const auto destination = scratch / "exported.webp";
  QString offeredName, offeredFilter;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    offeredName = dialog->selectedFiles().value(0);
    offeredFilter = dialog->nameFilters().value(0);
    dialog->selectFile(QString::fromStdString(destination.string()));
    static_cast<QDialog*>(dialog)->accept();   // the file dialog checks the chosen name
  });
  withText<QToolButton>(view, "Export", true)->click();
  EXPECT_TRUE(offeredName.endsWith(
      QString::fromStdString(workspace->panel(webPPanel).result->encodedURL.filename().string())));
  EXPECT_TRUE(offeredFilter.contains("*.webp")) << offeredFilter.toStdString();
  EXPECT_TRUE(exists(destination));
  EXPECT_EQ(workspace->statusMessage(), "Exported exported.webp.");

  std::vector<EncodedMetadataInspection> inspections;
  workspace->setMetadataPresenter([&](const EncodedMetadataInspection& shown) { inspections.push_back(shown); });
  QToolButton* metadata = nullptr;
  for (auto* button : view.findChildren<QToolButton*>()) {
    if (button->toolTip() == "Show ExifTool metadata") metadata = button;
  }
  ASSERT_TRUE(shows(view, metadata));
  metadata->click();
  ASSERT_TRUE(quiesce());
  ASSERT_EQ(inspections.size(), 1u);
  EXPECT_EQ(inspections[0].title, "WebP Metadata");
}

// ---- The companion widgets on their own

TEST(DistanceSliderTest, PositionsTextsAndOnlyUserMovesReported) {
  DistanceSlider slider;
  std::vector<double> edits;
  QObject::connect(&slider, &DistanceSlider::distanceEdited, [&](double d) { edits.push_back(d); });
  slider.setDistance(1.0, CompressionCodec::jpegXL);
  EXPECT_DOUBLE_EQ(slider.position(), 0.2);
  EXPECT_EQ(slider.valueText(), "1.00 visually lossless");
  slider.setDistance(40.0, CompressionCodec::jpegXL);   // beyond the slider: knob at the end, value as stored
  EXPECT_EQ(slider.position(), 1.0);
  EXPECT_EQ(slider.valueText(), "40.0");
  EXPECT_TRUE(edits.empty());   // setting is not editing
  slider.slider()->triggerAction(QAbstractSlider::SliderToMaximum);   // the knob is there already
  EXPECT_EQ(edits, std::vector<double>{25.0});
  EXPECT_EQ(slider.valueText(), "25.0");

  LabeledSlider effort("Encoding Effort", {0, 6});
  std::vector<int> efforts;
  QObject::connect(&effort, &LabeledSlider::valueEdited, [&](int value) { efforts.push_back(value); });
  effort.setValue(7);   // a JPEG XL effort shown on the WebP range
  EXPECT_EQ(effort.valueText(), "7");
  EXPECT_EQ(effort.slider()->value(), 6);
  effort.slider()->triggerAction(QAbstractSlider::SliderToMaximum);   // the knob is there already
  EXPECT_EQ(efforts, std::vector<int>{6});
  EXPECT_EQ(effort.valueText(), "6");
  efforts.clear();
  effort.setValue(7);
  effort.setRange({1, 10});
  EXPECT_EQ(effort.slider()->value(), 7);
  EXPECT_TRUE(efforts.empty());
}

}  // namespace
}  // namespace quorlin::test
