// The receiving session's half of an offer of several entries or of a text
// (doc/fast-lane.md, "Several entries"): the list checked whole before anything is written,
// the plan, the proofs, and the files written one after the other as they stream.

#include <QTcpSocket>

#include "engine/lanereceivingentries.h"
#include "engine/lanereceivingsession.h"
#include "lane/entries/entrieswire.h"
#include "lane/entries/textoffer.h"

namespace {

constexpr int kProgressMs = 30;

QString listedPath(const QByteArray& path) {
    return QString::fromUtf8(path).normalized(QString::NormalizationForm_C);
}

FileVerdict verdictOf(entrieswire::FileCode code) {
    switch (code) {
        case entrieswire::FileCode::Ok:
            return FileVerdict::Arrived;
        case entrieswire::FileCode::Mismatch:
            return FileVerdict::Mismatch;
        case entrieswire::FileCode::WriteFailed:
            return FileVerdict::WriteFailed;
        case entrieswire::FileCode::NotCreated:
            break;
    }
    return FileVerdict::NotCreated;
}

}  // namespace

const entries::Manifest* LaneReceivingSession::offeredEntries() const {
    return m_kind == Kind::Entries && m_entries ? &m_entries->manifest : nullptr;
}

bool LaneReceivingSession::handleEntries(lanewire::Type type, const QByteArray& payload) {
    using lanewire::Type;
    switch (type) {
        case Type::Entries:
            takeEntriesPiece(payload);
            return true;
        case Type::Text:
            takeText(payload);
            return true;
        case Type::EntryProof:
            takeEntryProof(payload);
            return true;
        case Type::File:
            takeFile(payload);
            return true;
        case Type::FileDone:
            takeFileDone(payload);
            return true;
        case Type::FileSkip:
            takeFileSkip(payload);
            return true;
        case Type::End:
            takeEnd();
            return true;
        case Type::Data:
            if (m_kind != Kind::File) {
                takeEntriesData(payload);
                return true;
            }
            return false;
        case Type::Offer:
        case Type::Proof:
        case Type::Done:
            if (m_kind != Kind::File) {
                finish(End::Broken);  // the frames of one file, inside a list
                return true;
            }
            return false;
        default:
            return false;
    }
}

void LaneReceivingSession::takeEntriesPiece(const QByteArray& payload) {
    const auto piece = entrieswire::parseEntriesPiece(payload);
    if (m_phase != Phase::Waiting || !piece) {
        finish(End::Broken);
        return;
    }
    if (!m_entries) {
        m_entries = std::make_unique<LaneReceivingEntries>();
        m_kind = Kind::Entries;
    }
    LaneReceivingEntries& e = *m_entries;
    if (e.list.size() + piece->bytes.size() > entries::kMaxManifestBytes) {
        finish(End::Broken);
        return;
    }
    e.list.append(piece->bytes);
    if (piece->more) {
        return;  // the offer's deadline covers every piece
    }
    // Checked whole before anything is asked or written: one bad path refuses the list.
    entries::ParsedManifest parsed = entries::parseManifest(e.list);
    e.list = QByteArray();
    if (!parsed.manifest) {
        finish(End::BadName);
        return;
    }
    e.manifest = std::move(*parsed.manifest);
    const QByteArray& first = e.manifest.entries.front().path;
    const qsizetype slash = first.indexOf('/');
    m_name = listedPath(slash < 0 ? first : first.first(slash));
    m_size = e.manifest.total();
    m_phase = Phase::Offered;
    m_silence.stop();
    emit offered();
}

void LaneReceivingSession::takeText(const QByteArray& payload) {
    if (m_phase != Phase::Waiting || m_entries) {
        finish(End::Broken);
        return;
    }
    entries::ParsedText parsed = entries::parseText(payload);
    if (parsed.error != entries::TextError::None) {
        finish(End::Broken);
        return;
    }
    m_kind = Kind::Text;
    m_text = std::move(parsed.text);
    m_phase = Phase::Offered;
    m_silence.stop();
    emit offered();
}

