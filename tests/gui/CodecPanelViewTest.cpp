// The codec panel over a real workspace (fake engine): which rows show for
// which codec and mode, edits reaching the panel, the result and failure
// areas, and the panel's own actions.
#include <QAbstractButton>
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

#include <algorithm>
#include <fstream>
#include <memory>

#include "GuiTestSupport.h"
#include "core/common/ByteCount.h"
#include "core/workspace/CodecPanelPresentation.h"
#include "gui/workspace/CodecPanelView.h"
#include "gui/workspace/DistanceSlider.h"
#include "gui/workspace/LabeledSlider.h"
#include "gui/workspace/ResultMetricLine.h"
#include "support/CodecParameters.h"
#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

using gui::CodecPanelView;
using gui::DistanceSlider;
using gui::LabeledSlider;
using gui::ResultMetricLine;

constexpr int jpegXLPanel = 0;
constexpr int webPPanel = 2;

class CodecPanelViewTest : public WorkspaceFixture {
 protected:
  void TearDown() override {
    views.clear();
    WorkspaceFixture::TearDown();
  }

  CodecPanelView& viewOf(int index) {
    views.push_back(std::make_unique<CodecPanelView>(*workspace, index));
    return *views.back();
  }

  static bool shows(const CodecPanelView& view, const QWidget* widget) {
    return widget != nullptr && widget->isVisibleTo(&view);
  }

  static LabeledSlider* slider(const CodecPanelView& view, const QString& label) {
    for (auto* candidate : view.findChildren<LabeledSlider*>()) {
      if (candidate->label() == label) return candidate;
    }
    return nullptr;
  }

  template <typename Widget>
  static Widget* withText(const CodecPanelView& view, const QString& text) {
    for (auto* candidate : view.findChildren<Widget*>()) {
      if (candidate->text() == text) return candidate;
    }
    return nullptr;
  }

  // The visible toggle titled `text` (several codecs have a "Lossless" one).
  static QCheckBox* visibleToggle(const CodecPanelView& view, const QString& text) {
    for (auto* candidate : view.findChildren<QCheckBox*>()) {
      if (candidate->text() == text && candidate->isVisibleTo(&view)) return candidate;
    }
    return nullptr;
  }

  static ResultMetricLine* line(const CodecPanelView& view, const QString& label) {
    for (auto* candidate : view.findChildren<ResultMetricLine*>()) {
      if (candidate->label() == label && candidate->isVisibleTo(&view)) return candidate;
    }
    return nullptr;
  }

  static QString lineValue(const CodecPanelView& view, const QString& label) {
    ResultMetricLine* found = line(view, label);
    return found ? found->value() : QStringLiteral("<no line>");
  }

  static void pickCodec(CodecPanelView& view, CompressionCodec codec) {
    auto* picker = view.findChild<QComboBox*>("codecPicker");
    ASSERT_NE(picker, nullptr);
    const int row = picker->findData(static_cast<int>(codec));
    ASSERT_GE(row, 0);
    picker->setCurrentIndex(row);
    emit picker->activated(row);
  }

