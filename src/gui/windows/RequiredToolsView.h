// RequiredToolsView: the content of the "Required Command-Line Tools" window:
// the combined install command, then one RequiredToolRow per tool group with
// its status, each executable's path and version, its notes and the commands
// that install it (Homebrew, and on Linux also Debian/Ubuntu), each with a
// "Copy command" button.
//
// A row's status is computed from the file system when the row is built; the
// paths and versions are loaded on worker threads of a ToolLoadQueue (every
// group at once, each group's probes concurrently) and arrive on the main
// thread. A row that is gone by then (the window was closed and rebuilt, or
// "Re-check" replaced it) simply never hears of its result. Main thread only.
#pragma once

#include <QThreadPool>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/tools/ToolRequirements.h"
#include "gui/app/TextStyles.h"
#include "gui/widgets/ElidedLabel.h"
#include "gui/widgets/PaletteColors.h"
#include "gui/widgets/ToneLabel.h"
#include "gui/windows/WindowParts.h"
#include "gui/widgets/SymbolBadge.h"
#include "gui/widgets/CardFrame.h"

class QGridLayout;
class QVBoxLayout;

namespace quorlin {
class ExecutableURLCache;
class ToolSearchPath;
}

namespace quorlin::gui {

// Runs tool loads off the main thread and hands each result to its receiver on
// the main thread, unless the receiver has been destroyed meanwhile. The
// destructor waits for the loads still running (each probe is limited to five
// seconds).
class ToolLoadQueue {
 public:
  ToolLoadQueue();
  ~ToolLoadQueue();
  ToolLoadQueue(const ToolLoadQueue&) = delete;
  ToolLoadQueue& operator=(const ToolLoadQueue&) = delete;

  // Where a result goes: the receiver clears it when it is destroyed.
  struct Mailbox;
  using Delivery = std::function<void(std::vector<InstalledToolInfo>)>;

  void load(ToolRequirement requirement, std::vector<std::string> directories, std::shared_ptr<Mailbox> mailbox,
            Delivery deliver);

  // Blocks until every queued load has run (tests).
  void waitForDone();

 private:
  QThreadPool pool_;
};

// Puts text on the clipboard as plain text.
using CopyAction = std::function<void(const std::string& text)>;
CopyAction clipboardCopyAction();

class RequiredToolRow : public CardFrame {
  Q_OBJECT

 public:
  RequiredToolRow(ToolRequirement requirement, const std::vector<std::string>& directories, CopyAction copy,
                  ToolLoadQueue& loads, QWidget* parent = nullptr);
  ~RequiredToolRow() override;

  const ToolRequirement& requirement() const { return requirement_; }
  // Whether the paths and versions have arrived.
  bool hasLoadedTools() const { return hasLoadedTools_; }

 private:
  void showStatus(const std::vector<InstalledToolInfo>& tools);
  void showTools(std::vector<InstalledToolInfo> tools);
  void addCommand(const QString& label, const std::string& command, QVBoxLayout* layout);

  ToolRequirement requirement_;
  CopyAction copy_;
  std::shared_ptr<ToolLoadQueue::Mailbox> mailbox_;
  SymbolBadge* badge_;
  ToneLabel* status_;
  QGridLayout* toolsLayout_;
  QVBoxLayout* limitationsLayout_;
  bool hasLoadedTools_ = false;
};

class RequiredToolsView : public QWidget {
  Q_OBJECT

 public:
  RequiredToolsView(ExecutableURLCache& executables, const ToolSearchPath& searchPath, ToolLoadQueue& loads,
                    CopyAction copy = clipboardCopyAction(), QWidget* parent = nullptr);

  int recheckToken() const { return recheckToken_; }

  // "Re-check": forgets the cached tool locations and rebuilds every row.
  void recheck();

 private:
  void buildRows();

  ExecutableURLCache& executables_;
  const ToolSearchPath& searchPath_;
  ToolLoadQueue& loads_;
  CopyAction copy_;
  QVBoxLayout* rowsLayout_;
  int recheckToken_ = 0;
};

}  // namespace quorlin::gui