void LaneReceivingSession::acceptEntries(const QString& folder) {
    if (m_kind == Kind::Text) {
        send(lanewire::result(lanewire::ResultCode::Ok));
        finish(End::Received);
        return;
    }
    LaneReceivingEntries& e = *m_entries;
    m_phase = Phase::Measuring;
    e.sink = std::make_unique<EntriesSink>(folder);
    EntriesSink* sink = e.sink.get();
    // The sink posts its results to itself: stopped in finish(), none arrives later.
    connect(sink, &EntriesSink::planned, this, [this](const EntriesSink::Plan& plan) {
        if (!m_ended && m_phase == Phase::Measuring) {
            m_entries->plan = plan;
            entriesPlanned();
        }
    });
    connect(sink, &EntriesSink::prefixHashed, this, [this](quint32 index, const QByteArray& hash) {
        if (!m_ended) {
            m_entries->ownHashes[index] = hash;
            startEntriesIfProved();
        }
    });
    connect(sink, &EntriesSink::filesWritten, this, &LaneReceivingSession::entriesWritten);
    connect(sink, &EntriesSink::allDone, this, [this] {
        if (m_ended || m_phase != Phase::Checking) {
            return;
        }
        entriesWritten();  // every result goes before the verdict
        const bool whole = !m_entries->failed;
        send(lanewire::result(whole ? lanewire::ResultCode::Ok
                                    : lanewire::ResultCode::HashMismatch));
        finish(whole ? End::Received : End::Incomplete);
    });
    connect(sink, &EntriesSink::drained, this, &LaneReceivingSession::readPeer);
    connect(sink, &EntriesSink::diskFull, this, [this] {
        if (m_ended) {
            return;
        }
        m_diskFull = true;
        pauseByUser();
        emit diskFull();
    });
    sink->plan(e.manifest);
}

void LaneReceivingSession::entriesWritten() {
    if (m_ended || !m_entries || !m_entries->sink) {
        return;
    }
    // The results of every file written meanwhile go out together.
    QByteArray results;
    const std::vector<EntriesSink::Written> written = m_entries->sink->takeWritten();
    for (const EntriesSink::Written& file : written) {
        results += entrieswire::fileResult(file.index, file.code);
        m_entries->failed = m_entries->failed || file.code != entrieswire::FileCode::Ok;
    }
    if (!results.isEmpty()) {
        send(results);
    }
    for (const EntriesSink::Written& file : written) {
        if (m_ended) {
            return;  // a listener ended the transfer: nothing more is said
        }
        emit fileEnded(QString::fromUtf8(file.path), verdictOf(file.code));
    }
}

void LaneReceivingSession::entriesPlanned() {
    LaneReceivingEntries& e = *m_entries;
    const auto& list = e.manifest.entries;
    for (const QByteArray& folder : e.plan.failedFolders) {
        e.failed = true;
        emit fileEnded(listedPath(folder), FileVerdict::NotCreated);
        if (m_ended) {
            return;  // a listener ended the transfer
        }
    }
    m_prefix = 0;
    for (const entrieswire::PlanItem& item : e.plan.items) {
        if (item.state == entrieswire::PlanState::Refuse) {
            e.skipped.insert(item.index);
            e.failed = true;
            emit fileEnded(listedPath(list[item.index].path), FileVerdict::NotCreated);
            if (m_ended) {
                return;
            }
        } else {
            e.prove[item.index] = item.length;
            m_prefix += item.length;
        }
    }
    send(entrieswire::plan(e.plan.items));
    if (m_userPaused) {
        send(lanewire::frame(lanewire::Type::Pause));
    }
    m_phase = Phase::Proving;
    watchSilence();
    startEntriesIfProved();
    readPeer();  // proofs that came meanwhile
}

void LaneReceivingSession::takeEntryProof(const QByteArray& payload) {
    const auto proof = entrieswire::parseIndexedHash(payload);
    if (m_phase != Phase::Proving || !m_entries || !proof) {
        finish(End::Broken);
        return;
    }
    LaneReceivingEntries& e = *m_entries;
    // In the plan's order, each proved file once.
    const auto next =
        e.proofs.empty() ? e.prove.begin() : e.prove.upper_bound(e.proofs.rbegin()->first);
    if (next == e.prove.end() || next->first != proof->index) {
        finish(End::Broken);
        return;
    }
    e.proofs[proof->index] = proof->hash;
    startEntriesIfProved();
}

