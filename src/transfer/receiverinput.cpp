#include "transfer/receiverinput.h"

#include "transfer/decimalfield.h"
#include "transfer/protocol.h"

#include <algorithm>
#include <limits>

namespace {

ReceiverInput::Message message(ReceiverInput::Kind kind) {
    ReceiverInput::Message result;
    result.kind = kind;
    return result;
}

}  // namespace

void ReceiverInput::append(QByteArrayView bytes) {
    if (m_bad) {
        return;
    }
    if (m_input.size() == 0 && m_fillerToSkip > 0) {
        // Late filler is dropped before it is ever copied.
        const qint64 skipped = std::min<qint64>(m_fillerToSkip, bytes.size());
        m_fillerToSkip -= skipped;
        bytes = bytes.sliced(skipped);
    }
    m_input.append(bytes);
}

char* ReceiverInput::appendSpace(qsizetype size) {
    return m_input.appendSpace(size);
}

void ReceiverInput::commitAppend(qsizetype count) {
    // Late filler that came with it is skipped by next(). The input of a bad peer is
    // dropped.
    if (m_bad) {
        m_input.clear();
        return;
    }
    m_input.commitAppend(count);
}

ReceiverInput::Message ReceiverInput::next() {
    if (m_bad) {
        return message(Kind::Bad);
    }
    const qint64 skipped = std::min<qint64>(m_fillerToSkip, m_input.size());
    m_input.take(skipped);
    m_fillerToSkip -= skipped;

    const QByteArrayView rest = m_input.rest();
    if (rest.isEmpty()) {
        return message(Kind::NeedMore);
    }
    switch (rest[0]) {
        case 'p':
            m_input.take(1);
            return message(Kind::Pause);
        case 'r':
            m_input.take(1);
            return message(Kind::Resume);
        case 'i':
            return parseOffer(rest);
        case 'd':
            return parseBlock(rest);
        default:
            return fail();
    }
}

void ReceiverInput::reset() {
    m_input.clear();
    m_fillerToSkip = 0;
    m_bad = false;
}

ReceiverInput::Message ReceiverInput::parseOffer(QByteArrayView rest) {
    if (rest.size() < 2) {
        return message(Kind::NeedMore);
    }
    if (rest[1] != '|') {
        return fail();
    }
    const qsizetype nameEnd = rest.indexOf('|', 2);
    if (nameEnd < 0) {
        return rest.size() - 2 > kMaxNameBytes ? fail() : message(Kind::NeedMore);
    }
    if (nameEnd - 2 > kMaxNameBytes) {
        return fail();
    }
    if (nameEnd + 1 == rest.size()) {
        // "i|name|": the size has not arrived yet.
        return message(Kind::NeedMore);
    }
    const DecimalField size =
        DecimalField::scan(rest, nameEnd + 1, std::numeric_limits<qint64>::max());
    if (size.status != DecimalField::Status::Number) {
        return fail();
    }
    Message offer = message(Kind::Offer);
    offer.name = rest.sliced(2, nameEnd - 2).toByteArray();
    offer.size = size.value;
    m_input.take(size.end);
    return offer;
}

ReceiverInput::Message ReceiverInput::parseBlock(QByteArrayView rest) {
    // rest = "d|" index "|" count "|" payload...
    const QByteArrayView head = rest.first(std::min(rest.size(), kMaxBlockHeader));
    if (head.size() < 2) {
        return message(Kind::NeedMore);
    }
    if (head[1] != '|') {
        return fail();
    }
    const DecimalField index = DecimalField::scan(head, 2, kMaxBlockIndex);
    if (index.status == DecimalField::Status::TooLarge) {
        return fail();
    }
    if (index.end == head.size()) {
        return head.size() < kMaxBlockHeader ? message(Kind::NeedMore) : fail();
    }
    if (index.status == DecimalField::Status::NoDigits || head[index.end] != '|') {
        return fail();
    }
    const DecimalField count = DecimalField::scan(head, index.end + 1, kBlockSize);
    if (count.status == DecimalField::Status::TooLarge) {
        return fail();
    }
    if (count.end == head.size()) {
        return head.size() < kMaxBlockHeader ? message(Kind::NeedMore) : fail();
    }
    if (count.status == DecimalField::Status::NoDigits || head[count.end] != '|') {
        return fail();
    }
    const qsizetype payloadStart = count.end + 1;
    if (rest.size() - payloadStart < count.value) {
        return message(Kind::NeedMore);
    }
    Message block = message(Kind::Block);
    block.index = index.value;
    block.data = rest.sliced(payloadStart, count.value);
    m_input.take(payloadStart + count.value);
    m_fillerToSkip = kPayloadSize - count.value;
    return block;
}

ReceiverInput::Message ReceiverInput::fail() {
    m_bad = true;
    m_input.clear();
    m_fillerToSkip = 0;
    return message(Kind::Bad);
}
