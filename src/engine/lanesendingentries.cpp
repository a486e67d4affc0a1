// The sending session's half of an offer of several entries or of a text
// (doc/fast-lane.md, "Several entries"): the list, the receiver's plan, the proofs, and the
// files streamed one after the other without waiting for any answer.

#include <QSslSocket>

#include "engine/lanesendingentries.h"
#include "engine/lanesendingsession.h"
#include "lane/entries/entrieswire.h"
#include "lane/entries/textoffer.h"

namespace {

constexpr qint64 kWriteAhead = 256 * 1024;
constexpr int kProgressMs = 30;

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

LaneSendingSession::LaneSendingSession(std::shared_ptr<const OutgoingEntries> entries,
                                       const Identity& identity, QObject* parent)
    : LaneSendingSession(OutgoingFile{{}, {}, entries->total()}, identity, parent) {
    m_entries = std::make_unique<LaneSendingEntries>(std::move(entries));
}

void LaneSendingSession::offerEntries() {
    const OutgoingEntries& out = *m_entries->out;
    if (out.isText) {
        send(entrieswire::text(entries::encodeText(out.text)));
        return;
    }
    for (const QByteArray& frame :
         entrieswire::entriesFrames(entries::encodeManifest(out.manifest))) {
        send(frame);
    }
}

bool LaneSendingSession::handleEntries(lanewire::Type type, const QByteArray& payload) {
    using lanewire::Type;
    switch (type) {
        case Type::Plan:
            takePlan(payload);
            return true;
        case Type::EntryStart:
            takeEntryStart(payload);
            return true;
        case Type::FileResult:
            takeFileResult(payload);
            return true;
        case Type::Result:
            takeEntriesResult(payload);
            return true;
        case Type::Accept:
        case Type::Start:
            finish(End::Broken);  // the answers to one file, not to a list
            return true;
        default:
            return false;  // pauses, cancels, the refusals: as for one file
    }
}

void LaneSendingSession::takePlan(const QByteArray& payload) {
    LaneSendingEntries& e = *m_entries;
    const auto items = entrieswire::parsePlan(payload);
    const auto& list = e.out->manifest.entries;
    if (m_phase != Phase::Offered || e.out->isText || !items) {
        finish(End::Broken);
        return;
    }
    std::vector<EntriesSource::Span> prefixes;
    qint64 last = -1;
    for (const entrieswire::PlanItem& item : *items) {
        // Increasing indexes of files only; a proof of 1 to size bytes, a refusal of none.
        const bool file =
            item.index < list.size() && list[item.index].kind == entries::EntryKind::File;
        const bool fits = item.state == entrieswire::PlanState::Prove
                              ? file && item.length >= 1 && item.length <= list[item.index].size
                              : item.length == 0;
        if (qint64(item.index) <= last || !file || !fits) {
            finish(End::Broken);
            return;
        }
        last = item.index;
        if (item.state == entrieswire::PlanState::Refuse) {
            e.refused.insert(item.index);
        } else {
            e.prove[item.index] = item.length;
            prefixes.push_back({item.index, item.length});
        }
    }
    e.planned = true;
    m_phase = Phase::Proving;
    QStringList paths;
    std::vector<qint64> sizes;
    for (qsizetype i = 0; i < qsizetype(list.size()); ++i) {
        paths.append(e.out->sources.value(i));
        sizes.push_back(list[i].size);
    }
    e.source = std::make_unique<EntriesSource>(paths, sizes);
    connect(e.source.get(), &EntriesSource::proofHashed, this,
            [this](quint32 index, const QByteArray& hash) {
                if (m_ended) {
                    return;
                }
                send(entrieswire::proof(index, hash));
                if (--m_entries->proofsOwed == 0) {
                    m_entries->startAwaited = true;
                }
            });
    connect(e.source.get(), &EntriesSource::itemReady, this, &LaneSendingSession::pumpEntries);
    e.failed = e.failed || !e.refused.empty();
    for (const quint32 index : e.refused) {
        emit fileEnded(e.pathOf(index), FileVerdict::NotCreated);
        if (m_ended) {
            return;  // a listener ended the send
        }
    }
    if (prefixes.empty()) {
        streamEntries({});  // nothing to prove: no round trip before the data
        return;
    }
    e.proofsOwed = qsizetype(prefixes.size());
    e.source->prove(std::move(prefixes));
}

void LaneSendingSession::takeEntryStart(const QByteArray& payload) {
    LaneSendingEntries& e = *m_entries;
    const auto indexes = entrieswire::parseStart(payload);
    if (m_phase != Phase::Proving || !e.startAwaited || !indexes) {
        finish(End::Broken);
        return;
    }
    qint64 last = -1;
    for (const quint32 index : *indexes) {
        if (qint64(index) <= last || !e.prove.contains(index)) {
            finish(End::Broken);
            return;
        }
        last = index;
    }
    e.startAwaited = false;
    streamEntries(*indexes);
}

void LaneSendingSession::streamEntries(const std::vector<quint32>& restart) {
    LaneSendingEntries& e = *m_entries;
    const auto& list = e.out->manifest.entries;
    std::vector<EntriesSource::Span> files;
    for (quint32 index = 0; index < list.size(); ++index) {
        if (list[index].kind != entries::EntryKind::File || e.refused.contains(index)) {
            continue;
        }
        qint64 offset = 0;
        const auto proved = e.prove.find(index);
        if (proved != e.prove.end() && !std::binary_search(restart.begin(), restart.end(), index)) {
            offset = proved->second;
        }
        if (offset == list[index].size && proved != e.prove.end()) {
            // The receiver holds it whole: not sent again.
            e.done += offset;
            emit fileEnded(e.pathOf(index), FileVerdict::AlreadyThere);
            if (m_ended) {
                return;
            }
            continue;
        }
        files.push_back({index, offset});
    }
    e.filesToSend = qsizetype(files.size());
    m_phase = Phase::Streaming;
    e.source->stream(std::move(files));
    emit started();
    emit progress(e.done, m_file.size);
    if (m_ended) {
        return;
    }
    if (m_userPaused) {
        send(lanewire::frame(lanewire::Type::Pause));
        emit pausedForUser();
    }
    pumpEntries();
}

void LaneSendingSession::pumpEntries() {
    LaneSendingEntries& e = *m_entries;
    if (m_phase != Phase::Streaming || m_ended || m_userPaused || m_peerPaused || !m_socket ||
        !e.source) {
        return;
    }
    while (e.filesSent < e.filesToSend &&
           m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() < kWriteAhead) {
        std::optional<EntriesSource::Item> item = e.source->take();
        if (!item) {
            break;
        }
        using Kind = EntriesSource::Item::Kind;
        switch (item->kind) {
            case Kind::Begin:
                e.current = item->index;
                e.done += item->offset;
                send(entrieswire::file(item->index, item->offset));
                emit fileStarted(e.pathOf(item->index), e.sizeOf(item->index));
                if (m_ended) {
                    return;
                }
                break;
            case Kind::Chunk:
                m_socket->write(lanewire::dataHeader(item->bytes.size()));
                m_socket->write(item->bytes);
                e.done += item->bytes.size();
                break;
            case Kind::Done:
                send(entrieswire::fileDone(item->index, item->bytes));
                e.awaitingResult.insert(item->index);
                ++e.filesSent;
                break;
            case Kind::Skip:
                send(entrieswire::fileSkip(item->index));
                e.failed = true;
                ++e.filesSent;
                emit fileEnded(e.pathOf(item->index), FileVerdict::Unreadable);
                if (m_ended) {
                    return;
                }
                break;
        }
    }
    if (m_sinceProgress.elapsed() >= kProgressMs || e.filesSent == e.filesToSend) {
        m_sinceProgress.restart();
        emit progress(e.done, m_file.size);
    }
    if (e.filesSent == e.filesToSend && !e.endSent) {
        e.endSent = true;
        m_doneSent = true;
        m_phase = Phase::Finishing;
        send(entrieswire::end());
    }
}

void LaneSendingSession::takeFileResult(const QByteArray& payload) {
    LaneSendingEntries& e = *m_entries;
    const auto result = entrieswire::parseFileResult(payload);
    if (!result || !e.awaitingResult.contains(result->index)) {
        finish(End::Broken);  // a result for no file whose end was sent, or twice
        return;
    }
    e.awaitingResult.erase(result->index);
    const FileVerdict verdict = verdictOf(result->code);
    e.failed = e.failed || verdict != FileVerdict::Arrived;
    emit fileEnded(e.pathOf(result->index), verdict);
}

void LaneSendingSession::takeEntriesResult(const QByteArray& payload) {
    LaneSendingEntries& e = *m_entries;
    const auto code = static_cast<lanewire::ResultCode>(payload.at(0));
    if (e.out->isText) {
        // A text is taken at once, or declined.
        finish(m_phase == Phase::Offered && code == lanewire::ResultCode::Ok ? End::Sent
                                                                             : End::Broken);
        return;
    }
    if (!e.endSent || !e.awaitingResult.empty()) {
        // Only a failed write may end the offer early; a verdict comes after every file's.
        finish(code == lanewire::ResultCode::WriteFailed ? End::WriteFailed : End::Broken);
        return;
    }
    finish(code == lanewire::ResultCode::Ok && !e.failed ? End::Sent : End::Incomplete);
}
