// The small widgets the workspace view is built from: a text that follows the
// palette (primary or secondary shade) and elides or wraps, a segmented
// picker, a progress indicator that keeps its place while idle, the source
// block's borderless button and the empty state of the canvas area.
//
// All of them take their colours from the palette when they paint, so they
// follow a switch between light and dark palettes at once. Main thread only.
#pragma once

#include <QAbstractButton>
#include <QButtonGroup>
#include <QTimer>
#include <QWidget>

#include <vector>

class QLabel;

namespace quorlin::gui {

// A plain text in the palette's window-text colour (or, when secondary, that
// colour at reduced opacity). One line elided in the middle, or wrapped.
class PaletteTextLabel : public QWidget {
 public:
  enum class Shade { primary, secondary };
  enum class Layout { elidedLine, wrapped };

  explicit PaletteTextLabel(Shade shade = Shade::primary, Layout layout = Layout::elidedLine,
                            QWidget* parent = nullptr);

  void setText(const QString& text);
  const QString& text() const { return text_; }
  // The text as painted at the current width (elided lines lose their middle).
  QString displayedText() const;
  void setAlignment(Qt::Alignment alignment);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return layout_ == Layout::wrapped; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QColor textColor() const;
  // The width a wrapped text asks for: its natural line, capped at a
  // comfortable measure and at the maximum width.
  int preferredWrapWidth() const;

  QString text_;
  Shade shade_;
  Layout layout_;
  Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
};

// Mutually exclusive segments side by side in one rounded frame; the chosen
// one is filled with the highlight colour. Only a click reports
// (segmentClicked); setCurrentIndex is silent, so a model can drive it.
class SegmentedPicker : public QWidget {
  Q_OBJECT

 public:
  SegmentedPicker(const std::vector<QString>& segments, QWidget* parent = nullptr);

  void setCurrentIndex(int index);
  int currentIndex() const;
  QAbstractButton* segment(int index) const;

 signals:
  void segmentClicked(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QButtonGroup group_;
};

// A one-pixel rule in a faint shade of the window text, for any palette.
class SeparatorLine : public QWidget {
 public:
  explicit SeparatorLine(Qt::Orientation orientation, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A small spinning indicator. Idle, it paints nothing but keeps its size, so
// the text beside it never moves.
class ActivityIndicator : public QWidget {
 public:
  explicit ActivityIndicator(QWidget* parent = nullptr);

  void setRunning(bool isRunning);
  bool isRunning() const { return isRunning_; }
  // 1 while running, 0 when idle.
  double opacity() const { return isRunning_ ? 1.0 : 0.0; }

  QSize sizeHint() const override { return {16, 16}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool isRunning_ = false;
  int phase_ = 0;
  QTimer timer_;
};

// The source block: the file name over the summary line. It acts as a
// borderless button only while interactive (with metadata); otherwise clicks
// do nothing and it shows no hover.
class SourceInfoButton : public QAbstractButton {
 public:
  explicit SourceInfoButton(QWidget* parent = nullptr);

  void setContent(const QString& fileName, const QString& summary);
  void setInteractive(bool isInteractive);
  bool isInteractive() const { return isInteractive_; }
  const PaletteTextLabel& nameLabel() const { return *name_; }
  const PaletteTextLabel& summaryLabel() const { return *summary_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& position) const override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  PaletteTextLabel* name_;
  PaletteTextLabel* summary_;
  bool isInteractive_ = false;
  bool isHovered_ = false;
};

// What the canvas area shows before a source is loaded.
class EmptyWorkspaceState : public QWidget {
 public:
  explicit EmptyWorkspaceState(QWidget* parent = nullptr);

  const PaletteTextLabel& headline() const { return *headline_; }
  const PaletteTextLabel& detail() const { return *detail_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void refreshSymbol();

  QLabel* symbol_;
  PaletteTextLabel* headline_;
  PaletteTextLabel* detail_;
};

}  // namespace quorlin::gui
