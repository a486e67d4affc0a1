#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Writes the file being received on a thread of its own and hashes it as it goes, so that
// the thread of the window never waits for the disk. The caller stops reading the peer
// while the queue is full (put() says so) and goes on at drained(): memory stays bounded and
// TCP's flow control slows the sender.
//
// First the prefix already on disk (a partial file) is hashed; its hash goes to the sender,
// and the running hash goes on from there, so that at the end it covers the whole file.
// A write that fails for want of space keeps its chunk and waits for retry().
class FileSink : public QObject {
    Q_OBJECT

public:
    // Small enough that a chunk is still in the CPU's cache when it is written and hashed.
    static constexpr qsizetype kQueuedBytes = 1024 * 1024;

    // `target` is opened without following a link.
    FileSink(const QString& target, QObject* parent = nullptr);
    ~FileSink() override;

    // Continues the file from its length (at most `limit`, the size offered): hashes what is
    // there, says where it goes on and with which hash, then writes from there. The length
    // is taken under the file's lock, so it holds while this sink writes.
    void start(qint64 limit);
    // Queues bytes to write next; false when the queue is now full.
    bool put(QByteArray chunk);
    bool full() const;
    // No more bytes will come: finished() follows once all are written.
    void finish();
    // Tries the write that failed for want of space again.
    void retry();

signals:
    void prefixHashed(qint64 offset, const QByteArray& hash);
    void drained();
    void diskFull();
    // The file could not be opened as a plain file of ours (`opening`), or a write failed
    // although the disk has room.
    void failed(bool opening);
    void finished(const QByteArray& hash);

private:
    void run(qint64 limit);

    QString m_target;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_chunks;
    qsizetype m_queuedBytes = 0;
    bool m_finishing = false;
    bool m_retry = false;
    bool m_stop = false;
};
