#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

// Writes the file being received on a thread of its own and hashes it as it goes, so that
// the thread of the window never waits for the disk. The caller stops reading the peer
// while the queue is full (put() says so) and goes on at drained(): memory stays bounded and
// TCP's flow control slows the sender.
//
// A file already under the name is continued only when the sender proves it holds the same
// first bytes: measured() gives its length K (at most the size offered), prove() takes the
// sender's hash of its first K bytes, and only when it equals the hash of the file's own
// first K bytes are the new bytes written after them. Otherwise, and when the file is
// longer than the offer, that file is left as it is and the bytes go to a new file,
// "name (n).ext" with the first free n, from its start. ready() says where.
//
// A write that fails for want of space keeps its chunk and waits for retry().
//
// Results are posted to this object, never to its user: once the sink is destroyed (or
// stopped), none of them arrives any more.
class FileSink : public QObject {
    Q_OBJECT

public:
    // Small enough that a chunk is still in the CPU's cache when it is written and hashed.
    static constexpr qsizetype kQueuedBytes = 1024 * 1024;

    enum class Failure {
        Opening,  // no plain file of ours could be opened (a link, a FIFO, locked)
        Writing,  // a write failed although the disk has room (a size limit, an I/O error)
        Gone,     // at the end the name no longer names the file written (moved, deleted)
    };

    // `folder` ends in "/"; `name` is the file's name in it. Nothing is opened through a
    // link.
    FileSink(const QString& folder, const QString& name, QObject* parent = nullptr);
    // Stops the thread and waits for it.
    ~FileSink() override;

    // Opens the file of that name (creating it when there is none) and measures it against
    // `limit`, the size offered; measured() follows.
    void start(qint64 limit);
    // The sender's hash of its first K bytes.
    void prove(const QByteArray& hash);
    // Queues bytes to write next; false when the queue is now full.
    bool put(QByteArray chunk);
    bool full() const;
    // No more bytes will come: finished() follows once all are written.
    void finish();
    // Tries the write that failed for want of space again.
    void retry();
    // Ends the work at once (also a long hash of a partial file) and waits for the thread;
    // nothing more is signalled.
    void stop();

signals:
    void measured(qint64 length);
    void ready(qint64 offset, const QString& path);
    void drained();
    void diskFull();
    void failed(FileSink::Failure failure);
    void finished(const QByteArray& hash);

private:
    void run(qint64 limit);
    // Runs `signal` on this object's thread, unless the sink is gone or stopped by then.
    template <typename F>
    void post(F&& signal);
    bool stopping() const;

    QString m_folder;
    QString m_name;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_chunks;
    qsizetype m_queuedBytes = 0;
    std::optional<QByteArray> m_proof;
    bool m_finishing = false;
    bool m_retry = false;
    bool m_stop = false;
};