  // A result made with the panel's current settings, as the search or a run would leave it.
  void giveResult(int index, const std::function<void(CompressionResult&)>& adjust) {
    workspace->updatePanel(index, [&](CodecPanel& panel) {
      CompressionResult result;
      result.codec = panel.codec;
      result.encodedSize = 50'000;
      result.ssimulacra2Score = 88.04;
      result.encodeDuration = 0.25;
      result.decodeDuration = 0.5;
      result.settingsSignature = panel.settingsSignature();
      adjust(result);
      panel.result = result;
    });
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
    auto setting = std::find_if(catalogRows.begin(), catalogRows.end(),
                                [&](const PanelSetting& s) { return QString::fromUtf8(s.field) == field; });
    ASSERT_NE(setting, catalogRows.end()) << field.toStdString();
    using K = PanelSettingKind;
    if (auto* slider = qobject_cast<LabeledSlider*>(row)) {
      EXPECT_EQ(setting->kind, K::wholeNumber);
      EXPECT_EQ(slider->range(), setting->range) << field.toStdString();
    } else if (qobject_cast<DistanceSlider*>(row)) {
      EXPECT_EQ(setting->kind, K::number);
      EXPECT_EQ(setting->range.upperBound, maximumSliderDistance);
    } else if (qobject_cast<QCheckBox*>(row)) {
      EXPECT_EQ(setting->kind, K::flag);
    } else if (auto* picker = qobject_cast<QComboBox*>(row)) {
      ASSERT_EQ(setting->kind, K::choice);
      ASSERT_EQ(static_cast<std::size_t>(picker->count()), setting->choices.size()) << field.toStdString();
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

TEST_F(CodecPanelViewTest, HeaderShowsBadgePickerByDisplayNameAndGenerate) {
  CodecPanelView& view = viewOf(3);
  auto* picker = view.findChild<QComboBox*>("codecPicker");
  ASSERT_NE(picker, nullptr);
  // Wide enough for the longest name, closed.
  EXPECT_GE(picker->width(), picker->fontMetrics().horizontalAdvance("JPEG (libjpeg-turbo)") + 20);
  ASSERT_EQ(picker->count(), 10);
  EXPECT_EQ(picker->itemText(0), "JPEG XL");
  EXPECT_EQ(picker->itemText(7), "HEIF (System)");
  EXPECT_EQ(picker->itemText(9), "JPEG (System)");
  EXPECT_EQ(picker->currentText(), "JPEGli");
  auto* generate = view.findChild<QToolButton*>("generateButton");
  ASSERT_NE(generate, nullptr);
  EXPECT_EQ(generate->toolTip(), "Generate this codec");
  EXPECT_FALSE(generate->isEnabled());   // nothing to encode yet

  load(writeImage("photo.png"));
  EXPECT_TRUE(generate->isEnabled());
  generate->click();
  auto runs = waitingRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].panel.id, workspace->panel(3).id);
  EXPECT_EQ(generate->toolTip(), "Stop this codec");
  EXPECT_TRUE(shows(view, view.findChild<QProgressBar*>()));
  finishAndApply(runs[0].number);
  EXPECT_FALSE(shows(view, view.findChild<QProgressBar*>()));
}

TEST_F(CodecPanelViewTest, ACodecSwitchDuringARunLeavesTheArrivingResultDimmedUnderNeedsRegeneration) {
  CodecPanelView& view = viewOf(webPPanel);
  load(writeImage("photo.png"));
  workspace->generatePanel(workspace->panel(webPPanel).id);
  auto runs = waitingRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  pickCodec(view, CompressionCodec::avif);
  finishAndApply(runs[0].number);
  ASSERT_TRUE(workspace->panel(webPPanel).needsRegeneration());
  auto* notice = view.findChild<QLabel*>("staleNotice");
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(shows(view, notice));
  EXPECT_EQ(notice->text(), "Needs Regeneration");
  auto* dimmed = qobject_cast<QGraphicsOpacityEffect*>(line(view, "File Size")->parentWidget()->graphicsEffect());
  ASSERT_NE(dimmed, nullptr);
  EXPECT_TRUE(dimmed->isEnabled());
  EXPECT_LT(dimmed->opacity(), 1.0);

  workspace->generatePanel(workspace->panel(webPPanel).id);
  finishAndApply(waitingRuns(1).back().number);
  EXPECT_FALSE(shows(view, notice));
  EXPECT_FALSE(dimmed->isEnabled());
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

TEST_F(CodecPanelViewTest, ProgressTextShowsUnderTheHeaderOnlyWhileRunning) {
  CodecPanelView& view = viewOf(webPPanel);
  auto* progress = view.findChild<QLabel*>("progressMessage");
  ASSERT_NE(progress, nullptr);
  EXPECT_FALSE(shows(view, progress));
  // The workspace writes these while a search probes; a plain value here.
  workspace->updatePanel(webPPanel, [](CodecPanel& panel) {
    panel.isRunning = true;
    panel.progressMessage = "Quality 88: 84.2";
  });
  EXPECT_TRUE(shows(view, progress));
  EXPECT_EQ(progress->text(), "Quality 88: 84.2");
  EXPECT_TRUE(shows(view, view.findChild<QProgressBar*>()));
  workspace->updatePanel(webPPanel, [](CodecPanel& panel) { panel.isRunning = false; });
  EXPECT_FALSE(shows(view, progress));   // a stale text is not shown once the run is over
  EXPECT_FALSE(shows(view, view.findChild<QProgressBar*>()));
}

TEST_F(CodecPanelViewTest, PickingAnotherCodecClearsTheResultAndError) {
  CodecPanelView& view = viewOf(webPPanel);
  giveResult(webPPanel, [](CompressionResult&) {});
  workspace->updatePanel(webPPanel, [](CodecPanel& panel) { panel.errorMessage = "earlier failure"; });
  ASSERT_NE(line(view, "File Size"), nullptr);
  pickCodec(view, CompressionCodec::heif);
  EXPECT_FALSE(workspace->panel(webPPanel).result.has_value());
  EXPECT_FALSE(workspace->panel(webPPanel).errorMessage.has_value());
  EXPECT_EQ(line(view, "File Size"), nullptr);
  EXPECT_FALSE(shows(view, withText<QLabel>(view, "Failed")));
  EXPECT_EQ(view.findChild<QComboBox*>("codecPicker")->toolTip(), "HEIF (System)");
  EXPECT_EQ(slider(view, "Quality")->toolTip(),
            "HEIF quality via the system's image library (0–100). Higher values keep more detail and produce larger "
            "files.");
  EXPECT_FALSE(shows(view, slider(view, "Encoding Effort")));
  EXPECT_EQ(visibleToggle(view, "Lossless"), nullptr);
}

TEST_F(CodecPanelViewTest, SwitchingJPEGXLToWebPSwapsDistanceForQualityAndKeepsJPEGXLSettings) {
  CodecPanelView& view = viewOf(jpegXLPanel);
  auto* distance = view.findChild<DistanceSlider*>();
  ASSERT_TRUE(shows(view, distance));
  EXPECT_FALSE(shows(view, slider(view, "Quality")));
  EXPECT_EQ(visibleToggle(view, "Lossless"), nullptr);
  EXPECT_EQ(slider(view, "Encoding Effort")->range(), (IntegerRange{1, 10}));

  // Edit JPEG XL settings through the controls.
  distance->slider()->setValue(DistanceSlider::positionSteps / 2);
  visibleToggle(view, "More Progressive")->click();
  ASSERT_EQ(workspace->panel(jpegXLPanel).distance, 6.25);
  ASSERT_TRUE(workspace->panel(jpegXLPanel).isJPEGXLProgressive);

  pickCodec(view, CompressionCodec::webP);
  EXPECT_EQ(workspace->panel(jpegXLPanel).codec, CompressionCodec::webP);
  EXPECT_FALSE(shows(view, distance));
  LabeledSlider* quality = slider(view, "Quality");
  ASSERT_TRUE(shows(view, quality));
  EXPECT_EQ(quality->range(), (IntegerRange{1, 100}));
  EXPECT_EQ(quality->valueText(), "85");
  EXPECT_EQ(quality->toolTip(),
            "WebP quality (cwebp -q, 0–100). Higher values keep more detail and produce larger files.");
  EXPECT_NE(visibleToggle(view, "Lossless"), nullptr);
  EXPECT_TRUE(shows(view, slider(view, "Lossless Level (-z)")));
  EXPECT_EQ(visibleToggle(view, "More Progressive"), nullptr);
  EXPECT_EQ(slider(view, "Encoding Effort")->range(), (IntegerRange{0, 6}));

  const CodecPanel& stored = workspace->panel(jpegXLPanel);
  EXPECT_EQ(stored.distance, 6.25);
  EXPECT_TRUE(stored.isJPEGXLProgressive);

  pickCodec(view, CompressionCodec::jpegXL);
  ASSERT_TRUE(shows(view, distance));
  EXPECT_EQ(distance->valueText(), "6.2");   // "%.1f" of 6.25
  EXPECT_DOUBLE_EQ(distance->position(), 0.5);
  EXPECT_TRUE(visibleToggle(view, "More Progressive")->isChecked());
}

TEST_F(CodecPanelViewTest, WebPLosslessLevelTakesInputOnlyWhileLossless) {
  CodecPanelView& view = viewOf(webPPanel);
  LabeledSlider* level = slider(view, "Lossless Level (-z)");
  ASSERT_TRUE(shows(view, level));
  EXPECT_FALSE(level->isEnabled());
  visibleToggle(view, "Lossless")->click();
  EXPECT_TRUE(workspace->panel(webPPanel).isWebPLossless);
  EXPECT_TRUE(level->isEnabled());
  level->slider()->setValue(9);
  EXPECT_EQ(workspace->panel(webPPanel).webPLosslessLevel, 9);
  EXPECT_NE(withText<QLabel>(view, "9 slowest, smallest file"), nullptr);
}

TEST_F(CodecPanelViewTest, TargetScoreModeShowsTheCaptionInsteadOfRateAndLosslessControls) {
  CodecPanelView& webP = viewOf(webPPanel);
  CodecPanelView& jpegXL = viewOf(jpegXLPanel);
  workspace->setRateControlMode(RateControlMode::targetScore);

  EXPECT_FALSE(shows(webP, slider(webP, "Quality")));
  EXPECT_EQ(visibleToggle(webP, "Lossless"), nullptr);
  EXPECT_FALSE(shows(webP, slider(webP, "Lossless Level (-z)")));
  EXPECT_TRUE(shows(webP, slider(webP, "Encoding Effort")));
  EXPECT_TRUE(shows(webP, withText<QLabel>(webP, "Quality set by target score search")));

  EXPECT_FALSE(shows(jpegXL, jpegXL.findChild<DistanceSlider*>()));
  EXPECT_EQ(visibleToggle(jpegXL, "Lossless JPEG transcode"), nullptr);
  EXPECT_NE(visibleToggle(jpegXL, "More Progressive"), nullptr);
  EXPECT_TRUE(shows(jpegXL, slider(jpegXL, "Encoding Effort")));
  QLabel* caption = withText<QLabel>(jpegXL, "Distance set by target score search");
  ASSERT_TRUE(shows(jpegXL, caption));
  EXPECT_EQ(caption->parentWidget()->toolTip(),
            "The rate parameter is searched automatically to hit the target SSIMULACRA2 score. The found value "
            "appears in the results below.");

  workspace->setRateControlMode(RateControlMode::manual);
  EXPECT_TRUE(shows(webP, slider(webP, "Quality")));
  EXPECT_FALSE(shows(jpegXL, caption));
}

TEST_F(CodecPanelViewTest, TranscodeDimsTheDistanceAndProgressiveControls) {
  load(writeImage("photo.jpg"));
  CodecPanelView& view = viewOf(jpegXLPanel);
  auto opacityOf = [](QWidget* widget) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect && effect->isEnabled() ? effect->opacity() : 1.0;
  };
  auto* distance = view.findChild<DistanceSlider*>();
  QCheckBox* progressive = visibleToggle(view, "More Progressive");
  EXPECT_EQ(opacityOf(distance), 1.0);
  QCheckBox* transcode = visibleToggle(view, "Lossless JPEG transcode");
  ASSERT_NE(transcode, nullptr);
  ASSERT_TRUE(transcode->isEnabled());
  transcode->click();
  EXPECT_TRUE(workspace->panel(jpegXLPanel).isJPEGLosslessTranscode);
  EXPECT_DOUBLE_EQ(opacityOf(distance), 0.45);
  EXPECT_DOUBLE_EQ(opacityOf(progressive->parentWidget()), 0.45);
  EXPECT_TRUE(distance->isEnabled());   // it still drives a non-JPEG source's encode

  pickCodec(view, CompressionCodec::jpegli);   // the codec change switches transcode off
  EXPECT_EQ(opacityOf(distance), 1.0);
}

TEST_F(CodecPanelViewTest, TranscodeCannotBeSwitchedOnForANonJPEGSource) {
  load(writeImage("photo.png"));
  CodecPanelView& view = viewOf(jpegXLPanel);
  QCheckBox* transcode = visibleToggle(view, "Lossless JPEG transcode");
  ASSERT_NE(transcode, nullptr);
  EXPECT_FALSE(transcode->isEnabled());
  EXPECT_NE(withText<QLabel>(view, "Available for JPEG source files"), nullptr);
}

TEST_F(CodecPanelViewTest, DistanceSliderMovesWriteTheRoundedDistance) {
  CodecPanelView& view = viewOf(3);   // JPEGli
  auto* distance = view.findChild<DistanceSlider*>();
  ASSERT_TRUE(shows(view, distance));
  EXPECT_EQ(distance->valueText(), "1.00 visually lossless");
  distance->slider()->setValue(DistanceSlider::positionSteps);
  EXPECT_EQ(workspace->panel(3).distance, 25.0);
  distance->slider()->setValue(0);
  EXPECT_EQ(workspace->panel(3).distance, 0.0);
  EXPECT_EQ(distance->valueText(), "0.00 visually lossless");
  distance->slider()->setValue(317);   // 0.317^2 x 25 = 2.512... -> 2.5
  EXPECT_DOUBLE_EQ(workspace->panel(3).distance, 2.5);
  EXPECT_EQ(distance->slider()->value(), 317);   // the model's echo leaves the knob alone
}

TEST_F(CodecPanelViewTest, PickersWriteTheirFields) {
  CodecPanelView& view = viewOf(1);   // AVIF
  QComboBox* depth = nullptr;
  for (auto* picker : view.findChildren<QComboBox*>()) {
    if (picker->accessibleName() == "Depth") depth = picker;
  }
  ASSERT_TRUE(shows(view, depth));
  EXPECT_EQ(depth->currentText(), "Auto");
  ASSERT_EQ(depth->count(), 4);
  EXPECT_EQ(depth->itemText(3), "12");
  depth->setCurrentIndex(3);
  emit depth->activated(3);
  EXPECT_EQ(workspace->panel(1).avifDepth, AVIFDepth::twelve);

  pickCodec(view, CompressionCodec::jpegli);
  QAbstractButton* levelOne = nullptr;
  for (auto* button : view.findChildren<QToolButton*>()) {
    if (button->text() == "1") levelOne = button;
  }
  ASSERT_TRUE(shows(view, levelOne));
  levelOne->click();
  EXPECT_EQ(workspace->panel(1).progressiveLevel, 1);
}

TEST_F(CodecPanelViewTest, ResultLinesOfASyntheticResult) {
  load(writeImage("photo.png", 2000, 1000));
  CodecPanelView& view = viewOf(webPPanel);
  EXPECT_EQ(line(view, "File Size"), nullptr);
  EXPECT_FALSE(shows(view, withText<QToolButton>(view, "Export")));

  const std::int64_t sourceSize = workspace->sourceFileSize();
  ASSERT_GT(sourceSize, 0);
  giveResult(webPPanel, [&](CompressionResult& result) { result.encodedSize = sourceSize / 4; });
  EXPECT_EQ(lineValue(view, "File Size"), QString::fromStdString(formatByteCount(sourceSize / 4)));
  EXPECT_EQ(lineValue(view, "Savings"),
            QString::number((1.0 - double(sourceSize / 4) / double(sourceSize)) * 100.0, 'f', 1) + "%");
  EXPECT_EQ(lineValue(view, "Encode Time"), "250 ms");
  EXPECT_EQ(lineValue(view, "Decode Speed"), "4.0 MP/s");
  EXPECT_EQ(lineValue(view, "SSIMULACRA2"), "88.0");
  EXPECT_EQ(lineValue(view, "Compression"), "lossy");
  EXPECT_EQ(line(view, "Search Result"), nullptr);
  EXPECT_TRUE(line(view, "File Size")->isEmphasized());
  EXPECT_TRUE(shows(view, withText<QToolButton>(view, "Export")));

  giveResult(webPPanel, [](CompressionResult& result) { result.encodeDuration = 1.0; });
  EXPECT_EQ(lineValue(view, "Encode Time"), "1.00 s");
}

TEST_F(CodecPanelViewTest, ResultWithoutSourceMetadataShowsDashes) {
  CodecPanelView& view = viewOf(webPPanel);
  giveResult(webPPanel, [](CompressionResult&) {});
  EXPECT_EQ(lineValue(view, "Decode Speed"), "--");
  EXPECT_EQ(lineValue(view, "Bits Per Pixel"), "--");
  EXPECT_EQ(lineValue(view, "Savings"), "--");
}

TEST_F(CodecPanelViewTest, UnreachableTargetIsReportedAfterTheFoundValue) {
  CodecPanelView& view = viewOf(webPPanel);
  workspace->setRateControlMode(RateControlMode::targetScore);
  giveResult(webPPanel, [](CompressionResult& result) {
    result.foundQuality = 91;
    result.ssimulacra2Score = 83.9;
  });
  ResultMetricLine* search = line(view, "Search Result");
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(search->value(), "Quality 91 \u2014 target 85 not reachable");
  EXPECT_TRUE(search->emphasisColor().isValid());

  giveResult(webPPanel, [](CompressionResult& result) {
    result.foundQuality = 91;
    result.ssimulacra2Score = 84.6;
  });
  EXPECT_EQ(lineValue(view, "Search Result"), "Quality 91");
  EXPECT_FALSE(line(view, "Search Result")->emphasisColor().isValid());

  // The warning colour is picked for the palette, and again when it changes.
  giveResult(webPPanel, [](CompressionResult& result) {
    result.foundQuality = 91;
    result.ssimulacra2Score = 80.0;
  });
  QPalette light;
  light.setColor(QPalette::Window, Qt::white);
  view.setPalette(light);
  const QColor onLight = line(view, "Search Result")->emphasisColor();
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(30, 30, 30));
  view.setPalette(dark);
  const QColor onDark = line(view, "Search Result")->emphasisColor();
  EXPECT_GT(onDark.lightness(), onLight.lightness());
}

