// Fuzzes what the receiver makes of the bytes on its served connection. The input is the
// byte stream a peer sends; it is fed to ReceiverInput three ways (in one read, one byte per
// read, and in reads of lengths drawn from the input), draining next() after each read as the
// read handler does. Every message is checked against the very bytes it was cut from, the
// buffer against its bounds, and the three runs against each other.

#include "decimaltext.h"
#include "fuzzcheck.h"
#include "readends.h"
#include "transfer/protocol.h"
#include "transfer/receiverinput.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

using Kind = ReceiverInput::Kind;

struct Seen {
    ReceiverInput::Message message;
    qsizetype end = 0;  // stream position right behind the message (not kept for Bad)
    QByteArray data;    // a block's data, kept (message.data lives only until the next read)
};

// `span` is stream[start, end): the bytes the message must have been cut from.
void checkAgainstBytes(const ReceiverInput::Message& message, QByteArrayView span) {
    switch (message.kind) {
        case Kind::Pause:
            FUZZ_CHECK(span == "p");
            break;
        case Kind::Resume:
            FUZZ_CHECK(span == "r");
            break;
        case Kind::Offer: {
            // "i|" name "|" digits
            const qsizetype nameSize = message.name.size();
            FUZZ_CHECK(!message.name.contains('|'));
            FUZZ_CHECK(nameSize <= ReceiverInput::kMaxNameBytes);
            FUZZ_CHECK(span.size() >= nameSize + 4);
            FUZZ_CHECK(span.startsWith("i|"));
            FUZZ_CHECK(span.sliced(2, nameSize) == message.name);
            FUZZ_CHECK(span[2 + nameSize] == '|');
            FUZZ_CHECK(message.size >= 0);
            FUZZ_CHECK(decimalValue(span.sliced(3 + nameSize)) == message.size);
            break;
        }
        case Kind::Block: {
            // "d|" index "|" count "|" data, and the count is the size of the data
            const qsizetype dataSize = message.data.size();
            FUZZ_CHECK(dataSize <= kBlockSize);
            FUZZ_CHECK(message.index >= 0 && message.index <= kMaxBlockIndex);
            FUZZ_CHECK(span.size() >= dataSize + 6);
            FUZZ_CHECK(span.endsWith(message.data));
            const QByteArrayView header = span.first(span.size() - dataSize);
            FUZZ_CHECK(header.size() <= ReceiverInput::kMaxBlockHeader);
            FUZZ_CHECK(header.startsWith("d|") && header.endsWith('|'));
            const QByteArrayView numbers = header.sliced(2, header.size() - 3);
            const qsizetype separator = numbers.indexOf('|');
            FUZZ_CHECK(separator > 0);
            FUZZ_CHECK(decimalValue(numbers.first(separator)) == message.index);
            FUZZ_CHECK(decimalValue(numbers.sliced(separator + 1)) == dataSize);
            break;
        }
        case Kind::NeedMore:
        case Kind::Bad:
            FUZZ_CHECK(false);
    }
}

// Feeds `stream` in the reads that end at `readEnds`, draining the input after each read, and
// returns what came out. Aborts as soon as an invariant breaks.
std::vector<Seen> feed(QByteArrayView stream, const std::vector<qsizetype>& readEnds) {
    ReceiverInput input;
    std::vector<Seen> seen;
    qsizetype appended = 0;
    int reads = 0;
    // Where the next message must start: right behind the last one and its filler.
    qsizetype cursor = 0;
    for (const qsizetype readEnd : readEnds) {
        // Every second read goes straight into the input, as from a socket, into more room
        // than it fills.
        const QByteArrayView read = stream.sliced(appended, readEnd - appended);
        if (++reads % 2 == 0) {
            char* room = input.appendSpace(read.size() + 7);
            std::copy(read.begin(), read.end(), room);
            input.commitAppend(read.size());
        } else {
            input.append(read);
        }
        appended = readEnd;
        if (!seen.empty() && seen.back().message.kind == Kind::Bad) {
            // A bad input stays bad and keeps nothing, whatever arrives after.
            FUZZ_CHECK(input.next().kind == Kind::Bad);
            FUZZ_CHECK(input.isBad());
            FUZZ_CHECK(input.bufferedBytes() == 0);
            continue;
        }
        for (;;) {
            ReceiverInput::Message message = input.next();
            if (message.kind == Kind::NeedMore) {
                break;
            }
            if (message.kind == Kind::Bad) {
                FUZZ_CHECK(input.isBad());
                FUZZ_CHECK(input.bufferedBytes() == 0);
                FUZZ_CHECK(input.next().kind == Kind::Bad);
                seen.push_back({std::move(message), 0, {}});
                break;
            }
            FUZZ_CHECK(!input.isBad());
            const qsizetype end = appended - input.bufferedBytes();
            FUZZ_CHECK(end > cursor && end <= appended);
            checkAgainstBytes(message, stream.sliced(cursor, end - cursor));
            // An offer's size ends at the first non-digit or at the end of a read.
            if (message.kind == Kind::Offer && end < stream.size() && isDigit(stream[end])) {
                FUZZ_CHECK(isReadEnd(readEnds, end));
            }
            cursor = end;
            if (message.kind == Kind::Block) {
                cursor += kPayloadSize - message.data.size();
            }
            const QByteArray data = message.data.toByteArray();
            message.data = {};
            seen.push_back({std::move(message), end, data});
        }
        if (input.isBad()) {
            continue;
        }
        // Drained: at most one unfinished message is kept (a block header and less than a
        // block of data is the longest), and it starts exactly where the next message must.
        FUZZ_CHECK(input.bufferedBytes() < ReceiverInput::kMaxBlockHeader + kBlockSize);
        FUZZ_CHECK(input.pendingFiller() >= 0 && input.pendingFiller() <= kPayloadSize);
        FUZZ_CHECK(input.pendingFiller() == 0 || input.bufferedBytes() == 0);
        FUZZ_CHECK(appended - input.bufferedBytes() + input.pendingFiller() == cursor);
    }
    input.reset();
    FUZZ_CHECK(!input.isBad() && input.bufferedBytes() == 0 && input.pendingFiller() == 0);
    input.append("r");
    FUZZ_CHECK(input.next().kind == Kind::Resume);
    return seen;
}

