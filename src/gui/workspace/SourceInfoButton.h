// Main thread only.
#pragma once

#include <QAbstractButton>

#include "gui/widgets/PaletteTextLabel.h"

namespace quorlin::gui {

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

}  // namespace quorlin::gui
