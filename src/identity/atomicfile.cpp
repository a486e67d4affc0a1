#include "identity/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, QByteArrayView bytes) {
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// The rename is only durable once the folder's entry is on disk too.
void syncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

namespace {

bool writeThenRename(const QString& path, QByteArrayView bytes, unsigned mode, bool replace,
                     QString* error, bool* exists) {
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("no se puede crear la carpeta %1").arg(folder);
        return false;
    }
    const QString temporary =
        QStringLiteral("%1/.%2.%3.tmp")
            .arg(folder, info.fileName())
            .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
    const QByteArray temporaryName = QFile::encodeName(temporary);
    // O_EXCL: never write through a file (or a link) that someone placed there.
    const int fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          static_cast<mode_t>(mode));
    if (fd < 0) {
        *error = systemError();
        return false;
    }
    // The umask may have taken bits away; a key file must end with exactly `mode`.
    bool ok =
        ::fchmod(fd, static_cast<mode_t>(mode)) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (!ok) {
        *error = systemError();
    }
    if (::close(fd) != 0 && ok) {
        *error = systemError();
        ok = false;
    }
    const QByteArray finalName = QFile::encodeName(path);
    if (ok && replace && ::rename(temporaryName.constData(), finalName.constData()) != 0) {
        *error = systemError();
        ok = false;
    }
    if (ok && !replace &&
        ::renameat2(AT_FDCWD, temporaryName.constData(), AT_FDCWD, finalName.constData(),
                    RENAME_NOREPLACE) != 0) {
        *exists = errno == EEXIST;
        *error = systemError();
        ok = false;
    }
    if (!ok) {
        ::unlink(temporaryName.constData());
        return false;
    }
    syncFolder(folder);
    return true;
}

}  // namespace

bool writeFileAtomically(const QString& path, QByteArrayView bytes, unsigned mode, QString* error) {
    bool exists = false;
    return writeThenRename(path, bytes, mode, true, error, &exists);
}

bool createFileAtomically(const QString& path, QByteArrayView bytes, unsigned mode, QString* error,
                          bool* exists) {
    *exists = false;
    return writeThenRename(path, bytes, mode, false, error, exists);
}
