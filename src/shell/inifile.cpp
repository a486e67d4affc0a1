#include "shell/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

bool isSectionHeader(const QByteArray& trimmed) {
    return trimmed.startsWith('[') && trimmed.contains(']');
}

QByteArray sectionName(const QByteArray& trimmed) {
    return trimmed.mid(1, trimmed.indexOf(']') - 1).trimmed();
}

bool sameName(const QByteArray& a, const QString& b) {
    return QString::fromUtf8(a).compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

IniFile::IniFile(const QString& path) : m_path(path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;  // a missing or unreadable file reads as an empty one
    }
    QByteArray data = file.readAll();
    if (data.isEmpty()) {
        return;
    }
    if (data.contains("\r\n")) {
        m_lineEnd = "\r\n";
    }
    if (data.endsWith('\n')) {
        data.chop(1);
    }
    m_lines = data.split('\n');
    for (QByteArray& line : m_lines) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
    }
}

IniFile::Location IniFile::find(const QString& section, const QString& key) const {
    Location where;
    bool inSection = false;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QByteArray trimmed = m_lines[i].trimmed();
        if (isSectionHeader(trimmed)) {
            if (inSection) {
                break;  // the first section of that name is the one that counts
            }
            if (sameName(sectionName(trimmed), section)) {
                inSection = true;
                where.sectionLine = i;
                where.lastEntryLine = i;
            }
            continue;
        }
        // A comment just above the next section belongs to that section.
        if (!inSection || trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#')) {
            continue;
        }
        where.lastEntryLine = i;
        const qsizetype eq = trimmed.indexOf('=');
        if (where.keyLine < 0 && eq > 0 && sameName(trimmed.left(eq).trimmed(), key)) {
            where.keyLine = i;
        }
    }
    return where;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const {
    const Location where = find(section, key);
    if (where.keyLine < 0) {
        return std::nullopt;
    }
    const QByteArray& line = m_lines[where.keyLine];
    QByteArray text = line.mid(line.indexOf('=') + 1).trimmed();
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front()) {
        text = text.mid(1, text.size() - 2);
    }
    return QString::fromUtf8(text);
}

QString IniFile::readString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
    return value(section, key).value_or(defaultValue);
}

std::optional<int> IniFile::parseInteger(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    int result = 0;
    if (t.size() > 2 && t[0] == QLatin1Char('0') &&
        (t[1] == QLatin1Char('x') || t[1] == QLatin1Char('X'))) {
        const QStringView digits = QStringView(t).mid(2);
        // toUInt would also take a sign or blanks; only hex digits are a number here.
        for (QChar c : digits) {
            if (!c.isDigit() && !QStringLiteral("abcdefABCDEF").contains(c)) {
                return std::nullopt;
            }
        }
        const uint u = digits.toUInt(&ok, 16);
        result = static_cast<int>(u);  // 0xFFFFFFFF is -1, as a 32-bit value
    } else {
        result = t.toInt(&ok, 10);
    }
    if (!ok) {
        return std::nullopt;
    }
    return result;
}

int IniFile::readInteger(const QString& section, const QString& key, int defaultValue) const {
    const std::optional<QString> text = value(section, key);
    if (!text) {
        return defaultValue;
    }
    return parseInteger(*text).value_or(defaultValue);
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    const QByteArray line = key.toUtf8() + '=' + value.toUtf8();
    const Location where = find(section, key);
    if (where.keyLine >= 0) {
        m_lines[where.keyLine] = line;
    } else if (where.sectionLine >= 0) {
        m_lines.insert(where.lastEntryLine + 1, line);
    } else {
        if (!m_lines.isEmpty() && !m_lines.back().trimmed().isEmpty()) {
            m_lines.append(QByteArray());
        }
        m_lines.append('[' + section.toUtf8() + ']');
        m_lines.append(line);
    }
}

void IniFile::writeInteger(const QString& section, const QString& key, int value) {
    writeString(section, key, QString::number(value));
}

QByteArray IniFile::contents() const {
    QByteArray data;
    for (const QByteArray& line : m_lines) {
        data += line;
        data += m_lineEnd;
    }
    return data;
}

bool IniFile::save() {
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    // Where no file can be made beside it, the file is written in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QByteArray data = contents();
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
