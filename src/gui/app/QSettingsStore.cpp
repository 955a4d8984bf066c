#include "gui/app/QSettingsStore.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>
#include <QVariant>

#include <string>
#include <utility>
#include <vector>

namespace quorlin::gui {

namespace {

bool readJson(QIODevice& device, QSettings::SettingsMap& map) {
  const QByteArray bytes = device.readAll();
  if (bytes.trimmed().isEmpty()) return true;  // a new, empty file
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return false;
  // toVariantMap keeps JSON's types: bool, double, QString, QVariantList.
  map = document.object().toVariantMap();
  return true;
}

bool writeJson(QIODevice& device, const QSettings::SettingsMap& map) {
  const QJsonObject object = QJsonObject::fromVariantMap(map);
  return device.write(QJsonDocument(object).toJson(QJsonDocument::Indented)) >= 0;
}

std::optional<SettingsValue> fromVariant(const QVariant& stored) {
  switch (stored.typeId()) {
    case QMetaType::Bool:
      return SettingsValue(stored.toBool());
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      return SettingsValue(stored.toDouble());
    case QMetaType::QString:
      return SettingsValue(stored.toString().toStdString());
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
      std::vector<std::string> texts;
      for (const QVariant& element : stored.toList()) {
        if (element.typeId() != QMetaType::QString) return std::nullopt;
        texts.push_back(element.toString().toStdString());
      }
      return SettingsValue(std::move(texts));
    }
    default:
      return std::nullopt;
  }
}

QVariant toVariant(const SettingsValue& value) {
  struct Visitor {
    QVariant operator()(bool flag) const { return QVariant(flag); }
    QVariant operator()(double number) const { return QVariant(number); }
    QVariant operator()(const std::string& text) const { return QVariant(QString::fromUtf8(text)); }
    QVariant operator()(const std::vector<std::string>& texts) const {
      QStringList list;
      for (const auto& text : texts) list.append(QString::fromUtf8(text));
      return QVariant(list);
    }
  };
  return std::visit(Visitor{}, value);
}

}  // namespace

QSettings::Format QSettingsStore::jsonFormat() {
  static const QSettings::Format format = QSettings::registerFormat("json", readJson, writeJson);
  return format;
}

QSettingsStore::QSettingsStore()
    : settings_(std::make_unique<QSettings>(jsonFormat(), QSettings::UserScope, "Quorlin", "Quorlin")) {}

QSettingsStore::QSettingsStore(const QString& fileName)
    : settings_(std::make_unique<QSettings>(fileName, jsonFormat())) {}

std::optional<SettingsValue> QSettingsStore::value(std::string_view key) const {
  const QVariant stored = settings_->value(QString::fromUtf8(key));
  if (!stored.isValid()) return std::nullopt;
  return fromVariant(stored);
}

void QSettingsStore::setValue(std::string_view key, const SettingsValue& value) {
  settings_->setValue(QString::fromUtf8(key), toVariant(value));
  settings_->sync();
}

}  // namespace quorlin::gui
