#include "transfer/fileaccess.h"

#include "transfer/protocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
#include <limits>
#include <thread>

FileAccess::FileAccess(WaitFunction wait, int attempts)
    : m_wait(std::move(wait)), m_attempts(attempts) {}

LockedFile FileAccess::openWithRetries(const QString& path, LockedFile::Access access,
                                       LockedFile::Links links) const {
    // A transfer opens the same file for every block: its encoded name is kept.
    if (path != m_lastPath || m_lastLocalPath.isNull()) {
        m_lastPath = path;
        m_lastLocalPath = QFile::encodeName(path);
    }
    const QByteArray localPath = m_lastLocalPath;
    LockedFile file = LockedFile::open(localPath, access, links);
    for (int attempt = 2; attempt <= m_attempts && !file.isOpen(); ++attempt) {
        wait(kRetryDelayMs);
        file = LockedFile::open(localPath, access, links);
    }
    return file;
}

std::optional<QByteArray> FileAccess::readBlock(const QString& path, qint64 index) const {
    if (index < 0 || index > kMaxBlockIndex) {
        return std::nullopt;
    }
    const LockedFile file = openWithRetries(path, LockedFile::Access::Read);
    if (!file.isOpen()) {
        return std::nullopt;
    }
    QByteArray block(kBlockSize, Qt::Uninitialized);
    const qint64 count = file.readAt(index * kBlockSize, block.data(), kBlockSize);
    if (count < 0) {
        return std::nullopt;
    }
    block.truncate(count);
    return block;
}

std::optional<qint64> FileAccess::fileLength(const QString& path, LockedFile::Links links) const {
    const LockedFile file = openWithRetries(path, LockedFile::Access::Read, links);
    if (!file.isOpen()) {
        return std::nullopt;
    }
    const qint64 length = file.length();
    if (length < 0) {
        return std::nullopt;
    }
    return length;
}

FileAccess::WriteResult FileAccess::writeBlock(const QString& path, qint64 index,
                                               QByteArrayView data, LockedFile::Links links,
                                               qint64* lengthAfter) const {
    if (lengthAfter != nullptr) {
        *lengthAfter = -1;
    }
    if (index < 0 || index > kMaxBlockIndex || data.size() > kBlockSize) {
        return WriteResult::WriteFailed;
    }
    const LockedFile file = openWithRetries(path, LockedFile::Access::Write, links);
    if (!file.isOpen()) {
        return WriteResult::OpenFailed;
    }
    const bool whole = file.writeAt(index * kBlockSize, data) == data.size();
    if (lengthAfter != nullptr) {
        *lengthAfter = file.length();
    }
    return whole ? WriteResult::Written : WriteResult::WriteFailed;
}

bool FileAccess::createEmpty(const QString& path) {
    const QByteArray localPath = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(localPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

bool FileAccess::fileExists(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISDIR(status.st_mode);
}

qint64 FileAccess::freeSpace(const QString& folder) {
    if (folder.isEmpty()) {
        return -1;
    }
    QString current = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    for (;;) {
        struct statvfs volume {};
        if (::statvfs(QFile::encodeName(current).constData(), &volume) == 0) {
            const auto blocks = static_cast<unsigned long long>(volume.f_bavail);
            const auto blockSize = static_cast<unsigned long long>(volume.f_frsize);
            const auto limit = static_cast<unsigned long long>(std::numeric_limits<qint64>::max());
            if (blockSize != 0 && blocks > limit / blockSize) {
                return std::numeric_limits<qint64>::max();
            }
            return static_cast<qint64>(blocks * blockSize);
        }
        if ((errno != ENOENT && errno != ENOTDIR) || current == QLatin1String("/")) {
            return -1;
        }
        const qsizetype slash = current.lastIndexOf(QLatin1Char('/'));
        current = slash <= 0 ? QStringLiteral("/") : current.left(slash);
    }
}

void FileAccess::wait(int ms) const {
    if (m_wait) {
        m_wait(ms);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}
