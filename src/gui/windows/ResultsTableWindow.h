// ResultsTableWindow: the View menu's table of the selected tab's four
// results side by side (codec, settings, size, bits per pixel, savings,
// score, encode and decode time), sortable by any column, with Copy as CSV.
// It follows one workspace at a time and updates as that workspace changes;
// the main window points it at the selected tab and detaches it before a tab
// goes away. Main thread only.
#pragma once

#include <memory>
#include <string>

class QTableWidget;
class QWidget;

namespace quorlin {
class CompressionWorkspace;
}

namespace quorlin::gui {

class ResultsTableWindowController {
 public:
  ResultsTableWindowController();
  ~ResultsTableWindowController();

  // Shows the window for `workspace` and brings it to the front.
  void show(CompressionWorkspace& workspace);
  // While the window is visible, shows `workspace` instead.
  void follow(CompressionWorkspace& workspace);
  // Stops following `workspace` (about to be destroyed); nothing when another one is followed.
  void detach(const CompressionWorkspace& workspace);

  QWidget* window() const;
  QTableWidget* table() const;
  // What Copy as CSV puts on the clipboard.
  std::string csv() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorlin::gui
