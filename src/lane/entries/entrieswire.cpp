#include "lane/entries/entrieswire.h"

#include <QtEndian>

#include <limits>

namespace entrieswire {

namespace {

using lanewire::Type;

template <typename T>
void appendBig(QByteArray& out, T value) {
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

template <typename T>
T readBig(const char* at) {
    return qFromBigEndian<T>(at);
}

std::optional<qint64> signedLength(quint64 value) {
    if (value > quint64(std::numeric_limits<qint64>::max())) {
        return std::nullopt;
    }
    return static_cast<qint64>(value);
}

QByteArray indexed(Type type, quint32 index, QByteArrayView rest) {
    QByteArray payload;
    appendBig<quint32>(payload, index);
    payload.append(rest);
    return lanewire::frame(type, payload);
}

}  // namespace

QList<QByteArray> entriesFrames(QByteArrayView list) {
    QList<QByteArray> frames;
    for (qsizetype at = 0; at < list.size(); at += lanewire::kMaxEntriesPiece) {
        const qsizetype length = std::min(lanewire::kMaxEntriesPiece, list.size() - at);
        QByteArray payload;
        payload.reserve(1 + length);
        payload.append(char(at + length < list.size() ? 1 : 0));
        payload.append(list.sliced(at, length));
        frames.append(lanewire::frame(Type::Entries, payload));
    }
    return frames;
}

QByteArray text(QByteArrayView utf8) {
    return lanewire::frame(Type::Text, utf8);
}

QByteArray plan(const std::vector<PlanItem>& items) {
    QByteArray payload;
    payload.reserve(4 + lanewire::kPlanItemSize * qsizetype(items.size()));
    appendBig<quint32>(payload, quint32(items.size()));
    for (const PlanItem& item : items) {
        appendBig<quint32>(payload, item.index);
        payload.append(char(item.state));
        appendBig<quint64>(payload, quint64(item.length));
    }
    return lanewire::frame(Type::Plan, payload);
}

QByteArray proof(quint32 index, QByteArrayView hash) {
    return indexed(Type::EntryProof, index, hash);
}

QByteArray start(const std::vector<quint32>& indexes) {
    QByteArray payload;
    appendBig<quint32>(payload, quint32(indexes.size()));
    for (const quint32 index : indexes) {
        appendBig<quint32>(payload, index);
    }
    return lanewire::frame(Type::EntryStart, payload);
}

QByteArray file(quint32 index, qint64 offset) {
    QByteArray rest;
    appendBig<quint64>(rest, quint64(offset));
    return indexed(Type::File, index, rest);
}

QByteArray fileDone(quint32 index, QByteArrayView hash) {
    return indexed(Type::FileDone, index, hash);
}

QByteArray fileSkip(quint32 index) {
    return indexed(Type::FileSkip, index, {});
}

QByteArray fileResult(quint32 index, FileCode code) {
    const char byte = char(code);
    return indexed(Type::FileResult, index, QByteArrayView(&byte, 1));
}

QByteArray end() {
    return lanewire::frame(Type::End);
}

std::optional<EntriesPiece> parseEntriesPiece(QByteArrayView payload) {
    if (payload.size() < 2 || quint8(payload.at(0)) > 1) {
        return std::nullopt;
    }
    return EntriesPiece{payload.at(0) == 1, payload.sliced(1)};
}

std::optional<std::vector<PlanItem>> parsePlan(QByteArrayView payload) {
    if (payload.size() < 4) {
        return std::nullopt;
    }
    const quint32 count = readBig<quint32>(payload.data());
    if (count > quint32(lanewire::kMaxListed) ||
        payload.size() != 4 + qsizetype(count) * lanewire::kPlanItemSize) {
        return std::nullopt;
    }
    std::vector<PlanItem> items;
    items.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        const char* at = payload.data() + 4 + qsizetype(i) * lanewire::kPlanItemSize;
        const auto state = quint8(at[4]);
        const std::optional<qint64> length = signedLength(readBig<quint64>(at + 5));
        if (state > 1 || !length) {
            return std::nullopt;
        }
        items.push_back({readBig<quint32>(at), PlanState(state), *length});
    }
    return items;
}

std::optional<std::vector<quint32>> parseStart(QByteArrayView payload) {
    if (payload.size() < 4) {
        return std::nullopt;
    }
    const quint32 count = readBig<quint32>(payload.data());
    if (count > quint32(lanewire::kMaxListed) || payload.size() != 4 + qsizetype(count) * 4) {
        return std::nullopt;
    }
    std::vector<quint32> indexes;
    indexes.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        indexes.push_back(readBig<quint32>(payload.data() + 4 + qsizetype(i) * 4));
    }
    return indexes;
}

std::optional<IndexedHash> parseIndexedHash(QByteArrayView payload) {
    if (payload.size() != 4 + lanewire::kHashSize) {
        return std::nullopt;
    }
    return IndexedHash{readBig<quint32>(payload.data()), payload.sliced(4).toByteArray()};
}

std::optional<FileHeader> parseFile(QByteArrayView payload) {
    if (payload.size() != 12) {
        return std::nullopt;
    }
    const std::optional<qint64> offset = signedLength(readBig<quint64>(payload.data() + 4));
    if (!offset) {
        return std::nullopt;
    }
    return FileHeader{readBig<quint32>(payload.data()), *offset};
}

std::optional<quint32> parseIndex(QByteArrayView payload) {
    if (payload.size() != 4) {
        return std::nullopt;
    }
    return readBig<quint32>(payload.data());
}

std::optional<IndexedCode> parseFileResult(QByteArrayView payload) {
    if (payload.size() != 5 || quint8(payload.at(4)) > quint8(FileCode::NotCreated)) {
        return std::nullopt;
    }
    return IndexedCode{readBig<quint32>(payload.data()), FileCode(quint8(payload.at(4)))};
}

}  // namespace entrieswire
