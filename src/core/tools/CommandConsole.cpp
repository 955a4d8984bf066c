#include "core/tools/CommandConsole.h"

#include <algorithm>
#include <cstdio>

namespace quorlin {

std::string CommandConsoleEntry::statusText() const {
  if (launchError) return "Launch failed: " + *launchError;
  if (!exitStatus) return "Running";
  if (*exitStatus == 0) return "Completed";
  return "Failed (" + std::to_string(*exitStatus) + ")";
}

ConsoleStatusColor CommandConsoleEntry::statusColor() const {
  if (launchError) return ConsoleStatusColor::red;
  if (!exitStatus) return ConsoleStatusColor::orange;
  return *exitStatus == 0 ? ConsoleStatusColor::green : ConsoleStatusColor::red;
}

std::string CommandConsoleEntry::durationText() const {
  if (!finishedAt) return "running";
  double seconds = std::chrono::duration<double>(*finishedAt - startedAt).count();
  char text[64];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

Uuid CommandConsoleStore::begin(std::string commandLine) {
  Uuid id = Uuid::random();
  begin(id, std::move(commandLine), ConsoleClock::now());
  return id;
}

void CommandConsoleStore::begin(Uuid id, std::string commandLine, ConsoleClock::time_point startedAt) {
  CommandConsoleEntry entry;
  entry.id = id;
  entry.commandLine = std::move(commandLine);
  entry.startedAt = startedAt;
  entries_.insert(entries_.begin(), std::move(entry));
  notify({CommandConsoleChange::Kind::begun, id});
}

void CommandConsoleStore::finish(Uuid id, std::int32_t exitStatus, std::string output) {
  finish(id, exitStatus, std::move(output), ConsoleClock::now());
}

void CommandConsoleStore::finish(Uuid id, std::int32_t exitStatus, std::string output,
                                 ConsoleClock::time_point finishedAt) {
  CommandConsoleEntry* entry = find(id);
  if (entry == nullptr) return;
  entry->finishedAt = finishedAt;
  entry->exitStatus = exitStatus;
  entry->output = std::move(output);
  notify({CommandConsoleChange::Kind::finished, id});
}

void CommandConsoleStore::failLaunch(Uuid id, std::string message) {
  failLaunch(id, std::move(message), ConsoleClock::now());
}

void CommandConsoleStore::failLaunch(Uuid id, std::string message, ConsoleClock::time_point finishedAt) {
  CommandConsoleEntry* entry = find(id);
  if (entry == nullptr) return;
  entry->finishedAt = finishedAt;
  entry->launchError = std::move(message);
  notify({CommandConsoleChange::Kind::launchFailed, id});
}

void CommandConsoleStore::clear() {
  entries_.clear();
  notify({CommandConsoleChange::Kind::cleared, Uuid()});
}

CommandConsoleStore::ObserverId CommandConsoleStore::addChangeObserver(Observer observer) {
  ObserverId id = nextObserverId_++;
  observers_.emplace_back(id, std::move(observer));
  return id;
}

void CommandConsoleStore::removeChangeObserver(ObserverId id) {
  std::erase_if(observers_, [id](const auto& pair) { return pair.first == id; });
}

CommandConsoleEntry* CommandConsoleStore::find(Uuid id) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const CommandConsoleEntry& e) { return e.id == id; });
  return it == entries_.end() ? nullptr : &*it;
}

void CommandConsoleStore::notify(const CommandConsoleChange& change) {
  // A copy, so that observers may add or remove observers while being called.
  auto observers = observers_;
  for (const auto& [id, observer] : observers) observer(change);
}

}  // namespace quorlin
