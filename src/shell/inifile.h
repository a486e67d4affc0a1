#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// A small INI file reader and writer that behaves like the classic profile functions:
// section and key names are looked up without regard to case, a key that exists is updated
// in place, a new key goes to the end of its section and a new section to the end of the
// file, and every other line (other sections, other keys, comments) is kept as it was.
// The file is read when the object is made and written by save().
class IniFile {
public:
    explicit IniFile(const QString& path);

    const QString& path() const { return m_path; }

    // The value with surrounding blanks (and one pair of matching quotes) removed, or
    // nullopt when the section or the key is missing.
    std::optional<QString> value(const QString& section, const QString& key) const;
    QString readString(const QString& section, const QString& key,
                       const QString& defaultValue = QString()) const;
    // A whole decimal number, or hexadecimal with the prefix 0x or 0X; anything else
    // (missing, empty, not a number, out of range) gives the default.
    int readInteger(const QString& section, const QString& key, int defaultValue) const;

    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int value);

    // Writes the file, creating its folder if needed; false when it cannot be written.
    bool save();

    QByteArray contents() const;

    // The rule for numbers in single-number keys, also used on its own.
    static std::optional<int> parseInteger(const QString& text);

private:
    struct Location {
        qsizetype sectionLine = -1;    // the "[section]" line, -1 when the section is missing
        qsizetype keyLine = -1;        // the key's line, -1 when the key is missing
        qsizetype lastEntryLine = -1;  // last entry (not blank, not a comment) of the section
    };

    Location find(const QString& section, const QString& key) const;

    QString m_path;
    QList<QByteArray> m_lines;  // without their line ends
    QByteArray m_lineEnd = "\n";
};
