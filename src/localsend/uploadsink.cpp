#include "localsend/uploadsink.h"

#include <QCryptographicHash>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace localsend {

namespace {

// The name still holds the file written through `fd` (not moved, replaced or deleted).
bool stillThere(int fd, const QByteArray& path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

UploadSink::UploadSink(entries::UniqueFd file, const QByteArray& path, QObject* parent)
    : QObject(parent), m_file(std::move(file)), m_path(path) {
    m_thread = std::thread([this] { run(); });
}

UploadSink::~UploadSink() {
    stop();
}

void UploadSink::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool UploadSink::stopping() const {
    const std::lock_guard lock(m_mutex);
    return m_stop;
}

template <typename F>
void UploadSink::post(F&& signal) {
    QMetaObject::invokeMethod(
        this,
        [this, signal = std::forward<F>(signal)] {
            if (!stopping()) {
                signal();
            }
        },
        Qt::QueuedConnection);
}

bool UploadSink::put(QByteArray chunk) {
    {
        const std::lock_guard lock(m_mutex);
        m_queuedBytes += chunk.size();
        m_chunks.push_back(std::move(chunk));
    }
    m_wake.notify_one();
    return !full();
}

bool UploadSink::full() const {
    const std::lock_guard lock(m_mutex);
    return m_queuedBytes >= kQueuedBytes;
}

void UploadSink::finish() {
    {
        const std::lock_guard lock(m_mutex);
        m_finishing = true;
    }
    m_wake.notify_one();
}

void UploadSink::run() {
    const int fd = m_file.get();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (;;) {
        QByteArray chunk;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_chunks.empty() || m_finishing; });
            if (m_stop) {
                return;
            }
            if (m_chunks.empty()) {  // finishing, and every byte is written
                lock.unlock();
                if (!stillThere(fd, m_path)) {
                    post([this] { emit failed(0); });
                    return;
                }
                post([this, digest = hash.result().toHex()] { emit finished(digest); });
                return;
            }
            chunk = m_chunks.front();
        }
        qsizetype written = 0;
        while (written < chunk.size()) {
            const ssize_t n = ::write(fd, chunk.constData() + written,
                                      static_cast<size_t>(chunk.size() - written));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                const int error = errno;
                post([this, error] { emit failed(error); });
                return;
            }
            written += n;
        }
        hash.addData(chunk);
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
}

}  // namespace localsend
