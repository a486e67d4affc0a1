#include "common/settingsstore.h"

#include <QSettings>
#include <stdexcept>

SettingsStore::SettingsStore(const QString& configDir) {
    if (configDir.isEmpty()) {
        m_settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                 QStringLiteral("Ruvo"), QStringLiteral("Ruvo"));
    } else {
        m_settings = std::make_unique<QSettings>(configDir + QStringLiteral("/Ruvo/Ruvo.ini"),
                                                 QSettings::IniFormat);
    }
    m_settings->beginGroup(QStringLiteral("Software/Ruvo"));
}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::isOpen() const {
    return m_settings->status() == QSettings::NoError;
}

QString SettingsStore::fileName() const {
    return m_settings->fileName();
}

QString SettingsStore::readString(const QString& name) const {
    const QVariant value = m_settings->value(name);
    if (!value.isValid()) {
        return QString();
    }
    if (value.typeId() != QMetaType::QString) {
        throw std::runtime_error(
            QStringLiteral("Invalid data type for '%1'").arg(name).toStdString());
    }
    return value.toString();
}

void SettingsStore::writeString(const QString& name, const QString& value) {
    m_settings->setValue(name, value);
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError) {
        throw std::runtime_error(
            QStringLiteral("Failed to set data for '%1'").arg(name).toStdString());
    }
}
