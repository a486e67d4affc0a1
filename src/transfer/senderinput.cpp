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
    m_buffer.remove(0, m_position);
    m_position = 0;
    m_buffer.append(bytes);
}

SenderInput::Message SenderInput::next() {
    if (m_bad) {
        return message(Kind::Bad);
    }
    const QByteArrayView rest = QByteArrayView(m_buffer).sliced(m_position);
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
