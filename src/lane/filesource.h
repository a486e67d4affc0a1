#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

// Reads the file being sent on a thread of its own, in large chunks, and hashes it as it
// goes, so that the thread of the window never waits for the disk. At most a few chunks
// wait to be taken: memory stays bounded whatever the file's size.
//
// First the file's first K bytes are hashed, for the receiver to compare with its partial
// file; then the rest is read from where the receiver starts (K, or 0 for a new file) to
// the size offered. At the end the hash of the whole file is given;
// when the file changed on disk while it was read (its size or modification time), the
// hash is taken again over the file as it is now, so the receiver's check catches it.
//
// Results are posted to this object, never to its user: once the source is destroyed, none
// of them arrives any more.
class FileSource : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype kChunk = 256 * 1024;
    static constexpr int kQueued = 8;

    FileSource(const QString& path, qint64 size, QObject* parent = nullptr);
    // Stops the thread and waits for it.
    ~FileSource() override;

    // Hashes the first `length` bytes: prefixHashed() follows.
    void start(qint64 length);
    // Reads on from `offset` (the prefix's length, or 0).
    void streamFrom(qint64 offset);
    // The next chunk read, or an empty array when none is ready yet.
    QByteArray take();

signals:
    void prefixHashed(const QByteArray& hash);
    void chunkReady();
    // Everything up to the size was read; `hash` is the whole file's.
    void finished(const QByteArray& hash);
    // The file could not be read, or ended before its size.
    void failed();

private:
    void run(qint64 length);
    // Runs `signal` on this object's thread, unless the source is gone by then.
    template <typename F>
    void post(F&& signal);
    bool stopping();

    QString m_path;
    qint64 m_size;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_room;
    std::deque<QByteArray> m_chunks;
    std::optional<qint64> m_from;
    bool m_stop = false;
};
