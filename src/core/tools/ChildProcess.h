// Running one child process to its end with both output streams captured.
//
// The child is started with posix_spawn from an absolute executable path (never
// a shell, never a PATH search of our own). Its standard output and standard
// error are two close-on-exec pipes that a poll loop on the calling thread
// drains as data arrives, so a child printing megabytes on both streams never
// blocks on a full pipe. The call blocks until the child has exited and both
// streams are drained (or, with a time limit, until the limit's last step).
//
// Thread-safe: every call owns its child, pipes and descriptors; calls on
// different threads run independently.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "core/tools/ProcessOutputCollector.h"

namespace quorlin {

// What the child reads as standard input.
enum class ChildStandardInput {
  nullDevice,  // /dev/null: a child that reads gets end of file at once, never waits for a terminal
  inherited,   // our own standard input
};

// The children started with one tracker, so that a program can end every tool
// it started: the command line on Ctrl-C, the desktop app when it quits. A tracked
// child runs in a process group of its own, and is signalled as a group, so
// helpers it started itself end with it. Thread-safe.
class ChildProcessTracker {
 public:
  ChildProcessTracker() = default;
  ChildProcessTracker(const ChildProcessTracker&) = delete;
  ChildProcessTracker& operator=(const ChildProcessTracker&) = delete;

  // Sends `signalNumber` to every running tracked child, and to every child
  // started with this tracker from now on, as soon as it exists. A later call
  // (SIGKILL after SIGTERM, say) replaces the signal and sends it again.
  void terminateAll(int signalNumber);
  bool isTerminating() const;
  // Tracked children not yet reaped.
  std::size_t runningCount() const;

  // Used by runChildProcess: records a started child and returns the signal it
  // must get at once (0 for none); forgets it just before it is reaped.
  int add(pid_t child);
  void remove(pid_t child);

 private:
  mutable std::mutex lock_;
  std::set<pid_t> children_;
  int terminationSignal_ = 0;
};

struct ChildProcessRequest {
  std::filesystem::path executable;     // absolute path; launched as is
  std::vector<std::string> arguments;   // argv[1...], passed byte for byte
  std::string argumentZero;             // argv[0]; empty means the executable's file name
  // "NAME=VALUE" entries; nothing means our own environment unchanged.
  std::optional<std::vector<std::string>> environment;
  ChildStandardInput standardInput = ChildStandardInput::nullDevice;
  // When set, the child is tracked there (and gets a process group of its own).
  ChildProcessTracker* tracker = nullptr;
  // A stop requested here ends the child and everything in its process group
  // (which it then gets): SIGTERM at once, SIGKILL `stopKillGrace` later, and
  // reading stops after a further grace, so the call returns within a second.
  std::stop_token stopToken{};
};

inline constexpr std::chrono::milliseconds stopKillGrace{450};

// A time limit: when `limit` has passed the child (and everything in its process
// group) gets SIGTERM; if that has not ended it `killGrace` later, SIGKILL; after
// a further `killGrace` reading stops even if a stray descendant keeps a pipe
// open. With a time limit the child runs in a process group of its own.
struct ChildTimeLimit {
  std::chrono::steady_clock::duration limit;
  std::chrono::steady_clock::duration killGrace = std::chrono::seconds(1);
};

struct ChildProcessOutcome {
  // 0 when the child started; otherwise posix_spawn's error number (the child
  // never ran, nothing was read).
  int launchError = 0;
  // The termination status: the exit code, or 128 + the signal number when a
  // signal ended the child.
  int exitStatus = 0;
  // The signal that ended the child, 0 when it exited by itself.
  int terminatingSignal = 0;
  // True when the time limit's SIGTERM was sent.
  bool wasTerminatedByTimeLimit = false;
  // True when a stop request's SIGTERM was sent.
  bool wasStopped = false;

  bool hasLaunched() const { return launchError == 0; }
};

// The termination status of a waitpid() status word: the exit code, or 128 plus
// the signal number for a child ended by a signal.
int terminationStatus(int waitStatus);

// Our own environment with "PATH" set to `path` (replaced, not extended; added
// when we have none). Entries keep their order.
std::vector<std::string> environmentWithPath(const std::string& path);

// Runs the child to its end. On Linux the child gets SIGKILL when the thread
// that started it dies (this call blocks that thread until the child is
// reaped), so a killed program leaves no tool running. Standard output goes to `standardOutput`, standard
// error to `standardError` (the same collector may be passed twice: chunks then
// arrive in the order the poll loop reads them). A launch failure is reported in
// the outcome, never thrown. Throws std::system_error only when the pipes
// themselves cannot be created.
ChildProcessOutcome runChildProcess(const ChildProcessRequest& request, ProcessOutputCollector& standardOutput,
                                    ProcessOutputCollector& standardError,
                                    std::optional<ChildTimeLimit> timeLimit = std::nullopt);

}  // namespace quorlin
