#include "lane/lanewire.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <limits>
#include <utility>

namespace lanewire {

namespace {

constexpr char kMagic[] = "RUVOLANE";
constexpr qsizetype kMagicSize = 8;

void appendU16(QByteArray& out, quint16 value) {
    const quint16 big = qToBigEndian(value);
    out.append(reinterpret_cast<const char*>(&big), sizeof big);
}

void appendU32(QByteArray& out, quint32 value) {
    const quint32 big = qToBigEndian(value);
    out.append(reinterpret_cast<const char*>(&big), sizeof big);
}

void appendU64(QByteArray& out, quint64 value) {
    const quint64 big = qToBigEndian(value);
    out.append(reinterpret_cast<const char*>(&big), sizeof big);
}

template <typename T>
T readBig(const char* at) {
    return qFromBigEndian<T>(at);
}

}  // namespace

QByteArray greeting(quint16 version) {
    QByteArray out(kMagic, kMagicSize);
    appendU16(out, version);
    return out;
}

std::optional<quint16> greetingVersion(QByteArrayView bytes) {
    if (bytes.size() != kGreetingSize || bytes.first(kMagicSize) != QByteArrayView(kMagic)) {
        return std::nullopt;
    }
    const quint16 version = readBig<quint16>(bytes.data() + kMagicSize);
    return version == 0 ? std::nullopt : std::optional<quint16>(version);
}

qsizetype maxPayload(quint8 type) {
    switch (static_cast<Type>(type)) {
        case Type::Offer:
            return 8 + 2 + kMaxName + 1 + kMaxPeerName;
        case Type::Pair:
            return kPairMessageSize + 1 + kMaxPeerName;
        case Type::Accept:
        case Type::Start:
            return 8;
        case Type::Data:
            return kMaxData;
        case Type::Done:
        case Type::Proof:
            return kHashSize;
        case Type::Result:
        case Type::PairResult:
            return 1;
        case Type::Decline:
        case Type::Busy:
        case Type::Pause:
        case Type::Resume:
        case Type::Cancel:
        case Type::End:
            return 0;
        case Type::Entries:
            return 1 + kMaxEntriesPiece;
        case Type::Text:
            return kMaxTextBytes;
        case Type::Plan:
            return 4 + kPlanItemSize * kMaxListed;
        case Type::EntryStart:
            return 4 + 4 * kMaxListed;
        case Type::EntryProof:
        case Type::FileDone:
            return 4 + kHashSize;
        case Type::File:
            return 4 + 8;
        case Type::FileSkip:
            return 4;
        case Type::FileResult:
            return 4 + 1;
    }
    return -1;
}

qsizetype minPayload(quint8 type) {
    switch (static_cast<Type>(type)) {
        case Type::Offer:
            return 8 + 2 + 1;
        case Type::Data:
        case Type::Text:
            return 1;
        case Type::Pair:
            return kPairMessageSize;
        case Type::Entries:
            return 2;
        case Type::Plan:
        case Type::EntryStart:
            return 4;
        default:
            return maxPayload(type);
    }
}

QByteArray frame(Type type, QByteArrayView payload) {
    QByteArray out;
    out.reserve(kHeaderSize + payload.size());
    out.append(static_cast<char>(type));
    appendU32(out, static_cast<quint32>(payload.size()));
    out.append(payload);
    return out;
}

QByteArray cutUtf8(QByteArrayView utf8, qsizetype most) {
    if (utf8.size() <= most) {
        return utf8.toByteArray();
    }
    qsizetype end = most;
    // Back to the first byte of a character: continuation bytes are 10xxxxxx.
    while (end > 0 && (static_cast<quint8>(utf8.at(end)) & 0xC0) == 0x80) {
        --end;
    }
    return utf8.first(end).toByteArray();
}

namespace {

// A length byte and the name, cut to kMaxPeerName bytes.
void appendPeerName(QByteArray& out, QByteArrayView utf8) {
    const QByteArray name = cutUtf8(utf8, kMaxPeerName);
    out.append(static_cast<char>(name.size()));
    out.append(name);
}

}  // namespace

QByteArray offer(QByteArrayView utf8Name, qint64 size, std::optional<QByteArrayView> senderName) {
    QByteArray payload;
    appendU64(payload, static_cast<quint64>(size));
    appendU16(payload, static_cast<quint16>(utf8Name.size()));
    payload.append(utf8Name);
    if (senderName) {
        appendPeerName(payload, *senderName);
    }
    return frame(Type::Offer, payload);
}

QByteArray pair(QByteArrayView message, std::optional<QByteArrayView> name) {
    QByteArray payload = message.toByteArray();
    if (name) {
        appendPeerName(payload, *name);
    }
    return frame(Type::Pair, payload);
}

QByteArray pairResult(bool confirmed) {
    const char byte = confirmed ? 1 : 0;
    return frame(Type::PairResult, QByteArrayView(&byte, 1));
}

QByteArray accept(qint64 offset) {
    QByteArray payload;
    appendU64(payload, static_cast<quint64>(offset));
    return frame(Type::Accept, payload);
}

QByteArray start(qint64 offset) {
    QByteArray payload;
    appendU64(payload, static_cast<quint64>(offset));
    return frame(Type::Start, payload);
}

QByteArray done(QByteArrayView hash) {
    return frame(Type::Done, hash);
}

QByteArray result(ResultCode code) {
    const char byte = static_cast<char>(code);
    return frame(Type::Result, QByteArrayView(&byte, 1));
}

QByteArray dataHeader(qsizetype length) {
    QByteArray out;
    out.append(static_cast<char>(Type::Data));
    appendU32(out, static_cast<quint32>(length));
    return out;
}

std::optional<Offer> parseOffer(QByteArrayView payload) {
    if (payload.size() < 10) {
        return std::nullopt;
    }
    const quint64 size = readBig<quint64>(payload.data());
    const quint16 nameLength = readBig<quint16>(payload.data() + 8);
    if (size > quint64(std::numeric_limits<qint64>::max()) || nameLength == 0 ||
        nameLength > kMaxName || payload.size() < 10 + nameLength) {
        return std::nullopt;
    }
    Offer offer{payload.sliced(10, nameLength).toByteArray(), static_cast<qint64>(size), {}};
    const QByteArrayView rest = payload.sliced(10 + nameLength);
    if (!rest.isEmpty()) {
        // The sender's name: its length byte and exactly that many bytes, nothing after.
        const auto length = static_cast<quint8>(rest.front());
        if (length > kMaxPeerName || rest.size() != 1 + length) {
            return std::nullopt;
        }
        offer.senderName = rest.sliced(1).toByteArray();
    }
    return offer;
}

std::optional<Pair> parsePair(QByteArrayView payload) {
    if (payload.size() < kPairMessageSize) {
        return std::nullopt;
    }
    Pair pair{payload.first(kPairMessageSize).toByteArray(), {}};
    const QByteArrayView rest = payload.sliced(kPairMessageSize);
    if (!rest.isEmpty()) {
        const auto length = static_cast<quint8>(rest.front());
        if (length > kMaxPeerName || rest.size() != 1 + length) {
            return std::nullopt;
        }
        pair.name = rest.sliced(1).toByteArray();
    }
    return pair;
}

std::optional<bool> parsePairResult(QByteArrayView payload) {
    if (payload.size() != 1 || static_cast<quint8>(payload.front()) > 1) {
        return std::nullopt;
    }
    return payload.front() == 1;
}

std::optional<qint64> parseOffset(QByteArrayView payload) {
    if (payload.size() != 8) {
        return std::nullopt;
    }
    const quint64 offset = readBig<quint64>(payload.data());
    if (offset > quint64(std::numeric_limits<qint64>::max())) {
        return std::nullopt;
    }
    return static_cast<qint64>(offset);
}

void FrameReader::feed(QByteArrayView bytes) {
    if (m_bad) {
        return;
    }
    if (m_start > 0 && m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    } else if (m_start > kMaxData) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    m_buffer.append(bytes);
}

FrameReader::Status FrameReader::next(Type& type, QByteArray& payload) {
    if (m_bad) {
        return Status::Bad;
    }
    const qsizetype available = m_buffer.size() - m_start;
    if (available < kHeaderSize) {
        return Status::NeedMore;
    }
    const char* header = m_buffer.constData() + m_start;
    const auto rawType = static_cast<quint8>(header[0]);
    const quint32 length = readBig<quint32>(header + 1);
    const qsizetype most = maxPayload(rawType);
    if (most < 0 || qsizetype(length) > most || qsizetype(length) < minPayload(rawType)) {
        m_bad = true;
        m_buffer.clear();
        m_start = 0;
        return Status::Bad;
    }
    if (available < kHeaderSize + qsizetype(length)) {
        return Status::NeedMore;
    }
    type = static_cast<Type>(rawType);
    payload = m_buffer.mid(m_start + kHeaderSize, length);
    m_start += kHeaderSize + length;
    return Status::Frame;
}

}  // namespace lanewire

