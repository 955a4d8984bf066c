// CompressionWorkspaceView: the widgets of one tab: the rate-control bar, Open
// and Generate, the source block, the four-way comparison view with the four
// codec panels around it, the status bar and the zoom bar. It binds to one
// CompressionWorkspace and owns the workspace's inspector windows.
//
// Main thread only; the workspace and the registry must outlive the view.
#pragma once

#include <QWidget>

#include <memory>

namespace quorlin {
class CompressionWorkspace;
class KeyboardCommandRegistry;
}

namespace quorlin::gui {

class CompressionWorkspaceView : public QWidget {
 public:
  CompressionWorkspaceView(CompressionWorkspace& workspace, KeyboardCommandRegistry& registry,
                           QWidget* parent = nullptr);
  ~CompressionWorkspaceView() override;

  // File › Open…: the same dialog as the Open button.
  void chooseSource();

 protected:
  // Narrows the panel columns on small windows, so the canvas keeps half the width.
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorlin::gui
