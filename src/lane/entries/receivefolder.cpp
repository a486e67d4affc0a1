#include "lane/entries/receivefolder.h"

#include "lane/entries/manifestchecker.h"
#include "lane/offeredname.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace entries {

namespace {

// The components of `path` in normal form C, the form every name is stored in, so that a
// name keeps one spelling on disk whichever form the sender's system gave it. False when the
// path breaks a rule of the list.
bool normalComponents(QByteArrayView path, std::vector<QByteArray>& components) {
    std::vector<QByteArrayView> raw;
    if (splitPath(path, raw) != ManifestError::None) {
        return false;
    }
    components.clear();
    for (const QByteArrayView component : raw) {
        components.push_back(
            QString::fromUtf8(component).normalized(QString::NormalizationForm_C).toUtf8());
        if (!offeredFileName(components.back())) {
            return false;
        }
    }
    return true;
}

QByteArray joined(const std::vector<QByteArray>& components, std::size_t count) {
    QByteArray path;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            path += '/';
        }
        path += components[i];
    }
    return path;
}

// "photo.jpg" -> "photo (n).jpg"; a name without an extension gets the number at its end.
QByteArray besideName(QByteArrayView name, int n) {
    const QByteArray number = " (" + QByteArray::number(n) + ')';
    const qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0) {
        return name.toByteArray() + number;
    }
    return name.first(dot).toByteArray() + number + name.sliced(dot).toByteArray();
}

// What stands at `name` in `folder` when it could not be opened as wanted.
ReceiveFolder::Failure classify(int folder, const QByteArray& name, int error,
                                ReceiveFolder::Failure notWanted) {
    struct stat status {};
    if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return ReceiveFolder::Failure::System;
    }
    if (S_ISLNK(status.st_mode)) {
        return ReceiveFolder::Failure::Link;
    }
    return error == ENOTDIR || error == EISDIR || error == ELOOP ? notWanted
                                                                 : ReceiveFolder::Failure::System;
}

}  // namespace

ReceiveFolder::ReceiveFolder(const QString& path)
    : m_root(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    m_openError = m_root.valid() ? 0 : errno;
}

