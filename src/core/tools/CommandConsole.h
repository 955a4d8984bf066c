// The command console: a log of every external command the pipeline runs, with
// its command line, state, duration and captured output. Version probes are not
// logged. There is one store for the whole application, shared by all tabs.
//
// CommandConsoleStore is main-thread only: the process runner posts its begin,
// finish and failLaunch calls through the MainThreadDispatcher (FIFO, so a
// begin always precedes its finish). Observers are called on the main thread
// after every change; the desktop console view and `quorlin-cli --verbose`
// follow the store that way.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/common/Uuid.h"

namespace quorlin {

using ConsoleClock = std::chrono::system_clock;

enum class ConsoleStatusColor { red, orange, green };

struct CommandConsoleEntry {
  Uuid id;
  std::string commandLine;  // display command line (bare tool name, quoted arguments)
  ConsoleClock::time_point startedAt;
  std::optional<ConsoleClock::time_point> finishedAt;  // set when the child exited or failed to launch
  std::optional<std::int32_t> exitStatus;              // empty while running and after a failed launch
  std::string output;                                  // combined output; empty until finished
  std::optional<std::string> launchError;              // the launch failure's description

  // "Launch failed: MESSAGE", "Running", "Completed" or "Failed (N)", first that holds.
  std::string statusText() const;
  // red for a failed launch or a non-zero status, orange while running, green for 0.
  ConsoleStatusColor statusColor() const;
  // finishedAt - startedAt as "%.2f s" (1.234 s -> "1.23 s"), or "running".
  std::string durationText() const;

  friend bool operator==(const CommandConsoleEntry&, const CommandConsoleEntry&) = default;
};

// What changed, passed to observers.
struct CommandConsoleChange {
  enum class Kind { begun, finished, launchFailed, cleared };
  Kind kind;
  Uuid id;  // the entry concerned; nil for cleared
};

class CommandConsoleStore {
 public:
  using Observer = std::function<void(const CommandConsoleChange&)>;
  using ObserverId = std::uint64_t;

  CommandConsoleStore() = default;
  CommandConsoleStore(const CommandConsoleStore&) = delete;
  CommandConsoleStore& operator=(const CommandConsoleStore&) = delete;

  // Newest first.
  const std::vector<CommandConsoleEntry>& entries() const { return entries_; }

  // Inserts a running entry at the front with a new id and startedAt = now.
  Uuid begin(std::string commandLine);
  // The same with the id and start time the caller chose (the runner takes them
  // on its worker thread so that durations are the child's true run time).
  void begin(Uuid id, std::string commandLine, ConsoleClock::time_point startedAt);

  // Sets finishedAt, exitStatus and output of the entry with that id; does
  // nothing when the entry is gone (cleared meanwhile).
  void finish(Uuid id, std::int32_t exitStatus, std::string output);
  void finish(Uuid id, std::int32_t exitStatus, std::string output, ConsoleClock::time_point finishedAt);

  // Sets finishedAt and launchError; exitStatus stays empty. Dropped like finish.
  void failLaunch(Uuid id, std::string message);
  void failLaunch(Uuid id, std::string message, ConsoleClock::time_point finishedAt);

  void clear();

  // Observers may add or remove observers (including themselves) while called;
  // such changes take effect from the next change on.
  ObserverId addChangeObserver(Observer observer);
  void removeChangeObserver(ObserverId id);

 private:
  CommandConsoleEntry* find(Uuid id);
  void notify(const CommandConsoleChange& change);

  std::vector<CommandConsoleEntry> entries_;
  std::vector<std::pair<ObserverId, Observer>> observers_;
  ObserverId nextObserverId_ = 1;
};

}  // namespace quorlin
