// QSettingsStore: the per-user settings store of the desktop application, on
// QSettings (organisation "Quorlin", application "Quorlin").
//
// QSettings' native format on Linux is an INI file, which keeps no types: a
// boolean read back after a restart is the text "true". So the store uses a
// JSON file instead ($XDG_CONFIG_HOME/Quorlin/Quorlin.json by default), whose
// booleans, numbers, texts and lists of texts come back as what was written.
// Any other value (an object, a mixed list, null) reads as absent, and the
// typed readers of SettingsStore treat a value of another type as absent.
// Every write is flushed to disk at once.
//
// Main thread only, like every SettingsStore.
#pragma once

#include <QSettings>
#include <QString>

#include <memory>

#include "core/workspace/SettingsStore.h"

namespace quorlin::gui {

class QSettingsStore final : public SettingsStore {
 public:
  // The user's store.
  QSettingsStore();
  // A store in `fileName` (tests, or a private configuration).
  explicit QSettingsStore(const QString& fileName);

  std::optional<SettingsValue> value(std::string_view key) const override;
  void setValue(std::string_view key, const SettingsValue& value) override;

  QString fileName() const { return settings_->fileName(); }

  // The QSettings format the store uses (JSON, extension "json").
  static QSettings::Format jsonFormat();

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace quorlin::gui
