#pragma once

#include <QByteArray>
#include <QObject>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "lane/entries/uniquefd.h"

namespace localsend {

// Writes one uploaded file on a thread of its own and hashes it (SHA-256) as it goes, so
// that the thread of the window never waits for the disk. The connection stops reading
// its peer while the queue is full (put() says so) and goes on at drained(): memory stays
// bounded and TCP's flow control slows the sender.
//
// Results are posted to this object, never to its user: once the sink is destroyed (or
// stopped), none of them arrives any more.
class UploadSink : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype kQueuedBytes = 1024 * 1024;

    // Takes over `file`, open for writing at its start. `path` is where it was opened: at
    // the end the sink checks that the name still holds this file.
    UploadSink(entries::UniqueFd file, const QByteArray& path, QObject* parent = nullptr);
    // Stops the thread and waits for it.
    ~UploadSink() override;

    // Queues bytes to write next; false when the queue is now full.
    bool put(QByteArray chunk);
    bool full() const;
    // No more bytes will come: finished() follows once every byte is written.
    void finish();
    // Ends the work at once and waits for the thread; nothing more is signalled.
    void stop();

signals:
    void drained();
    // errno of the write that failed; 0 when the name no longer holds the file written.
    void failed(int error);
    // The SHA-256 of every byte written, 64 lower-case hex digits.
    void finished(const QByteArray& sha256);

private:
    void run();
    template <typename F>
    void post(F&& signal);
    bool stopping() const;

    entries::UniqueFd m_file;
    QByteArray m_path;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_chunks;
    qsizetype m_queuedBytes = 0;
    bool m_finishing = false;
    bool m_stop = false;
};

}  // namespace localsend