UniqueFd ReceiveFolder::openFolder(const std::vector<QByteArray>& components, std::size_t depth,
                                   bool create, Outcome& outcome) {
    UniqueFd at(::fcntl(m_root.get(), F_DUPFD_CLOEXEC, 0));
    if (!at.valid()) {
        outcome = {Failure::System, errno, {}};
        return {};
    }
    for (std::size_t i = 0; i < depth; ++i) {
        const QByteArray& name = components[i];
        // mkdirat never follows a link at its last component: an existing link is EEXIST,
        // and is then refused by the O_NOFOLLOW below.
        if (create && ::mkdirat(at.get(), name.constData(), 0755) != 0 && errno != EEXIST) {
            outcome = {Failure::System, errno, joined(components, i + 1)};
            return {};
        }
        UniqueFd next(
            ::openat(at.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            const int error = errno;
            outcome = {classify(at.get(), name, error, Failure::NotFolder), error,
                       joined(components, i + 1)};
            return {};
        }
        at = std::move(next);
    }
    return at;
}

ReceiveFolder::Outcome ReceiveFolder::makeFolders(const Manifest& manifest) {
    std::vector<QByteArray> components;
    // Files of one folder follow each other in a list: their folder is walked once.
    std::vector<QByteArray> made;
    for (const Entry& entry : manifest.entries) {
        if (!normalComponents(entry.path, components)) {
            return {Failure::BadPath, 0, entry.path};
        }
        if (entry.kind == EntryKind::File) {
            components.pop_back();
        }
        if (components == made) {
            continue;
        }
        Outcome outcome;
        if (!openFolder(components, components.size(), true, outcome).valid()) {
            return outcome;
        }
        made = components;
    }
    return {};
}

ReceiveFolder::Probe ReceiveFolder::probe(QByteArrayView path) {
    Probe probe;
    std::vector<QByteArray> components;
    if (!normalComponents(path, components)) {
        probe.outcome = {Failure::BadPath, 0, path.toByteArray()};
        return probe;
    }
    const UniqueFd folder = openFolder(components, components.size() - 1, true, probe.outcome);
    if (!folder.valid()) {
        return probe;
    }
    struct stat status {};
    if (::fstatat(folder.get(), components.back().constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            probe.outcome = {Failure::System, errno, path.toByteArray()};
        }
        return probe;
    }
    if (S_ISLNK(status.st_mode)) {
        probe.outcome = {Failure::Link, 0, path.toByteArray()};
    } else if (!S_ISREG(status.st_mode)) {
        probe.outcome = {Failure::NotFile, 0, path.toByteArray()};
    } else {
        probe.length = status.st_size;
    }
    return probe;
}

ReceiveFolder::OpenedFile ReceiveFolder::openFile(QByteArrayView path) {
    return open(path, false);
}

ReceiveFolder::OpenedFile ReceiveFolder::createBeside(QByteArrayView path) {
    return open(path, true);
}

ReceiveFolder::OpenedFile ReceiveFolder::open(QByteArrayView path, bool beside) {
    OpenedFile file;
    std::vector<QByteArray> components;
    if (!normalComponents(path, components)) {
        file.outcome = {Failure::BadPath, 0, path.toByteArray()};
        return file;
    }
    const UniqueFd folder = openFolder(components, components.size() - 1, true, file.outcome);
    if (!folder.valid()) {
        return file;
    }
    // O_NONBLOCK so that a FIFO standing at the name is never waited on; it is refused below
    // as not a plain file.
    constexpr int kFlags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    QByteArray name = components.back();
    int error = 0;
    if (!beside) {
        file.fd.reset(::openat(folder.get(), name.constData(), kFlags, 0644));
        error = file.fd.valid() ? 0 : errno;
    } else {
        const QByteArray taken = name;
        error = EEXIST;
        for (int n = 1; n <= 9999 && error == EEXIST; ++n) {
            name = besideName(taken, n);
            if (!offeredFileName(name)) {
                break;  // too long with the number
            }
            // O_EXCL: a name taken by anything, a link included, is passed over.
            file.fd.reset(::openat(folder.get(), name.constData(), kFlags | O_EXCL, 0644));
            error = file.fd.valid() ? 0 : errno;
        }
        if (error == EEXIST) {
            file.outcome = {Failure::NoName, 0, path.toByteArray()};
            return file;
        }
    }
    components.back() = name;
    file.path = joined(components, components.size());
    if (!file.fd.valid()) {
        file.outcome = {classify(folder.get(), name, error, Failure::NotFile), error, file.path};
        return file;
    }
    struct stat status {};
    if (::fstat(file.fd.get(), &status) != 0) {
        file.outcome = {Failure::System, errno, file.path};
    } else if (!S_ISREG(status.st_mode)) {
        file.outcome = {Failure::NotFile, 0, file.path};
    } else if (::flock(file.fd.get(), LOCK_EX | LOCK_NB) != 0) {
        file.outcome = {errno == EWOULDBLOCK ? Failure::Locked : Failure::System, errno, file.path};
    } else if (const int flags = ::fcntl(file.fd.get(), F_GETFL);
               flags < 0 || ::fcntl(file.fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        file.outcome = {Failure::System, errno, file.path};
    } else {
        file.length = status.st_size;
        return file;
    }
    file.fd.reset();
    return file;
}

ReceiveFolder::Outcome ReceiveFolder::setTimes(const std::vector<Entry>& received) {
    // Files rank above every folder, deeper folders above shallower ones.
    std::vector<std::pair<qsizetype, const Entry*>> order;
    for (const Entry& entry : received) {
        const qsizetype rank =
            entry.kind == EntryKind::File ? kMaxPathBytes : entry.path.count('/');
        order.emplace_back(rank, &entry);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<QByteArray> components;
    for (const auto& [rank, entry] : order) {
        if (!normalComponents(entry->path, components)) {
            return {Failure::BadPath, 0, entry->path};
        }
        Outcome outcome;
        const UniqueFd folder = openFolder(components, components.size() - 1, false, outcome);
        if (!folder.valid()) {
            return outcome;
        }
        const QByteArray& name = components.back();
        struct stat status {};
        if (::fstatat(folder.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            return {Failure::System, errno, entry->path};
        }
        if (S_ISLNK(status.st_mode)) {
            return {Failure::Link, 0, entry->path};
        }
        const bool wanted =
            entry->kind == EntryKind::File ? S_ISREG(status.st_mode) : S_ISDIR(status.st_mode);
        if (!wanted) {
            return {entry->kind == EntryKind::File ? Failure::NotFile : Failure::NotFolder, 0,
                    entry->path};
        }
        const timespec times[2] = {
            {0, UTIME_OMIT},
            {time_t(entry->modifiedNs / 1000000000), long(entry->modifiedNs % 1000000000)}};
        if (::utimensat(folder.get(), name.constData(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            return {Failure::System, errno, entry->path};
        }
    }
    return {};
}

}  // namespace entries
