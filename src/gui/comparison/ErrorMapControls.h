// ErrorMapControls: the zoom bar's error map toggle ("Error Map", checked
// while the map shows) and its layer picker (All, Structure, Artifacts,
// Blur). They report the user's choices; setState shows the workspace's
// values without reporting them back. Main thread only.
#pragma once

#include <QWidget>

#include "core/comparison/ErrorMapImage.h"

class QComboBox;
class QToolButton;

namespace quorlin::gui {

class ErrorMapControls : public QWidget {
  Q_OBJECT

 public:
  explicit ErrorMapControls(QWidget* parent = nullptr);

  void setState(bool isShowing, ErrorMapLayer layer);

 signals:
  void toggleRequested();
  void layerChosen(quorlin::ErrorMapLayer layer);

 private:
  QToolButton* toggle_;
  QComboBox* layerPicker_;
};

}  // namespace quorlin::gui
