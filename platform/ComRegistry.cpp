#include "ComRegistry.h"

#include <QSettings>

namespace vkplatform {
namespace {

QString ValueKey(const std::string& key, const std::string& name) {
  return QString::fromStdString(key + "/" + (name.empty() ? std::string("Default") : name));
}

}  // namespace

ComRegistry::ComRegistry()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("Korvan"),
                                            QStringLiteral("ComponentRegistry"))) {
  settings_->sync();  // see what other processes wrote since this process last looked
}

ComRegistry::~ComRegistry() { settings_->sync(); }

void ComRegistry::SetValue(const std::string& key, const std::string& name, const std::string& value) {
  settings_->setValue(ValueKey(key, name), QString::fromStdString(value));
}

std::string ComRegistry::Value(const std::string& key, const std::string& name) const {
  return settings_->value(ValueKey(key, name)).toString().toStdString();
}

bool ComRegistry::HasKey(const std::string& key) const {
  settings_->beginGroup(QString::fromStdString(key));
  const bool has = !settings_->allKeys().isEmpty();
  settings_->endGroup();
  return has;
}

void ComRegistry::RemoveKey(const std::string& key) { settings_->remove(QString::fromStdString(key)); }

bool ComRegistry::Flush() {
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

std::string ComRegistry::FilePath() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Korvan"),
                   QStringLiteral("ComponentRegistry"))
      .fileName()
      .toStdString();
}

}  // namespace vkplatform
