#include "lane/entries/entrycollector.h"

#include "lane/entries/uniquefd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace entries {

namespace {

qint64 modifiedNs(const struct stat& status) {
    const qint64 seconds = status.st_mtim.tv_sec;
    constexpr qint64 kMostSeconds = std::numeric_limits<qint64>::max() / 1000000000 - 1;
    if (seconds < 0) {
        return 0;
    }
    return std::min(seconds, kMostSeconds) * 1000000000 + status.st_mtim.tv_nsec;
}

// The names in the folder open at `folder`, sorted by their bytes; the error that cut the
// listing short, or 0.
int listFolder(int folder, std::vector<QByteArray>& names) {
    const int fd = ::dup(folder);
    if (fd < 0) {
        return errno;
    }
    DIR* listing = ::fdopendir(fd);
    if (listing == nullptr) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    errno = 0;
    while (const dirent* item = ::readdir(listing)) {
        const QByteArray name(item->d_name);
        if (name != "." && name != "..") {
            names.push_back(name);
        }
        errno = 0;
    }
    const int error = errno;
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return error;
}

class Collector {
public:
    Collection take() { return std::move(m_collection); }

    void collect(const QString& given) {
        if (m_full) {
            return;
        }
        const QString path = QDir::cleanPath(QFileInfo(given).absoluteFilePath());
        const QByteArray native = QFile::encodeName(path);
        struct stat status {};
        if (::stat(native.constData(), &status) != 0) {
            skip(given, errno == ENOENT ? SkipReason::Missing : SkipReason::Unreadable,
                 ManifestError::None, errno, true);
            return;
        }
        const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
        if (S_ISREG(status.st_mode)) {
            addEntry(EntryKind::File, name, path, status, true);
        } else if (S_ISDIR(status.st_mode)) {
            UniqueFd folder(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!folder.valid()) {
                skip(given, SkipReason::Unreadable, ManifestError::None, errno, true);
                return;
            }
            // Taken again from the folder opened, which is the one listed.
            if (::fstat(folder.get(), &status) == 0 &&
                addEntry(EntryKind::Folder, name, path, status, true)) {
                collectFolder(folder.get(), name, path);
            }
        } else {
            skip(given, SkipReason::Special, ManifestError::None, 0, true);
        }
    }

private:
    void collectFolder(int folder, const QByteArray& relative, const QString& local) {
        std::vector<QByteArray> names;
        if (const int error = listFolder(folder, names); error != 0) {
            skip(local, SkipReason::Unreadable, ManifestError::None, error, false);
        }
        for (const QByteArray& name : names) {
            if (m_full) {
                return;
            }
            const QByteArray childRelative = relative + '/' + name;
            const QString childLocal = local + u'/' + QFile::decodeName(name);
            struct stat status {};
            if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                skip(childLocal, SkipReason::Unreadable, ManifestError::None, errno, false);
            } else if (S_ISLNK(status.st_mode)) {
                skip(childLocal, SkipReason::Link, ManifestError::None, 0, false);
            } else if (S_ISREG(status.st_mode)) {
                addEntry(EntryKind::File, childRelative, childLocal, status, false);
            } else if (S_ISDIR(status.st_mode)) {
                collectSubfolder(folder, name, childRelative, childLocal);
            } else {
                skip(childLocal, SkipReason::Special, ManifestError::None, 0, false);
            }
        }
    }

    void collectSubfolder(int parent, const QByteArray& name, const QByteArray& relative,
                          const QString& local) {
        // O_NOFOLLOW: a folder swapped for a link since it was looked at is not entered.
        UniqueFd folder(
            ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat status {};
        if (!folder.valid() || ::fstat(folder.get(), &status) != 0) {
            const int error = errno;
            struct stat now {};
            const bool link = ::fstatat(parent, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISLNK(now.st_mode);
            skip(local, link ? SkipReason::Link : SkipReason::Unreadable, ManifestError::None,
                 link ? 0 : error, false);
            return;
        }
        // A folder the list refuses (too deep, a bad name) is left out with all it holds.
        if (addEntry(EntryKind::Folder, relative, local, status, false)) {
            collectFolder(folder.get(), relative, local);
        }
    }

    bool addEntry(EntryKind kind, const QByteArray& relative, const QString& local,
                  const struct stat& status, bool given) {
        Entry entry;
        entry.kind = kind;
        entry.path = relative;
        entry.size = kind == EntryKind::File ? qint64(status.st_size) : 0;
        entry.modifiedNs = modifiedNs(status);
        const ManifestError error = m_checker.add(entry);
        if (error != ManifestError::None) {
            skip(local, SkipReason::Refused, error, 0, given);
            // Nothing more fits; the one line says where it stopped.
            m_full = error == ManifestError::TooManyEntries;
            return false;
        }
        m_collection.manifest.entries.push_back(std::move(entry));
        m_collection.sources.append(local);
        return true;
    }

    void skip(const QString& path, SkipReason reason, ManifestError error, int systemError,
              bool given) {
        m_collection.skipped.push_back(Skipped{path, reason, error, systemError, given});
    }

    Collection m_collection;
    ManifestChecker m_checker;
    bool m_full = false;
};

}  // namespace

Collection collectEntries(const QStringList& paths) {
    Collector collector;
    for (const QString& path : paths) {
        collector.collect(path);
    }
    return collector.take();
}

}  // namespace entries
