#include "transfer/lockedfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

LockedFile::LockedFile(LockedFile&& other) noexcept
    : m_fd(other.m_fd), m_error(other.m_error), m_length(other.m_length) {
    other.m_fd = -1;
}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        m_error = other.m_error;
        m_length = other.m_length;
        other.m_fd = -1;
    }
    return *this;
}

LockedFile::~LockedFile() {
    close();
}

LockedFile LockedFile::open(const QString& path, Access access, Links links) {
    return open(QFile::encodeName(path), access, links);
}

LockedFile LockedFile::open(const QByteArray& localPath, Access access, Links links) {
    LockedFile file;
    // O_NONBLOCK so that a FIFO under the name cannot hang the program in open(); it has
    // no effect on the regular files that are accepted.
    int flags = (access == Access::Read ? O_RDONLY : O_WRONLY) | O_CLOEXEC | O_NONBLOCK;
    if (links == Links::NoFollow) {
        flags |= O_NOFOLLOW;
    }
    int fd;
    do {
        fd = ::open(localPath.constData(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        file.m_error = errno;
        return file;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        file.m_error = errno;
        ::close(fd);
        return file;
    }
    // Looked at under the lock, so the length taken here holds while the file is open (for
    // copies of this program; the lock is advisory).
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        file.m_error = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return file;
    }
    file.m_fd = fd;
    file.m_length = status.st_size;
    return file;
}

qint64 LockedFile::readAt(qint64 offset, char* buffer, qint64 maxSize) const {
    if (m_fd < 0 || offset < 0 || maxSize < 0) {
        return -1;
    }
    qint64 done = 0;
    while (done < maxSize) {
        const ssize_t n = ::pread(m_fd, buffer + done, static_cast<size_t>(maxSize - done),
                                  static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

qint64 LockedFile::writeAt(qint64 offset, QByteArrayView data) const {
    if (m_fd < 0 || offset < 0) {
        return -1;
    }
    const qint64 lengthBefore = m_length;
    m_length = -1;
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pwrite(m_fd, data.data() + done, static_cast<size_t>(data.size() - done),
                     static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            return -1;
        }
        done += n;
    }
    // A write past the end extends the file to where it stops; no other open of this
    // program changes the file while the lock is held.
    if (lengthBefore >= 0) {
        m_length = done > 0 ? std::max(lengthBefore, offset + done) : lengthBefore;
    }
    return done;
}

qint64 LockedFile::length() const {
    if (m_fd >= 0 && m_length >= 0) {
        return m_length;
    }
    struct stat status {};
    if (m_fd < 0 || ::fstat(m_fd, &status) != 0) {
        return -1;
    }
    return status.st_size;
}

void LockedFile::close() {
    if (m_fd >= 0) {
        // Closing the last descriptor of the open releases the lock.
        ::close(m_fd);
        m_fd = -1;
    }
}
