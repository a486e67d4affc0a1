#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>

#include <optional>
#include <vector>

#include "lane/lanewire.h"

// The frames of an offer of several entries or of a text on the fast lane (types 32 to 41,
// doc/fast-lane.md): their payloads built and read. Reading checks each payload on its own
// (lengths, counts, values within range); what a frame means at its point of the sequence
// is the sessions' business.
namespace entrieswire {

// How the receiver plans to take a file that does not simply start at its first byte.
enum class PlanState : quint8 {
    Prove = 0,   // a file of that name holds `length` bytes: the sender proves them
    Refuse = 1,  // the name is held by something the receiver may not write
};

struct PlanItem {
    quint32 index = 0;
    PlanState state = PlanState::Prove;
    qint64 length = 0;

    friend bool operator==(const PlanItem&, const PlanItem&) = default;
};

// What the receiver says of each file it took (FILE_RESULT), and of the whole offer (RESULT:
// Ok, or Failed when any file of the list is missing or wrong, WriteFailed when a write
// failed).
enum class FileCode : quint8 {
    Ok = 0,
    Mismatch = 1,
    WriteFailed = 2,
    NotCreated = 3,
};

// The list cut into ENTRIES frames of at most kMaxEntriesPiece bytes each.
QList<QByteArray> entriesFrames(QByteArrayView list);
QByteArray text(QByteArrayView utf8);
QByteArray plan(const std::vector<PlanItem>& items);
QByteArray proof(quint32 index, QByteArrayView hash);
QByteArray start(const std::vector<quint32>& indexes);
QByteArray file(quint32 index, qint64 offset);
QByteArray fileDone(quint32 index, QByteArrayView hash);
QByteArray fileSkip(quint32 index);
QByteArray fileResult(quint32 index, FileCode code);
QByteArray end();

struct EntriesPiece {
    bool more = false;
    QByteArrayView bytes;
};
std::optional<EntriesPiece> parseEntriesPiece(QByteArrayView payload);
std::optional<std::vector<PlanItem>> parsePlan(QByteArrayView payload);
std::optional<std::vector<quint32>> parseStart(QByteArrayView payload);

struct IndexedHash {
    quint32 index = 0;
    QByteArray hash;
};
// PROOF (35) and FILE_DONE (38).
std::optional<IndexedHash> parseIndexedHash(QByteArrayView payload);

struct FileHeader {
    quint32 index = 0;
    qint64 offset = 0;
};
std::optional<FileHeader> parseFile(QByteArrayView payload);
std::optional<quint32> parseIndex(QByteArrayView payload);

struct IndexedCode {
    quint32 index = 0;
    FileCode code = FileCode::Ok;
};
std::optional<IndexedCode> parseFileResult(QByteArrayView payload);

}  // namespace entrieswire
