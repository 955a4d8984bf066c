// Main thread only; colours come from the palette at paint time.
#pragma once

#include <QString>
#include <QWidget>

namespace quorlin::gui {

// A plain text in the palette's window-text colour (or, when secondary, the
// secondary text colour). One line elided in the middle, or wrapped.
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

}  // namespace quorlin::gui
