#include "transfer/senderinput.h"

#include "transfer/decimalfield.h"
#include "transfer/protocol.h"

#include <algorithm>

namespace {

SenderInput::Message message(SenderInput::Kind kind) {
    SenderInput::Message result;
    result.kind = kind;
    return result;
}

}  // namespace

void SenderInput::append(QByteArrayView bytes) {
    if (m_bad || bytes.isEmpty()) {
        return;
    }
    compact();
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

char* SenderInput::appendSpace(qsizetype size) {
    compact();
    m_spaceAt = qsizetype(m_buffer.size());
    m_spaceSize = std::max<qsizetype>(size, 0);
    m_buffer.resize(size_t(m_spaceAt + m_spaceSize));
    return m_buffer.data() + m_spaceAt;
}

void SenderInput::commitAppend(qsizetype count) {
    // The input of a bad peer is dropped.
    if (m_bad) {
        m_buffer.clear();
        return;
    }
    // The room is still there unless the input was reset meanwhile (then nothing is kept).
    if (qsizetype(m_buffer.size()) == m_spaceAt + m_spaceSize) {
        m_buffer.resize(size_t(m_spaceAt + std::clamp<qsizetype>(count, 0, m_spaceSize)));
    }
}

void SenderInput::compact() {
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + m_position);
    m_position = 0;
}

SenderInput::Message SenderInput::next() {
    if (m_bad) {
        return message(Kind::Bad);
    }
    const QByteArrayView rest =
        QByteArrayView(m_buffer.data(), qsizetype(m_buffer.size())).sliced(m_position);
    if (rest.isEmpty()) {
        return message(Kind::NeedMore);
    }
    switch (rest[0]) {
        case 'p':
            ++m_position;
            return message(Kind::Pause);
        case 'o':
            ++m_position;
            return message(Kind::Busy);
        case 'f':
            ++m_position;
            return message(Kind::Finished);
        case 'a':
            break;
        default:
            return fail();
    }
    if (rest.size() < 3) {
        // "a" or "a|": the index has not arrived yet.
        return rest.size() == 2 && rest[1] != '|' ? fail() : message(Kind::NeedMore);
    }
    if (rest[1] != '|') {
        return fail();
    }
    const DecimalField index = DecimalField::scan(rest, 2, kMaxBlockIndex);
    if (index.status != DecimalField::Status::Number) {
        return fail();
    }
    m_position += index.end;
    Message request = message(Kind::Request);
    request.index = index.value;
    return request;
}

void SenderInput::reset() {
    m_buffer.clear();
    m_position = 0;
    m_bad = false;
}

SenderInput::Message SenderInput::fail() {
    m_bad = true;
    m_buffer.clear();
    m_position = 0;
    return message(Kind::Bad);
}