TEST_F(CodecPanelViewTest, FailureShowsTheErrorUnderFailed) {
  load(writeImage("photo.png"));
  CodecPanelView& view = viewOf(webPPanel);
  EXPECT_FALSE(shows(view, withText<QLabel>(view, "Failed")));
  workspace->generatePanel(workspace->panel(webPPanel).id);
  auto runs = waitingRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  const auto error = CompressionError::missingTool("cwebp");
  failAndApply(runs[0].number, error);

  EXPECT_TRUE(shows(view, withText<QLabel>(view, "Failed")));
  QLabel* message = withText<QLabel>(view, QString::fromStdString(error.message()));
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(shows(view, message));
  EXPECT_EQ(line(view, "File Size"), nullptr);
  EXPECT_FALSE(shows(view, withText<QToolButton>(view, "Export")));
}

TEST_F(CodecPanelViewTest, ExportSavesThroughTheDialogAndMetadataReachesThePresenter) {
  load(writeImage("photo.png"));
  CodecPanelView& view = viewOf(webPPanel);
  workspace->generatePanel(workspace->panel(webPPanel).id);
  auto runs = waitingRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  finishAndApply(runs[0].number, 90.0, 1234);
  ASSERT_TRUE(workspace->panel(webPPanel).result.has_value());

  const auto destination = scratch / "exported.webp";
  QString offeredName;
  QString offeredFilter;
  QTimer::singleShot(0, [&] {
    QFileDialog* dialog = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (auto* candidate = qobject_cast<QFileDialog*>(window); candidate && candidate->isVisible()) dialog = candidate;
    }
    ASSERT_NE(dialog, nullptr);
    offeredName = dialog->selectedFiles().value(0);
    offeredFilter = dialog->nameFilters().value(0);
    dialog->selectFile(QString::fromStdString(destination.string()));
    static_cast<QDialog*>(dialog)->accept();   // the file dialog checks the chosen name
  });
  withText<QToolButton>(view, "Export")->click();
  EXPECT_TRUE(offeredName.endsWith(QString::fromStdString(
      workspace->panel(webPPanel).result->encodedURL.filename().string())));
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

