#include "lane/entries/entriessource.h"

#include <QFile>
#include <QMetaObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lane/entries/uniquefd.h"
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

// Hashes the first `length` bytes into `hash`; false when the file ends or fails first.
bool hashPrefix(int fd, qint64 length, FileHash& hash, QByteArray& buffer) {
    for (qint64 at = 0; at < length;) {
        const auto want = static_cast<qsizetype>(std::min<qint64>(buffer.size(), length - at));
        const qsizetype got = readAt(fd, buffer.data(), want, at);
        if (got <= 0) {
            return false;
        }
        hash.add(QByteArrayView(buffer).first(got));
        at += got;
    }
    return true;
}

// A plain file opened to read (a FIFO put under the name is not waited on), or none.
entries::UniqueFd openPlain(const QString& path, struct stat& status) {
    entries::UniqueFd fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return {};
    }
    return fd;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

EntriesSource::EntriesSource(QStringList paths, std::vector<qint64> sizes, QObject* parent)
    : QObject(parent), m_paths(std::move(paths)), m_sizes(std::move(sizes)) {
    m_thread = std::thread([this] { run(); });
}

EntriesSource::~EntriesSource() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void EntriesSource::prove(std::vector<Span> prefixes) {
    {
        const std::lock_guard lock(m_mutex);
        m_prefixes = std::move(prefixes);
    }
    m_wake.notify_all();
}

void EntriesSource::stream(std::vector<Span> files) {
    {
        const std::lock_guard lock(m_mutex);
        m_files = std::move(files);
    }
    m_wake.notify_all();
}

std::optional<EntriesSource::Item> EntriesSource::take() {
    std::optional<Item> item;
    {
        const std::lock_guard lock(m_mutex);
        if (m_items.empty()) {
            return item;
        }
        item = std::move(m_items.front());
        m_items.pop_front();
        if (item->kind == Item::Kind::Chunk) {
            m_queuedBytes -= item->bytes.size();
        }
    }
    m_wake.notify_all();
    return item;
}

template <typename F>
void EntriesSource::post(F&& signal) {
    // Queued to this object: a source destroyed before the call runs takes the call with it.
    QMetaObject::invokeMethod(this, std::forward<F>(signal), Qt::QueuedConnection);
}

bool EntriesSource::stopping() {
    const std::lock_guard lock(m_mutex);
    return m_stop;
}

bool EntriesSource::push(Item item) {
    const bool chunk = item.kind == Item::Kind::Chunk;
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] {
            return m_stop || (m_queuedBytes < kQueuedBytes && m_items.size() < kQueuedItems);
        });
        if (m_stop) {
            return false;
        }
        if (chunk) {
            m_queuedBytes += item.bytes.size();
        }
        const bool wasEmpty = m_items.empty();
        m_items.push_back(std::move(item));
        if (!wasEmpty) {
            return true;  // the taker has not emptied the queue yet: it is still taking
        }
    }
    post([this] { emit itemReady(); });
    return true;
}

void EntriesSource::run() {
    std::vector<Span> prefixes;
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stop || m_prefixes || m_files; });
        if (m_stop) {
            return;
        }
        if (m_prefixes) {
            prefixes = *m_prefixes;
        }
    }
    QByteArray buffer(kChunk, Qt::Uninitialized);
    for (const Span& span : prefixes) {
        if (stopping()) {
            return;
        }
        // A file that cannot give its prefix proves nothing: the hash of what it gave makes
        // the receiver start that file afresh, and it is skipped when it is streamed.
        FileHash hash;
        struct stat status {};
        const entries::UniqueFd fd = openPlain(m_paths[span.index], status);
        if (fd.valid()) {
            hashPrefix(fd.get(), span.length, hash, buffer);
        }
        post([this, index = span.index, digest = hash.digestSoFar()] {
            emit proofHashed(index, digest);
        });
    }
    std::vector<Span> files;
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stop || m_files; });
        if (m_stop) {
            return;
        }
        files = *m_files;
    }
    for (const Span& span : files) {
        if (stopping()) {
            return;
        }
        streamFile(span);
    }
}

void EntriesSource::streamFile(const Span& span) {
    const qint64 size = m_sizes[span.index];
    struct stat before {};
    const entries::UniqueFd fd = openPlain(m_paths[span.index], before);
    if (!push(Item{Item::Kind::Begin, span.index, span.length, {}})) {
        return;
    }
    FileHash hash;
    QByteArray buffer;  // for the prefix and a second hash only: most files need neither
    if (span.length > 0) {
        buffer.resize(kChunk);
    }
    // The whole file's hash covers the prefix the receiver already holds.
    if (!fd.valid() || !hashPrefix(fd.get(), span.length, hash, buffer)) {
        push(Item{Item::Kind::Skip, span.index, 0, {}});
        return;
    }
    for (qint64 at = span.length; at < size;) {
        QByteArray chunk(static_cast<qsizetype>(std::min<qint64>(kChunk, size - at)),
                         Qt::Uninitialized);
        const qsizetype got = readAt(fd.get(), chunk.data(), chunk.size(), at);
        if (got < chunk.size()) {
            // Shorter than listed, or unreadable: what was sent stays at the receiver.
            push(Item{Item::Kind::Skip, span.index, 0, {}});
            return;
        }
        hash.add(chunk);
        at += got;
        if (!push(Item{Item::Kind::Chunk, span.index, 0, std::move(chunk)})) {
            return;
        }
    }
    QByteArray whole = hash.digestSoFar();
    struct stat after {};
    if (::fstat(fd.get(), &after) != 0 || !sameFile(before, after)) {
        // Changed while it was read: the hash of the file as it is now, so that the
        // receiver's check fails rather than a wrong file passing.
        FileHash again;
        buffer.resize(kChunk);
        hashPrefix(fd.get(), std::min<qint64>(size, after.st_size), again, buffer);
        whole = again.digestSoFar();
    }
    push(Item{Item::Kind::Done, span.index, 0, whole});
}