void LaneReceivingSession::startEntriesIfProved() {
    LaneReceivingEntries& e = *m_entries;
    if (m_phase != Phase::Proving || e.proofs.size() != e.prove.size() ||
        e.ownHashes.size() != e.prove.size()) {
        return;
    }
    const auto& list = e.manifest.entries;
    std::vector<quint32> restart;
    for (const auto& [index, length] : e.prove) {
        if (e.proofs[index] != e.ownHashes[index]) {
            restart.push_back(index);
            e.restart.insert(index);
        } else if (length == list[index].size) {
            // Held whole already: not sent again.
            e.skipped.insert(index);
            e.done += length;
            emit fileEnded(listedPath(list[index].path), FileVerdict::AlreadyThere);
            if (m_ended) {
                return;
            }
        }
    }
    for (quint32 index = 0; index < list.size(); ++index) {
        if (list[index].kind == entries::EntryKind::File && !e.skipped.contains(index)) {
            ++e.filesOwed;
        }
    }
    // Without anything to prove, the sender streams at once: no START.
    if (!e.prove.empty()) {
        send(entrieswire::start(restart));
    }
    m_phase = Phase::Receiving;
    watchSilence();
    emit started();
    entriesProgress(true);
}

void LaneReceivingSession::takeFile(const QByteArray& payload) {
    const auto header = entrieswire::parseFile(payload);
    if (m_phase != Phase::Receiving || !m_entries || !header) {
        finish(End::Broken);
        return;
    }
    LaneReceivingEntries& e = *m_entries;
    const auto& list = e.manifest.entries;
    const quint32 index = header->index;
    const bool owed = index < list.size() && list[index].kind == entries::EntryKind::File &&
                      !e.skipped.contains(index);
    const auto proved = e.prove.find(index);
    const qint64 offset =
        proved != e.prove.end() && !e.restart.contains(index) ? proved->second : 0;
    if (e.current || qint64(index) <= e.lastFile || !owed || header->offset != offset) {
        finish(End::Broken);
        return;
    }
    e.current = index;
    e.lastFile = index;
    e.received = offset;
    e.done += offset;
    const bool beside = e.restart.contains(index) || e.plan.beside.contains(index);
    e.sink->open(index, list[index].path, offset, beside, list[index].modifiedNs);
    emit fileStarted(listedPath(list[index].path), list[index].size);
}

void LaneReceivingSession::takeEntriesData(const QByteArray& payload) {
    if (m_phase != Phase::Receiving || !m_entries || !m_entries->current) {
        finish(End::Broken);  // data outside a file
        return;
    }
    LaneReceivingEntries& e = *m_entries;
    const qint64 left = e.manifest.entries[*e.current].size - e.received;
    if (payload.size() > left || (payload.size() < lanewire::kMinData && payload.size() != left)) {
        finish(End::Broken);
        return;
    }
    e.received += payload.size();
    e.done += payload.size();
    e.sink->put(payload);
    entriesProgress(false);
}

void LaneReceivingSession::takeFileDone(const QByteArray& payload) {
    const auto done = entrieswire::parseIndexedHash(payload);
    if (m_phase != Phase::Receiving || !m_entries || !done || m_entries->current != done->index ||
        m_entries->received != m_entries->manifest.entries[done->index].size) {
        finish(End::Broken);
        return;
    }
    LaneReceivingEntries& e = *m_entries;
    e.sink->close(done->index, done->hash);
    e.current.reset();
    ++e.filesTaken;
    entriesProgress(false);
}

void LaneReceivingSession::takeFileSkip(const QByteArray& payload) {
    const auto index = entrieswire::parseIndex(payload);
    if (m_phase != Phase::Receiving || !m_entries || !index || m_entries->current != *index) {
        finish(End::Broken);
        return;
    }
    LaneReceivingEntries& e = *m_entries;
    e.sink->skip(*index);
    e.current.reset();
    ++e.filesTaken;
    e.failed = true;
    emit fileEnded(listedPath(e.manifest.entries[*index].path), FileVerdict::Unreadable);
}

void LaneReceivingSession::takeEnd() {
    if (m_phase != Phase::Receiving || !m_entries || m_entries->current ||
        m_entries->filesTaken != m_entries->filesOwed) {
        finish(End::Broken);
        return;
    }
    LaneReceivingEntries& e = *m_entries;
    std::vector<entries::Entry> folders;
    for (const entries::Entry& entry : e.manifest.entries) {
        if (entry.kind == entries::EntryKind::Folder) {
            folders.push_back(entry);
        }
    }
    m_phase = Phase::Checking;
    watchSilence();
    entriesProgress(true);
    // After every file's result: the sink works through its commands in order.
    e.sink->finishAll(std::move(folders));
}

void LaneReceivingSession::entriesProgress(bool now) {
    if (now || m_sinceProgress.elapsed() >= kProgressMs) {
        m_sinceProgress.restart();
        emit progress(m_entries->done, m_size);
    }
}
