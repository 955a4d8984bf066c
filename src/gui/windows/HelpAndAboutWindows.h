// The two read-only windows: "Quorlin Help" and "About Quorlin". Each is
// created on its first show and kept (hidden) when closed.
//
// Main thread only.
#pragma once

#include <memory>

class QWidget;

namespace quorlin::gui {

class AppHelpWindowController {
 public:
  AppHelpWindowController();
  ~AppHelpWindowController();
  AppHelpWindowController(const AppHelpWindowController&) = delete;
  AppHelpWindowController& operator=(const AppHelpWindowController&) = delete;

  void show();
  QWidget* window() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class AboutWindowController {
 public:
  AboutWindowController();
  ~AboutWindowController();
  AboutWindowController(const AboutWindowController&) = delete;
  AboutWindowController& operator=(const AboutWindowController&) = delete;

  void show();
  QWidget* window() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorlin::gui
