#include "lane/filesink.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lane/filehash.h"

FileSink::FileSink(const QString& target, QObject* parent) : QObject(parent), m_target(target) {}

FileSink::~FileSink() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void FileSink::start(qint64 limit) {
    m_thread = std::thread([this, limit] { run(limit); });
}

bool FileSink::put(QByteArray chunk) {
    bool room = true;
    {
        const std::lock_guard lock(m_mutex);
        m_queuedBytes += chunk.size();
        m_chunks.push_back(std::move(chunk));
        room = m_queuedBytes < kQueuedBytes;
    }
    m_wake.notify_one();
    return room;
}

bool FileSink::full() const {
    const std::lock_guard lock(m_mutex);
    return m_queuedBytes >= kQueuedBytes;
}

void FileSink::finish() {
    {
        const std::lock_guard lock(m_mutex);
        m_finishing = true;
    }
    m_wake.notify_one();
}

void FileSink::retry() {
    {
        const std::lock_guard lock(m_mutex);
        m_retry = true;
    }
    m_wake.notify_one();
}

void FileSink::run(qint64 limit) {
    // As the classic path opens: no link followed, no FIFO waited on (O_NONBLOCK), a plain
    // file only, and an exclusive lock so that two copies never write the same file.
    const int fd = ::open(m_target.toLocal8Bit().constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    struct stat status {};
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &status) != 0 ||
        !S_ISREG(status.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        emit failed(true);
        return;
    }
    const qint64 offset = std::min<qint64>(status.st_size, limit);
    FileHash hash;
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    for (qint64 at = 0; at < offset;) {
        const ssize_t n =
            ::pread(fd, buffer.data(),
                    static_cast<size_t>(std::min<qint64>(buffer.size(), offset - at)), at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        hash.add(QByteArrayView(buffer).first(n));
        at += n;
    }
    buffer = QByteArray();
    emit prefixHashed(offset, hash.digestSoFar());

    qint64 at = offset;
    for (;;) {
        QByteArray chunk;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_chunks.empty() || m_finishing; });
            if (m_stop) {
                break;
            }
            if (m_chunks.empty()) {  // finishing, and everything is written
                lock.unlock();
                ::close(fd);
                emit finished(hash.digestSoFar());
                return;
            }
            chunk = m_chunks.front();
        }
        qsizetype written = 0;
        bool full = false;
        while (written < chunk.size()) {
            const ssize_t n = ::pwrite(fd, chunk.constData() + written,
                                       static_cast<size_t>(chunk.size() - written), at + written);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                full = errno == ENOSPC || errno == EDQUOT;
                break;
            }
            written += n;
        }
        if (written < chunk.size() && !full) {
            ::close(fd);
            emit failed(false);
            return;
        }
        if (full) {
            // The bytes that went stay on disk and in the hash; the rest waits for room.
            hash.add(QByteArrayView(chunk).first(written));
            at += written;
            emit diskFull();
            std::unique_lock lock(m_mutex);
            m_chunks.front().remove(0, written);
            m_queuedBytes -= written;
            m_retry = false;
            m_wake.wait(lock, [this] { return m_stop || m_retry; });
            if (m_stop) {
                break;
            }
            continue;
        }
        hash.add(chunk);
        at += chunk.size();
        bool drainedNow = false;
        {
            const std::lock_guard lock(m_mutex);
            const bool wasFull = m_queuedBytes >= kQueuedBytes;
            m_queuedBytes -= chunk.size();
            m_chunks.pop_front();
            drainedNow = wasFull && m_queuedBytes < kQueuedBytes;
        }
        if (drainedNow) {
            emit drained();
        }
    }
    ::close(fd);
}
