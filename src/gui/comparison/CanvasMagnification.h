// CanvasMagnification: the View menu's choice between square pixels and
// smooth interpolation for canvases magnified to 200 % or more. One choice for
// the whole application; every canvas repaints when it changes. Main thread only.
#pragma once

#include <QObject>

namespace quorlin::gui {

class CanvasMagnification : public QObject {
  Q_OBJECT

 public:
  static CanvasMagnification& instance();

  bool isSmooth() const { return isSmooth_; }
  void setSmooth(bool isSmooth);

 signals:
  void smoothChanged(bool isSmooth);

 private:
  bool isSmooth_ = false;
};

}  // namespace quorlin::gui
