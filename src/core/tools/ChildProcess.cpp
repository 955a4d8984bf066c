#include "core/tools/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace quorlin {

namespace {

using Clock = std::chrono::steady_clock;

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  int get() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  FileDescriptor readEnd;
  FileDescriptor writeEnd;

  // Both ends close-on-exec, so children started concurrently by other threads
  // never inherit them (the spawn's dup2 gives our child its own copies).
  static Pipe create() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    return Pipe{FileDescriptor(fds[0]), FileDescriptor(fds[1])};
  }
};

// A started child that has not been reaped yet. The pid stays reserved (as a
// zombie at worst) until reap(), so signalling it, or its process group, can
// never reach an unrelated process. Move-only; if it is dropped unreaped (only on
// an exception inside our own loop) it is terminated, killed and reaped.
class RunningChild {
 public:
  RunningChild(pid_t pid, bool hasOwnGroup, ChildProcessTracker* tracker)
      : pid_(pid), hasOwnGroup_(hasOwnGroup), tracker_(tracker) {
    if (tracker_) {
      if (int pending = tracker_->add(pid_)) signal(pending);
    }
  }
  RunningChild(const RunningChild&) = delete;
  RunningChild& operator=(const RunningChild&) = delete;
  ~RunningChild() {
    if (isReaped_) return;
    signal(SIGTERM);
    const auto giveUp = Clock::now() + std::chrono::seconds(1);
    while (!hasExited() && Clock::now() < giveUp) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!hasExited()) signal(SIGKILL);
    reap();
  }

  void signal(int number) const { ::kill(hasOwnGroup_ ? -pid_ : pid_, number); }

  // Whether the child has exited, without reaping it.
  bool hasExited() const {
    siginfo_t info{};
    int result;
    do {
      result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (result != 0 && errno == EINTR);
    return result != 0 || info.si_pid == pid_;
  }

  // Blocks until the child has exited; returns its termination status.
  int reap() {
    if (!isReaped_) {
      if (tracker_) {
        // Leave the tracker while the pid is still reserved by the zombie, so a
        // late terminateAll can never signal a recycled pid.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
        }
        tracker_->remove(pid_);
      }
      int status = 0;
      pid_t result;
      do {
        result = ::waitpid(pid_, &status, 0);
      } while (result < 0 && errno == EINTR);
      isReaped_ = true;
      exitStatus_ = result == pid_ ? terminationStatus(status) : 128 + SIGKILL;
      if (result == pid_ && WIFSIGNALED(status)) terminatingSignal_ = WTERMSIG(status);
    }
    return exitStatus_;
  }
  int terminatingSignal() const { return terminatingSignal_; }

 private:
  pid_t pid_;
  bool hasOwnGroup_;
  ChildProcessTracker* tracker_;
  bool isReaped_ = false;
  int exitStatus_ = 0;
  int terminatingSignal_ = 0;
};

// The stages of a time limit or a stop request, as absolute times.
struct LimitSchedule {
  Clock::time_point terminateAt;
  Clock::time_point killAt;
  Clock::time_point abandonAt;
  bool isStop = false;
  bool hasTerminated = false;
  bool hasKilled = false;

  static LimitSchedule startingAt(Clock::time_point terminateAt, Clock::duration grace, bool isStop) {
    return LimitSchedule{terminateAt, terminateAt + grace, terminateAt + 2 * grace, isStop};
  }

  // Sends the signals that are due; returns true once reading should stop.
  bool advance(RunningChild& child, ChildProcessOutcome& outcome) {
    auto now = Clock::now();
    if (!hasTerminated && now >= terminateAt) {
      child.signal(SIGTERM);
      hasTerminated = true;
      (isStop ? outcome.wasStopped : outcome.wasTerminatedByTimeLimit) = true;
    }
    if (!hasKilled && now >= killAt) {
      child.signal(SIGKILL);
      hasKilled = true;
    }
    return now >= abandonAt;
  }

