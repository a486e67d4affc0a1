#pragma once

#include <QString>
#include <memory>

class QSettings;

// The two user settings, as string values in the group "Software/Ruvo" of the per-user
// settings file (~/.config/Ruvo/Ruvo.ini, or <configDir>/Ruvo/Ruvo.ini when a configuration
// folder is given). Reads and writes throw std::runtime_error with the message the user
// sees.
class SettingsStore {
public:
    explicit SettingsStore(const QString& configDir);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // False when the file exists but cannot be read or parsed; nothing is then read or
    // written, so a damaged file is left for the user to look at.
    bool isOpen() const;
    QString fileName() const;

    // A missing value reads as the empty text; a value that is not a plain text (a list,
    // a number stored as a variant, bytes) is "Invalid data type for '<name>'".
    QString readString(const QString& name) const;
    // Writes the value through to the file at once: "Failed to set data for '<name>'".
    void writeString(const QString& name, const QString& value);

private:
    std::unique_ptr<QSettings> m_settings;
};
