#include "lane/entries/entriessink.h"

#include <QMetaObject>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "lane/entries/receivefolder.h"
#include "lane/entries/uniquefd.h"
#include "lane/filehash.h"

using entries::ReceiveFolder;
using entries::UniqueFd;
using entrieswire::FileCode;

// The file being written on the sink's thread.
struct EntriesSink::Writing {
    quint32 index = 0;
    UniqueFd fd;
    QByteArray path;
    qint64 at = 0;
    qint64 modifiedNs = 0;
    FileHash hash;
    FileCode failure = FileCode::Ok;  // once not Ok, the file's bytes are dropped
};

namespace {

// Hashes the first `length` bytes of the file open at `fd`; false when it ends first.
bool hashPrefix(int fd, qint64 length, FileHash& hash, const std::function<bool()>& stopping) {
    if (length == 0) {
        return true;  // most files start afresh: no buffer for them
    }
    QByteArray buffer(static_cast<qsizetype>(std::min<qint64>(length, 1024 * 1024)),
                      Qt::Uninitialized);
    for (qint64 at = 0; at < length;) {
        if (stopping()) {
            return false;
        }
        const ssize_t n =
            ::pread(fd, buffer.data(),
                    static_cast<size_t>(std::min<qint64>(buffer.size(), length - at)), at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        hash.add(QByteArrayView(buffer).first(n));
        at += n;
    }
    return true;
}

}  // namespace

EntriesSink::EntriesSink(const QString& folder, QObject* parent)
    : QObject(parent), m_folder(folder) {
    m_thread = std::thread([this] { run(); });
}

EntriesSink::~EntriesSink() {
    stop();
}

void EntriesSink::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool EntriesSink::stopping() const {
    const std::lock_guard lock(m_mutex);
    return m_stop;
}

template <typename F>
void EntriesSink::post(F&& signal) {
    QMetaObject::invokeMethod(
        this,
        [this, signal = std::forward<F>(signal)] {
            if (!stopping()) {
                signal();
            }
        },
        Qt::QueuedConnection);
}

void EntriesSink::queue(Command command) {
    {
        const std::lock_guard lock(m_mutex);
        if (command.kind == Command::Kind::Data) {
            m_queuedBytes += command.bytes.size();
        }
        m_commands.push_back(std::move(command));
    }
    m_wake.notify_all();
}

void EntriesSink::plan(const entries::Manifest& manifest) {
    Command command;
    command.kind = Command::Kind::Plan;
    command.entries = manifest.entries;
    queue(std::move(command));
}

void EntriesSink::open(quint32 index, const QByteArray& path, qint64 offset, bool beside,
                       qint64 modifiedNs) {
    Command command;
    command.kind = Command::Kind::Open;
    command.index = index;
    command.bytes = path;
    command.offset = offset;
    command.beside = beside;
    command.modifiedNs = modifiedNs;
    queue(std::move(command));
}

bool EntriesSink::put(QByteArray chunk) {
    Command command;
    command.bytes = std::move(chunk);
    queue(std::move(command));
    return !full();
}

bool EntriesSink::full() const {
    const std::lock_guard lock(m_mutex);
    return m_queuedBytes >= kQueuedBytes;
}

void EntriesSink::close(quint32 index, const QByteArray& hash) {
    Command command;
    command.kind = Command::Kind::Close;
    command.index = index;
    command.bytes = hash;
    queue(std::move(command));
}

void EntriesSink::skip(quint32 index) {
    Command command;
    command.kind = Command::Kind::Skip;
    command.index = index;
    queue(std::move(command));
}

void EntriesSink::finishAll(std::vector<entries::Entry> folders) {
    Command command;
    command.kind = Command::Kind::FinishAll;
    command.entries = std::move(folders);
    queue(std::move(command));
}

std::vector<EntriesSink::Written> EntriesSink::takeWritten() {
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_written, {});
}

void EntriesSink::retry() {
    {
        const std::lock_guard lock(m_mutex);
        m_retry = true;
    }
    m_wake.notify_all();
}

void EntriesSink::runPlan(ReceiveFolder& folder, const std::vector<entries::Entry>& list) {
    Plan plan;
    for (std::size_t i = 0; i < list.size() && !stopping(); ++i) {
        const entries::Entry& entry = list[i];
        if (entry.kind == entries::EntryKind::Folder) {
            entries::Manifest one;
            one.entries.push_back(entry);
            if (!folder.makeFolders(one).ok()) {
                plan.failedFolders.push_back(entry.path);
            }
            continue;
        }
        const ReceiveFolder::Probe probe = folder.probe(entry.path);
        const auto index = quint32(i);
        if (!probe.outcome.ok()) {
            plan.items.push_back({index, entrieswire::PlanState::Refuse, 0});
        } else if (probe.length > entry.size) {
            plan.beside.insert(index);  // another file: kept, this one goes beside it
        } else if (probe.length > 0) {
            plan.items.push_back({index, entrieswire::PlanState::Prove, probe.length});
        }
    }
    if (stopping()) {
        return;
    }
    post([this, plan] { emit planned(plan); });
    // The prefixes are hashed while the sender hashes its own.
    for (const entrieswire::PlanItem& item : plan.items) {
        if (item.state != entrieswire::PlanState::Prove) {
            continue;
        }
        FileHash hash;
        ReceiveFolder::OpenedFile file = folder.openFile(list[item.index].path);
        const bool whole = file.outcome.ok() && hashPrefix(file.fd.get(), item.length, hash,
                                                           [this] { return stopping(); });
        if (stopping()) {
            return;
        }
        // A prefix that could not be read is matched by no proof: the file starts afresh.
        post([this, index = item.index, digest = whole ? hash.digestSoFar() : QByteArray()] {
            emit prefixHashed(index, digest);
        });
    }
}