  // Milliseconds until the next stage (at least 1), for poll().
  int millisecondsToNextStage() const {
    auto next = !hasTerminated ? terminateAt : !hasKilled ? killAt : abandonAt;
    auto remaining = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(remaining, 1, 60'000));
  }
};

// Reads what is available from `fd` into `collector`; returns false at end of
// file or on an error that ends the stream.
bool drainOnce(int fd, ProcessOutputCollector& collector) {
  std::array<char, 65536> buffer;
  for (;;) {
    ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count > 0) {
      collector.append(std::span<const char>(buffer.data(), static_cast<std::size_t>(count)));
      return true;
    }
    if (count == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN;
  }
}

// Everything the child needs, prepared before it exists: between vfork and
// exec only async-signal-safe calls on this data are allowed.
struct SpawnPlan {
  const char* path;
  char* const* argv;
  char* const* envp;
  int standardOutput;
  int standardError;
  bool hasNullStandardInput;
  bool hasOwnGroup;
};

#ifdef __linux__

// Puts `from` on `to` for the child, clearing close-on-exec even when they
// are already the same descriptor.
bool placeDescriptor(int from, int to) {
  if (from == to) return ::fcntl(to, F_SETFD, 0) == 0;
  return ::dup2(from, to) == to;
}

[[noreturn]] void failLaunch(volatile int* launchError) {
  *launchError = errno != 0 ? errno : ECHILD;
  ::_exit(127);
}

// The child side of vfork: set up, then exec. The child shares our memory
// until exec, so it only writes `*launchError` and never returns.
[[noreturn]] void execChild(const SpawnPlan& plan, pid_t parent, volatile int* launchError) {
  if (plan.hasNullStandardInput) {
    int input = ::open("/dev/null", O_RDONLY);
    if (input < 0 || !placeDescriptor(input, STDIN_FILENO)) failLaunch(launchError);
    if (input != STDIN_FILENO) ::close(input);
  }
  if (!placeDescriptor(plan.standardOutput, STDOUT_FILENO) || !placeDescriptor(plan.standardError, STDERR_FILENO)) {
    failLaunch(launchError);
  }
  if (plan.hasOwnGroup && ::setpgid(0, 0) != 0) failLaunch(launchError);
  // Default dispositions in the child: it must not run our handlers.
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  for (int number = 1; number < NSIG; ++number) {
    if (number == SIGKILL || number == SIGSTOP) continue;
    ::sigaction(number, &defaultAction, nullptr);
  }
  // The tool ends with us even when we are killed outright; if we already
  // died before this line, the check below catches it.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) failLaunch(launchError);
  if (::getppid() != parent) ::_exit(127);
  sigset_t noSignals;
  sigemptyset(&noSignals);
  ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
  ::execve(plan.path, plan.argv, plan.envp);
  failLaunch(launchError);
}

// Starts the child; returns 0 or the error number of the failed step.
int spawnChild(const SpawnPlan& plan, pid_t& pid) {
  // No handler may run in the child while it borrows our memory and stack.
  sigset_t allSignals;
  sigset_t previous;
  sigfillset(&allSignals);
  ::pthread_sigmask(SIG_SETMASK, &allSignals, &previous);
  volatile int launchError = 0;
  const pid_t parent = ::getpid();
  const pid_t child = ::vfork();
  if (child == 0) execChild(plan, parent, &launchError);
  const int forkError = child < 0 ? errno : 0;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (forkError != 0) return forkError;
  if (launchError != 0) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return launchError;
  }
  pid = child;
  return 0;
}

#else

// The posix_spawn_file_actions_* calls return an error number rather than set errno.
void checkSpawnCall(int result, const char* what) {
  if (result != 0) throw std::system_error(result, std::generic_category(), what);
}

