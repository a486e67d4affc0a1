#pragma once

#include <QString>
#include <QStringList>

#include <map>

// What a folder tree holds: every entry's relative path with its kind, size, modification
// time and, for files, a digest. Two snapshots of the same tree differ exactly where
// something was created, removed or changed in between.
class FolderSnapshot {
public:
    // Entries whose relative path is one of `skip` (or lies under it) are left out.
    static FolderSnapshot take(const QString& root, const QStringList& skip = {});

    // One line per difference ("+ path", "- path", "~ path"); empty when the two agree.
    QStringList differencesTo(const FolderSnapshot& later) const;

private:
    std::map<QString, QString> m_entries;  // relative path -> description
};