void EntriesSink::run() {
    ReceiveFolder folder(m_folder);
    Writing writing;
    bool open = false;
    const auto result = [this](quint32 index, FileCode code, const QByteArray& path) {
        bool first = false;
        {
            const std::lock_guard lock(m_mutex);
            first = m_written.empty();
            m_written.push_back({index, code, path});
        }
        if (first) {
            post([this] { emit filesWritten(); });
        }
    };
    for (;;) {
        Command command;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_commands.empty(); });
            if (m_stop) {
                return;
            }
            command = std::move(m_commands.front());
            m_commands.pop_front();
        }
        switch (command.kind) {
            case Command::Kind::Plan:
                runPlan(folder, command.entries);
                break;
            case Command::Kind::Open: {
                writing.fd.reset();
                writing.hash.reset();
                writing.failure = FileCode::Ok;
                writing.index = command.index;
                writing.modifiedNs = command.modifiedNs;
                writing.at = command.offset;
                open = true;
                ReceiveFolder::OpenedFile file = command.beside ? folder.createBeside(command.bytes)
                                                                : folder.openFile(command.bytes);
                if (file.outcome.ok() && command.offset == 0 && file.length > 0) {
                    // A file came under the name since the plan: it is kept as it is.
                    file = folder.createBeside(command.bytes);
                }
                writing.path = file.path.isEmpty() ? command.bytes : file.path;
                if (!file.outcome.ok()) {
                    writing.failure = FileCode::NotCreated;
                    break;
                }
                writing.fd = std::move(file.fd);
                // Bytes past the proved length are not the sender's: they go. A file of that
                // length already is left alone: truncating it would make ext4 write it back
                // at its close (its guard for files replaced by truncation), a disk write per
                // small file.
                if ((file.length > command.offset &&
                     ::ftruncate(writing.fd.get(), command.offset) != 0) ||
                    !hashPrefix(writing.fd.get(), command.offset, writing.hash,
                                [this] { return stopping(); })) {
                    writing.failure = FileCode::WriteFailed;
                }
                break;
            }
            case Command::Kind::Data: {
                const QByteArray& chunk = command.bytes;
                qsizetype written = 0;
                while (open && writing.failure == FileCode::Ok && written < chunk.size()) {
                    const ssize_t n =
                        ::pwrite(writing.fd.get(), chunk.constData() + written,
                                 static_cast<size_t>(chunk.size() - written), writing.at + written);
                    if (n < 0 && errno == EINTR) {
                        continue;
                    }
                    if (n < 0 && (errno == ENOSPC || errno == EDQUOT)) {
                        // The bytes that went stay; the rest waits for room.
                        post([this] { emit diskFull(); });
                        std::unique_lock lock(m_mutex);
                        m_retry = false;
                        m_wake.wait(lock, [this] { return m_stop || m_retry; });
                        if (m_stop) {
                            return;
                        }
                        continue;
                    }
                    if (n < 0) {
                        writing.failure = FileCode::WriteFailed;  // EFBIG, EIO: the file fails
                        break;
                    }
                    written += n;
                }
                if (open && writing.failure == FileCode::Ok) {
                    writing.hash.add(chunk);
                    writing.at += chunk.size();
                }
                bool drainedNow = false;
                {
                    const std::lock_guard lock(m_mutex);
                    const bool wasFull = m_queuedBytes >= kQueuedBytes;
                    m_queuedBytes -= chunk.size();
                    drainedNow = wasFull && m_queuedBytes < kQueuedBytes;
                }
                if (drainedNow) {
                    post([this] { emit drained(); });
                }
                break;
            }
            case Command::Kind::Close: {
                if (!open || writing.index != command.index) {
                    break;
                }
                open = false;
                FileCode code = writing.failure;
                if (code == FileCode::Ok) {
                    struct stat status {};
                    // Success only for a file still in the folder (not deleted meanwhile).
                    if (::fstat(writing.fd.get(), &status) != 0 || status.st_nlink == 0) {
                        code = FileCode::WriteFailed;
                    } else if (writing.hash.digestSoFar() != command.bytes) {
                        code = FileCode::Mismatch;
                    } else {
                        const timespec times[2] = {{0, UTIME_OMIT},
                                                   {time_t(writing.modifiedNs / 1000000000),
                                                    long(writing.modifiedNs % 1000000000)}};
                        ::futimens(writing.fd.get(), times);
                    }
                }
                writing.fd.reset();
                result(writing.index, code, writing.path);
                break;
            }
            case Command::Kind::Skip:
                if (open && writing.index == command.index) {
                    open = false;
                    writing.fd.reset();  // what was written stays, for a later offer
                }
                break;
            case Command::Kind::FinishAll:
                // A folder's time that cannot be set is no reason to fail its files.
                folder.setTimes(command.entries);
                post([this] { emit allDone(); });
                break;
        }
    }
}