class SpawnFileActions {
 public:
  SpawnFileActions() { checkSpawnCall(::posix_spawn_file_actions_init(&actions_), "posix_spawn_file_actions_init"); }
  ~SpawnFileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  void open(int descriptor, const char* path, int flags) {
    checkSpawnCall(::posix_spawn_file_actions_addopen(&actions_, descriptor, path, flags, 0),
                   "posix_spawn_file_actions_addopen");
  }
  void duplicate(int from, int to) {
    checkSpawnCall(::posix_spawn_file_actions_adddup2(&actions_, from, to), "posix_spawn_file_actions_adddup2");
  }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ::posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// Without a parent-death signal (macOS) a killed program's tools run to their end.
int spawnChild(const SpawnPlan& plan, pid_t& pid) {
  SpawnFileActions actions;
  if (plan.hasNullStandardInput) actions.open(STDIN_FILENO, "/dev/null", O_RDONLY);
  actions.duplicate(plan.standardOutput, STDOUT_FILENO);
  actions.duplicate(plan.standardError, STDERR_FILENO);

  // The child starts with default signal dispositions and no blocked signals,
  // whatever this process ignores or blocks.
  SpawnAttributes attributes;
  sigset_t noSignals;
  sigset_t allSignals;
  sigemptyset(&noSignals);
  sigfillset(&allSignals);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  ::posix_spawnattr_setsigmask(attributes.get(), &noSignals);
  ::posix_spawnattr_setsigdefault(attributes.get(), &allSignals);
  if (plan.hasOwnGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    ::posix_spawnattr_setpgroup(attributes.get(), 0);
  }
  ::posix_spawnattr_setflags(attributes.get(), flags);
  return ::posix_spawn(&pid, plan.path, actions.get(), attributes.get(), plan.argv, plan.envp);
}

#endif

}  // namespace

void ChildProcessTracker::terminateAll(int signalNumber) {
  std::lock_guard guard(lock_);
  terminationSignal_ = signalNumber;
  for (pid_t child : children_) ::kill(-child, signalNumber);
}

bool ChildProcessTracker::isTerminating() const {
  std::lock_guard guard(lock_);
  return terminationSignal_ != 0;
}

std::size_t ChildProcessTracker::runningCount() const {
  std::lock_guard guard(lock_);
  return children_.size();
}

int ChildProcessTracker::add(pid_t child) {
  std::lock_guard guard(lock_);
  children_.insert(child);
  return terminationSignal_;
}

void ChildProcessTracker::remove(pid_t child) {
  std::lock_guard guard(lock_);
  children_.erase(child);
}

int terminationStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return 128;
}

std::vector<std::string> environmentWithPath(const std::string& path) {
  std::vector<std::string> environment;
  bool hasPath = false;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    if (text.starts_with("PATH=")) {
      if (hasPath) continue;  // a duplicate PATH entry would be ambiguous; keep one
      environment.push_back("PATH=" + path);
      hasPath = true;
    } else {
      environment.emplace_back(text);
    }
  }
  if (!hasPath) environment.push_back("PATH=" + path);
  return environment;
}