bool sameMessage(const Seen& a, const Seen& b) {
    if (a.message.kind != b.message.kind) {
        return false;
    }
    if (a.message.kind == Kind::Bad) {
        return true;
    }
    return a.end == b.end && a.message.name == b.message.name && a.message.size == b.message.size &&
           a.message.index == b.message.index && a.data == b.data;
}

// Reads may cut the stream anywhere without changing the messages, with one exception the
// framing documents: an offer's size ends at the end of the bytes received so far, so a read
// that ends inside its digits yields the offer with the digits so far, and the next digit is
// then no message at all (bad). Everything before that point must be the same.
void checkSameAsOneRead(QByteArrayView stream, const std::vector<Seen>& whole,
                        const std::vector<Seen>& split, const std::vector<qsizetype>& readEnds) {
    std::size_t k = 0;
    while (k < whole.size() && k < split.size() && sameMessage(whole[k], split[k])) {
        ++k;
    }
    if (k == whole.size() && k == split.size()) {
        return;
    }
    FUZZ_CHECK(k + 2 == split.size());
    const Seen& cut = split[k];
    FUZZ_CHECK(cut.message.kind == Kind::Offer);
    FUZZ_CHECK(cut.end < stream.size() && isDigit(stream[cut.end]));
    FUZZ_CHECK(isReadEnd(readEnds, cut.end));
    FUZZ_CHECK(split[k + 1].message.kind == Kind::Bad);
    // In one read the same offer has more digits, or too many to fit (bad).
    FUZZ_CHECK(k < whole.size());
    const Seen& full = whole[k];
    FUZZ_CHECK(full.message.kind == Kind::Bad ||
               (full.message.kind == Kind::Offer && full.message.name == cut.message.name &&
                full.end > cut.end));
}

// What this program's own block message of `data` becomes at the receiver: the same block,
// with all of its filler taken, whatever the data holds.
void checkOwnBlock(QByteArrayView data) {
    const QByteArrayView block = data.first(std::min<qsizetype>(data.size(), kBlockSize));
    const qint64 index = hashedNumber(data, kMaxBlockIndex);
    ReceiverInput input;
    input.append(BlockMessage(index, block) + PauseNotice());
    const ReceiverInput::Message message = input.next();
    FUZZ_CHECK(message.kind == Kind::Block);
    FUZZ_CHECK(message.index == index && message.data == block);
    FUZZ_CHECK(input.next().kind == Kind::Pause);
    FUZZ_CHECK(input.next().kind == Kind::NeedMore);
    FUZZ_CHECK(input.bufferedBytes() == 0 && input.pendingFiller() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView stream(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::vector<Seen> whole = feed(stream, singleRead(stream.size()));

    const std::vector<qsizetype> bytewise = oneByteReads(stream.size());
    checkSameAsOneRead(stream, whole, feed(stream, bytewise), bytewise);

    const std::vector<qsizetype> mixed = hashedReads(stream);
    checkSameAsOneRead(stream, whole, feed(stream, mixed), mixed);

    checkOwnBlock(stream);
    return 0;
}