TEST(DistanceSliderTest, PositionsAndTexts) {
  DistanceSlider slider;
  std::vector<double> edits;
  QObject::connect(&slider, &DistanceSlider::distanceEdited, [&](double d) { edits.push_back(d); });

  slider.setDistance(1.0, CompressionCodec::jpegXL);
  EXPECT_DOUBLE_EQ(slider.position(), 0.2);
  EXPECT_EQ(slider.valueText(), "1.00 visually lossless");
  slider.setDistance(3.0, CompressionCodec::jpegXL);
  EXPECT_EQ(slider.valueText(), "3.0");
  slider.setDistance(0.0, CompressionCodec::jpegXL);
  EXPECT_EQ(slider.valueText(), "0.0 mathematically lossless");
  slider.setDistance(0.0, CompressionCodec::jpegli);
  EXPECT_EQ(slider.valueText(), "0.00 visually lossless");
  slider.setDistance(40.0, CompressionCodec::jpegXL);   // beyond the slider: knob at the end, value as stored
  EXPECT_EQ(slider.position(), 1.0);
  EXPECT_EQ(slider.valueText(), "40.0");
  EXPECT_TRUE(edits.empty());   // setting is not editing
  slider.slider()->triggerAction(QAbstractSlider::SliderToMaximum);   // the knob is there already
  EXPECT_EQ(edits, std::vector<double>{25.0});
  edits.clear();

  slider.slider()->setValue(0);
  slider.slider()->setValue(DistanceSlider::positionSteps / 2);
  slider.slider()->setValue(DistanceSlider::positionSteps);
  EXPECT_EQ(edits, (std::vector<double>{0.0, 6.25, 25.0}));
  EXPECT_EQ(slider.valueText(), "25.0");
}

TEST(LabeledSliderTest, ShowsTheStoredValueAndReportsOnlyUserMoves) {
  LabeledSlider slider("Encoding Effort", {0, 6});
  std::vector<int> edits;
  QObject::connect(&slider, &LabeledSlider::valueEdited, [&](int value) { edits.push_back(value); });
  slider.setValue(7);   // a JPEG XL effort shown on the WebP range
  EXPECT_EQ(slider.valueText(), "7");
  EXPECT_EQ(slider.slider()->value(), 6);
  slider.slider()->triggerAction(QAbstractSlider::SliderToMaximum);   // the knob is there already
  EXPECT_EQ(edits, std::vector<int>{6});
  EXPECT_EQ(slider.valueText(), "6");
  edits.clear();
  slider.setValue(7);
  slider.setRange({1, 10});
  EXPECT_EQ(slider.slider()->value(), 7);
  EXPECT_TRUE(edits.empty());
  slider.slider()->setValue(3);
  EXPECT_EQ(edits, std::vector<int>{3});
  EXPECT_EQ(slider.valueText(), "3");
}

}  // namespace
}  // namespace quorlin::test