ChildProcessOutcome runChildProcess(const ChildProcessRequest& request, ProcessOutputCollector& standardOutput,
                                    ProcessOutputCollector& standardError, std::optional<ChildTimeLimit> timeLimit) {
  ChildProcessOutcome outcome;
  Pipe outputPipe = Pipe::create();
  Pipe errorPipe = Pipe::create();

  const bool isStoppable = request.stopToken.stop_possible();
  const bool hasOwnGroup = timeLimit.has_value() || request.tracker != nullptr || isStoppable;
  std::string argumentZero = request.argumentZero.empty() ? request.executable.filename().string() : request.argumentZero;
  std::vector<char*> argv;
  argv.reserve(request.arguments.size() + 2);
  argv.push_back(argumentZero.data());
  std::vector<std::string> arguments = request.arguments;  // exec wants mutable strings
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  std::vector<std::string> environmentCopy;
  std::vector<char*> envp;
  char** environment = environ;
  if (request.environment) {
    environmentCopy = *request.environment;
    envp.reserve(environmentCopy.size() + 1);
    for (auto& entry : environmentCopy) envp.push_back(entry.data());
    envp.push_back(nullptr);
    environment = envp.data();
  }

  pid_t pid = 0;
  const auto startedAt = Clock::now();
  SpawnPlan plan{request.executable.c_str(), argv.data(), environment, outputPipe.writeEnd.get(),
                 errorPipe.writeEnd.get(), request.standardInput == ChildStandardInput::nullDevice, hasOwnGroup};
  int spawnResult = spawnChild(plan, pid);
  outputPipe.writeEnd.reset();
  errorPipe.writeEnd.reset();
  if (spawnResult != 0) {
    outcome.launchError = spawnResult;
    return outcome;
  }

  RunningChild child(pid, hasOwnGroup, request.tracker);
  std::optional<LimitSchedule> schedule;
  if (timeLimit) schedule = LimitSchedule::startingAt(startedAt + timeLimit->limit, timeLimit->killGrace, false);
  // A stop request wakes the poll below through this pipe; the callback is
  // destroyed (and waited for) before the pipe.
  std::optional<Pipe> wake;
  std::optional<std::stop_callback<std::function<void()>>> onStop;
  if (isStoppable) {
    wake = Pipe::create();
    onStop.emplace(request.stopToken, std::function<void()>([fd = wake->writeEnd.get()] {
      char byte = 1;
      (void)!::write(fd, &byte, 1);
    }));
  }
  bool hasNoticedStop = false;
  // Brings the stages forward when a stop has been requested; a time limit
  // already under way keeps its own.
  auto noticeStop = [&] {
    if (hasNoticedStop || !request.stopToken.stop_requested()) return;
    hasNoticedStop = true;
    if (!schedule || !schedule->hasTerminated) schedule = LimitSchedule::startingAt(Clock::now(), stopKillGrace, true);
  };

  std::array<FileDescriptor*, 2> streams = {&outputPipe.readEnd, &errorPipe.readEnd};
  std::array<ProcessOutputCollector*, 2> collectors = {&standardOutput, &standardError};
  bool isAbandoned = false;
  while (!isAbandoned && (streams[0]->isOpen() || streams[1]->isOpen())) {
    std::array<pollfd, 3> polled{};
    std::array<std::size_t, 3> which{};
    nfds_t count = 0;
    for (std::size_t i = 0; i < streams.size(); ++i) {
      if (!streams[i]->isOpen()) continue;
      polled[count] = pollfd{streams[i]->get(), POLLIN, 0};
      which[count++] = i;
    }
    if (wake && !hasNoticedStop) {
      polled[count] = pollfd{wake->readEnd.get(), POLLIN, 0};
      which[count++] = streams.size();
    }
    int timeout = schedule ? schedule->millisecondsToNextStage() : -1;
    int ready = ::poll(polled.data(), count, timeout);
    if (ready < 0 && errno != EINTR) {
      // Without poll we cannot keep reading; closing our ends turns a child
      // blocked on a full pipe into a write error instead of a hang.
      for (auto* stream : streams) stream->reset();
      break;
    }
    for (nfds_t j = 0; ready > 0 && j < count; ++j) {
      if (polled[j].revents == 0) continue;
      std::size_t i = which[j];
      if (i == streams.size()) continue;  // the wake pipe: noticed below
      if (!drainOnce(streams[i]->get(), *collectors[i])) streams[i]->reset();
    }
    noticeStop();
    if (schedule) isAbandoned = schedule->advance(child, outcome);
  }

  // Both streams are closed (or abandoned); the child may still be running if it
  // closed them itself.
  if (schedule || isStoppable) {
    for (;;) {
      noticeStop();
      if (child.hasExited() || (schedule && schedule->hasKilled)) break;
      const int step = schedule ? std::min(10, schedule->millisecondsToNextStage()) : 10;
      std::this_thread::sleep_for(std::chrono::milliseconds(step));
      if (schedule) schedule->advance(child, outcome);
    }
  }
  outcome.exitStatus = child.reap();
  outcome.terminatingSignal = child.terminatingSignal();
  return outcome;
}

}  // namespace quorlin
