// CodecPanelView: one of the four codec panels of a workspace: header with the
// corner badge, codec picker and Generate button, the settings rows of the
// chosen codec, and the result lines of the panel's last run.
//
// It observes the workspace and writes every edit through
// CompressionWorkspace::updatePanel; Generate, Export (through a save dialog)
// and the ExifTool action call the workspace too. Main thread only; the
// workspace must outlive the view.
#pragma once

#include <QWidget>

#include <memory>

namespace quorlin {
class CompressionWorkspace;
}

namespace quorlin::gui {

class CodecPanelView : public QWidget {
 public:
  CodecPanelView(CompressionWorkspace& workspace, int index, QWidget* parent = nullptr);
  ~CodecPanelView() override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorlin::gui
