// Main thread only; colours come from the palette at paint time.
#pragma once

#include <QTimer>
#include <QWidget>

namespace quorlin::gui {

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

}  // namespace quorlin::gui
