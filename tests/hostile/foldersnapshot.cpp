#include "foldersnapshot.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include "hostilesupport.h"

FolderSnapshot FolderSnapshot::take(const QString& root, const QStringList& skip) {
    FolderSnapshot snapshot;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = base.relativeFilePath(path);
        const bool skipped = std::any_of(skip.begin(), skip.end(), [&](const QString& s) {
            return relative == s || relative.startsWith(s + QLatin1Char('/'));
        });
        if (skipped) {
            continue;
        }
        const QFileInfo info(path);
        QString description;
        if (info.isSymLink()) {
            description = QStringLiteral("link ") + info.symLinkTarget();
        } else if (info.isDir()) {
            description = QStringLiteral("folder");
        } else {
            description = QStringLiteral("file %1 %2 %3")
                              .arg(info.size())
                              .arg(info.lastModified().toMSecsSinceEpoch())
                              .arg(QString::fromLatin1(sha256OfFile(path)));
        }
        snapshot.m_entries[relative] = description;
    }
    return snapshot;
}

QStringList FolderSnapshot::differencesTo(const FolderSnapshot& later) const {
    QStringList differences;
    for (const auto& [path, description] : m_entries) {
        const auto found = later.m_entries.find(path);
        if (found == later.m_entries.end()) {
            differences.append(QStringLiteral("- ") + path);
        } else if (found->second != description) {
            differences.append(QStringLiteral("~ ") + path);
        }
    }
    for (const auto& [path, description] : later.m_entries) {
        if (m_entries.count(path) == 0) {
            differences.append(QStringLiteral("+ ") + path);
        }
    }
    return differences;
}
