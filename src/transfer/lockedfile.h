#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// An existing regular file, opened and locked against every other open of it
// (flock LOCK_EX), closed when the object goes. The lock is advisory: it keeps copies of
// this program apart, not other programs. One attempt only; FileAccess adds the retries.
class LockedFile {
public:
    enum class Access { Read, Write };
    enum class Links { Follow, NoFollow };

    LockedFile() = default;
    LockedFile(LockedFile&& other) noexcept;
    LockedFile& operator=(LockedFile&& other) noexcept;
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    ~LockedFile();

    // Never creates nor truncates. Fails for anything but a regular file (a folder, a FIFO,
    // a device), for a symbolic link when `links` is NoFollow, and while another open
    // holds the lock.
    static LockedFile open(const QString& path, Access access, Links links = Links::Follow);
    // The same for a path already in the file system's encoding (QFile::encodeName).
    static LockedFile open(const QByteArray& localPath, Access access, Links links = Links::Follow);

    bool isOpen() const { return m_fd >= 0; }
    // errno of a failed open (EWOULDBLOCK while locked elsewhere), else 0.
    int error() const { return m_error; }

    // Reads up to `maxSize` bytes at `offset`; fewer only at the end of the file.
    // Returns the count, or -1 on failure.
    qint64 readAt(qint64 offset, char* buffer, qint64 maxSize) const;
    // Writes all of `data` at `offset`. Returns the count written, or -1 on failure.
    qint64 writeAt(qint64 offset, QByteArrayView data) const;
    // The file's length, or -1 on failure. Known without a system call while every write
    // since the open succeeded.
    qint64 length() const;
    void close();

private:
    int m_fd = -1;
    int m_error = 0;
    // The length taken at open and kept up to date by writes; -1 after a failed write,
    // which may have written part of its bytes (the length is then asked for again).
    mutable qint64 m_length = 0;
};
