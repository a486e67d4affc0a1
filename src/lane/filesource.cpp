#include "lane/filesource.h"

#include <QMetaObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lane/filehash.h"

namespace {

// Reads exactly `length` bytes at `offset` unless the file ends or fails first.
qsizetype readAt(int fd, char* into, qsizetype length, qint64 offset) {
    qsizetype done = 0;
    while (done < length) {
        const ssize_t n =
            ::pread(fd, into + done, static_cast<size_t>(length - done), offset + done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += n;
    }
    return done;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

FileSource::FileSource(const QString& path, qint64 size, QObject* parent)
    : QObject(parent), m_path(path), m_size(size) {}

FileSource::~FileSource() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_room.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void FileSource::start(qint64 length) {
    m_thread = std::thread([this, length] { run(length); });
}

void FileSource::streamFrom(qint64 offset) {
    {
        const std::lock_guard lock(m_mutex);
        m_from = offset;
    }
    m_room.notify_one();
}

template <typename F>
void FileSource::post(F&& signal) {
    // Queued to this object: a source destroyed before the call runs takes the call with it.
    QMetaObject::invokeMethod(this, std::forward<F>(signal), Qt::QueuedConnection);
}

QByteArray FileSource::take() {
    QByteArray chunk;
    {
        const std::lock_guard lock(m_mutex);
        if (m_chunks.empty()) {
            return chunk;
        }
        chunk = std::move(m_chunks.front());
        m_chunks.pop_front();
    }
    m_room.notify_one();
    return chunk;
}

bool FileSource::stopping() {
    const std::lock_guard lock(m_mutex);
    return m_stop;
}

void FileSource::run(qint64 length) {
    // A FIFO under the name is not waited on (O_NONBLOCK) and, as anything but a plain file,
    // not read.
    const int fd = ::open(m_path.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat before {};
    if (fd < 0 || ::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        post([this] { emit failed(); });
        return;
    }
    FileHash hash;
    QByteArray buffer(kChunk, Qt::Uninitialized);
    // The proof of the receiver's prefix, hashed from this file.
    for (qint64 at = 0; at < length;) {
        const qsizetype want = static_cast<qsizetype>(std::min<qint64>(kChunk, length - at));
        const qsizetype got = readAt(fd, buffer.data(), want, at);
        if (got <= 0 || stopping()) {
            break;
        }
        hash.add(QByteArrayView(buffer).first(got));
        at += got;
    }
    post([this, digest = hash.digestSoFar()] { emit prefixHashed(digest); });
    qint64 offset = 0;
    {
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, [this] { return m_stop || m_from.has_value(); });
        if (m_stop) {
            ::close(fd);
            return;
        }
        offset = *m_from;
    }
    if (offset != length) {
        hash.reset();  // a new file at the receiver: from the first byte
    }
    for (qint64 at = offset; at < m_size;) {
        QByteArray chunk(static_cast<qsizetype>(std::min<qint64>(kChunk, m_size - at)),
                         Qt::Uninitialized);
        const qsizetype got = readAt(fd, chunk.data(), chunk.size(), at);
        if (got <= 0) {
            ::close(fd);
            post([this] { emit failed(); });
            return;
        }
        chunk.truncate(got);
        hash.add(chunk);
        at += got;
        {
            std::unique_lock lock(m_mutex);
            m_room.wait(lock, [this] { return m_stop || m_chunks.size() < kQueued; });
            if (m_stop) {
                ::close(fd);
                return;
            }
            m_chunks.push_back(std::move(chunk));
        }
        post([this] { emit chunkReady(); });
    }
    QByteArray whole = hash.digestSoFar();
    struct stat after {};
    if (::fstat(fd, &after) != 0 || !sameFile(before, after)) {
        // Changed while it was sent: the hash of the file as it is now, so that the
        // receiver's copy (of what was read earlier) is found not to match.
        FileHash again;
        for (qint64 at = 0; at < m_size && !stopping();) {
            const qsizetype got = readAt(fd, buffer.data(), kChunk, at);
            if (got <= 0) {
                break;
            }
            again.add(QByteArrayView(buffer).first(std::min<qint64>(got, m_size - at)));
            at += got;
        }
        whole = again.digestSoFar();
    }
    ::close(fd);
    post([this, whole] { emit finished(whole); });
}
