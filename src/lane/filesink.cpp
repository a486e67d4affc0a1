#include "lane/filesink.h"

#include <QMetaObject>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lane/filehash.h"
#include "lane/numberedname.h"

namespace {

constexpr int kMostNumbers = 9999;

// As the classic path opens: no link followed, no FIFO waited on (O_NONBLOCK), a plain file
// only, and an exclusive lock so that two copies never write the same file. -1 on failure,
// with errno.
int openLocked(const QString& path, int extraFlags) {
    const int fd =
        ::open(path.toLocal8Bit().constData(),
               O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | extraFlags, 0644);
    struct stat status {};
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &status) == 0 &&
        S_ISREG(status.st_mode)) {
        return fd;
    }
    const int error = errno;
    if (fd >= 0) {
        ::close(fd);
    }
    errno = error;
    return -1;
}

// The path still names the open file, and the file is not unlinked.
bool stillThere(int fd, const QString& path) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && open.st_nlink > 0 &&
           ::lstat(path.toLocal8Bit().constData(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

}  // namespace

FileSink::FileSink(const QString& folder, const QString& name, QObject* parent)
    : QObject(parent), m_folder(folder), m_name(name) {}

FileSink::~FileSink() {
    stop();
}

void FileSink::stop() {
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

void FileSink::prove(const QByteArray& hash) {
    {
        const std::lock_guard lock(m_mutex);
        m_proof = hash;
    }
    m_wake.notify_one();
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

bool FileSink::stopping() const {
    const std::lock_guard lock(m_mutex);
    return m_stop;
}

template <typename F>
void FileSink::post(F&& signal) {
    // Queued to this object: a sink destroyed before the call runs takes the call with it.
    QMetaObject::invokeMethod(
        this,
        [this, signal = std::forward<F>(signal)] {
            if (!stopping()) {
                signal();
            }
        },
        Qt::QueuedConnection);
}

void FileSink::run(qint64 limit) {
    QString path = m_folder + m_name;
    int fd = openLocked(path, 0);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        post([this] { emit failed(Failure::Opening); });
        return;
    }
    // A file longer than the offer is not a start of it: another file, kept as it is.
    const bool another = status.st_size > limit;
    const qint64 length = another ? 0 : status.st_size;
    post([this, length] { emit measured(length); });

    // The first K bytes are hashed while the sender hashes its own.
    FileHash hash;
    {
        QByteArray buffer(1024 * 1024, Qt::Uninitialized);
        for (qint64 at = 0; at < length && !stopping();) {
            const ssize_t n =
                ::pread(fd, buffer.data(),
                        static_cast<size_t>(std::min<qint64>(buffer.size(), length - at)), at);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            hash.add(QByteArrayView(buffer).first(n));
            at += n;
        }
    }
    QByteArray proof;
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stop || m_proof.has_value(); });
        if (m_stop) {
            ::close(fd);
            return;
        }
        proof = *m_proof;
    }
    qint64 at = length;
    if (another || (length > 0 && proof != hash.digestSoFar())) {
        ::close(fd);  // left as it was; the lock goes with it
        fd = -1;
        for (int n = 1; n <= kMostNumbers && fd < 0; ++n) {
            path = m_folder + numberedName(m_name, n);
            fd = openLocked(path, O_EXCL);
            if (fd < 0 && errno != EEXIST) {
                break;
            }
        }
        if (fd < 0) {
            post([this] { emit failed(Failure::Opening); });
            return;
        }
        hash.reset();
        at = 0;
    }
    post([this, at, path] { emit ready(at, path); });

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
                // Success only for the file the name still holds.
                const bool there = stillThere(fd, path);
                ::close(fd);
                if (!there) {
                    post([this] { emit failed(Failure::Gone); });
                    return;
                }
                post([this, digest = hash.digestSoFar()] { emit finished(digest); });
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
            // EFBIG (a file size limit) lands here too: the partial file stays.
            ::close(fd);
            post([this] { emit failed(Failure::Writing); });
            return;
        }
        if (full) {
            // The bytes that went stay on disk and in the hash; the rest waits for room.
            hash.add(QByteArrayView(chunk).first(written));
            at += written;
            post([this] { emit diskFull(); });
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
            post([this] { emit drained(); });
        }
    }
    ::close(fd);
}