namespace lanewire {

FrameReader::Read FrameReader::readFrom(
    QIODevice& device, qint64 most,
    const std::function<bool(Type type, const QByteArray& payload)>& handle) {
    // Headers come through the buffer a header's length at a time; a payload is read from
    // the device straight into a buffer of its own, the one handed on.
    qint64 taken = 0;
    while (!m_bad) {
        if (m_payloadType) {
            const qint64 want = std::min<qint64>(m_payload.size() - m_payloadHave, most - taken);
            const qint64 got =
                want > 0 ? device.read(m_payload.data() + m_payloadHave, want) : qint64(0);
            if (got <= 0) {
                break;
            }
            taken += got;
            m_payloadHave += got;
            if (m_payloadHave < m_payload.size()) {
                continue;
            }
            const Type type = *std::exchange(m_payloadType, std::nullopt);
            m_payloadHave = 0;
            if (!handle(type, std::exchange(m_payload, QByteArray()))) {
                return Read::Framed;
            }
            continue;
        }
        if (pending() >= kHeaderSize) {
            Type type{};
            QByteArray payload;
            const Status status = next(type, payload);
            if (status == Status::Bad) {
                break;
            }
            if (status == Status::Frame) {
                if (!handle(type, payload)) {
                    return Read::Framed;
                }
                continue;
            }
            // A valid header whose payload is still to come.
            const char* header = m_buffer.constData() + m_start;
            m_payloadType = static_cast<Type>(header[0]);
            m_payload = QByteArray(readBig<quint32>(header + 1), Qt::Uninitialized);
            m_payloadHave = pending() - kHeaderSize;
            std::copy_n(header + kHeaderSize, m_payloadHave, m_payload.data());
            m_buffer.clear();
            m_start = 0;
            continue;
        }
        const qint64 want = std::min<qint64>(kHeaderSize - pending(), most - taken);
        const QByteArray bytes = want > 0 ? device.read(want) : QByteArray();
        if (bytes.isEmpty()) {
            break;
        }
        taken += bytes.size();
        feed(bytes);
    }
    if (m_bad) {
        return Read::Broken;
    }
    return taken > 0 ? Read::Framed : Read::Nothing;
}

bool FrameReader::drain(const std::function<bool(Type type, const QByteArray& payload)>& handle) {
    Type type{};
    QByteArray payload;
    for (;;) {
        const Status status = next(type, payload);
        if (status != Status::Frame) {
            return status == Status::NeedMore;
        }
        if (!handle(type, payload)) {
            return true;
        }
    }
}

}  // namespace lanewire
