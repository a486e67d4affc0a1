#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "lane/entries/entrieswire.h"
#include "lane/entries/manifest.h"

namespace entries {
class ReceiveFolder;
}

// Writes the entries of an offer into the receive folder on a thread of its own, one file
// after the other, in the order of its commands, hashing each file as it goes. Everything
// goes through ReceiveFolder: no link is followed or created and nothing lands outside the
// folder.
//
// First plan(): the folders of the list are made and every file's name is looked at, giving
// the plan (which files are to be proved and from what length, which are refused, which go
// beside a longer namesake), then the prefixes to prove are hashed. Then, as the sender
// streams: open() a file, put() its bytes, close() it with the sender's hash (its result
// and its modification time follow) or skip() it; at last finishAll() sets the folders'
// times. A file that fails does not stop the others: its remaining bytes are dropped.
//
// The caller stops reading the peer while the queue is full (put() says so) and goes on at
// drained(). A write that fails for want of space keeps its bytes and waits for retry().
// Results are posted to this object: once the sink is stopped or destroyed, none arrives.
class EntriesSink : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype kQueuedBytes = 1024 * 1024;

    struct Plan {
        std::vector<entrieswire::PlanItem> items;  // as PLAN lists them
        std::set<quint32> beside;                  // a longer namesake is kept: go beside it
        std::vector<QByteArray> failedFolders;     // listed folders that could not be made
    };

    // `folder` is the receive folder (the user chose it; it may be a link).
    explicit EntriesSink(const QString& folder, QObject* parent = nullptr);
    ~EntriesSink() override;

    void plan(const entries::Manifest& manifest);
    // File `index` at `path` (as listed) from `offset` (its proved length, or 0), or beside
    // its namesake.
    void open(quint32 index, const QByteArray& path, qint64 offset, bool beside, qint64 modifiedNs);
    bool put(QByteArray chunk);
    bool full() const;
    void close(quint32 index, const QByteArray& hash);
    void skip(quint32 index);
    // `folders`: the listed folders, whose times are set last.
    void finishAll(std::vector<entries::Entry> folders);
    void retry();
    // Ends the work at once and waits for the thread; nothing more is signalled.
    void stop();

    // A file ended: where it was written (relative, in normal form C) and how.
    struct Written {
        quint32 index = 0;
        entrieswire::FileCode code = entrieswire::FileCode::Ok;
        QByteArray path;
    };
    // The files ended since the last call, in order.
    std::vector<Written> takeWritten();

signals:
    void planned(const EntriesSink::Plan& plan);
    void prefixHashed(quint32 index, const QByteArray& hash);
    // Files ended (takeWritten() gives them). One signal stands for every file that ends
    // before it is taken, so that many small files cost one wake-up of the reader's thread,
    // not one each.
    void filesWritten();
    void drained();
    void diskFull();
    void allDone();

private:
    struct Command {
        enum class Kind { Plan, Open, Data, Close, Skip, FinishAll };
        Kind kind = Kind::Data;
        quint32 index = 0;
        QByteArray bytes;  // Open: the path; Data: the bytes; Close: the hash
        qint64 offset = 0;
        bool beside = false;
        qint64 modifiedNs = 0;
        std::vector<entries::Entry> entries;  // Plan: the list; FinishAll: the folders
    };
    struct Writing;

    void queue(Command command);
    void run();
    void runPlan(entries::ReceiveFolder& folder, const std::vector<entries::Entry>& list);
    template <typename F>
    void post(F&& signal);
    bool stopping() const;

    QString m_folder;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Command> m_commands;
    std::vector<Written> m_written;
    qsizetype m_queuedBytes = 0;
    bool m_retry = false;
    bool m_stop = false;
};
