#include "transfer/senderinput.h"

#include "transfer/decimalfield.h"
#include "transfer/protocol.h"

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
    m_input.append(bytes);
}

char* SenderInput::appendSpace(qsizetype size) {
    return m_input.appendSpace(size);
}

void SenderInput::commitAppend(qsizetype count) {
    // The input of a bad peer is dropped.
    if (m_bad) {
        m_input.clear();
        return;
    }
    m_input.commitAppend(count);
}

SenderInput::Message SenderInput::next() {
    if (m_bad) {
        return message(Kind::Bad);
    }
    const QByteArrayView rest = m_input.rest();
    if (rest.isEmpty()) {
        return message(Kind::NeedMore);
    }
    switch (rest[0]) {
        case 'p':
            m_input.take(1);
            return message(Kind::Pause);
        case 'o':
            m_input.take(1);
            return message(Kind::Busy);
        case 'f':
            m_input.take(1);
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
    m_input.take(index.end);
    Message request = message(Kind::Request);
    request.index = index.value;
    return request;
}

void SenderInput::reset() {
    m_input.clear();
    m_bad = false;
}

SenderInput::Message SenderInput::fail() {
    m_bad = true;
    m_input.clear();
    return message(Kind::Bad);
}
