#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Reads the files of an offer of several entries on a thread of its own, one after the
// other, and hashes each as it goes. It first hashes the prefixes the receiver asked to be
// proved, then reads the files to send in order into a bounded queue of items: each file's
// start, its chunks and its end (with the whole file's hash) or its skip when it cannot be
// read any more. It reads ahead across files, so that many small files stream without a
// pause between them; the queue holds at most kQueuedBytes of data and kQueuedItems items.
//
// Results are posted to this object, never to its user: once the source is destroyed, none
// of them arrives any more.
class EntriesSource : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype kChunk = 256 * 1024;
    static constexpr qsizetype kQueuedBytes = 8 * kChunk;
    static constexpr std::size_t kQueuedItems = 4096;

    struct Item {
        enum class Kind { Begin, Chunk, Done, Skip };
        Kind kind = Kind::Chunk;
        quint32 index = 0;
        qint64 offset = 0;  // Begin: where the data starts
        QByteArray bytes;   // Chunk: the data; Done: the whole file's hash
    };
    // A file and the length of its prefix to prove, or where to send it from.
    struct Span {
        quint32 index = 0;
        qint64 length = 0;
    };

    // `paths` and `sizes` by index of the list; only the indexes given later are read.
    EntriesSource(QStringList paths, std::vector<qint64> sizes, QObject* parent = nullptr);
    ~EntriesSource() override;

    // Hashes the first `length` bytes of each file, in order: proofHashed() for each.
    void prove(std::vector<Span> prefixes);
    // Then reads each file from its offset to its size, in order.
    void stream(std::vector<Span> files);
    // The next item read, or nothing when none is ready yet.
    std::optional<Item> take();

signals:
    void proofHashed(quint32 index, const QByteArray& hash);
    void itemReady();

private:
    void run();
    void streamFile(const Span& span);
    bool push(Item item);
    template <typename F>
    void post(F&& signal);
    bool stopping();

    QStringList m_paths;
    std::vector<qint64> m_sizes;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Item> m_items;
    qsizetype m_queuedBytes = 0;
    std::optional<std::vector<Span>> m_prefixes;
    std::optional<std::vector<Span>> m_files;
    bool m_stop = false;
};
