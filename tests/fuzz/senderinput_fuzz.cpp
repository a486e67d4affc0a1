// Fuzzes what the sender makes of the bytes the receiver sends back. The input is the byte
// stream; it is fed to SenderInput three ways (in one read, one byte per read, and in reads of
// lengths drawn from the input), draining next() after each read as the read handler does.
// Every message is checked against the bytes it was cut from, the buffer against its bound,
// and the three runs against each other.

#include "decimaltext.h"
#include "fuzzcheck.h"
#include "readends.h"
#include "transfer/protocol.h"
#include "transfer/senderinput.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using Kind = SenderInput::Kind;

struct Seen {
    SenderInput::Message message;
    qsizetype end = 0;  // stream position right behind the message (not kept for Bad)
};

// `span` is stream[start, end): the bytes the message must have been cut from.
void checkAgainstBytes(const SenderInput::Message& message, QByteArrayView span) {
    switch (message.kind) {
        case Kind::Pause:
            FUZZ_CHECK(span == "p");
            break;
        case Kind::Busy:
            FUZZ_CHECK(span == "o");
            break;
        case Kind::Finished:
            FUZZ_CHECK(span == "f");
            break;
        case Kind::Request:
            FUZZ_CHECK(message.index >= 0 && message.index <= kMaxBlockIndex);
            FUZZ_CHECK(span.startsWith("a|"));
            FUZZ_CHECK(decimalValue(span.sliced(2)) == message.index);
            break;
        case Kind::NeedMore:
        case Kind::Bad:
            FUZZ_CHECK(false);
    }
}

// Feeds `stream` in the reads that end at `readEnds`, draining the input after each read, and
// returns what came out. Aborts as soon as an invariant breaks.
std::vector<Seen> feed(QByteArrayView stream, const std::vector<qsizetype>& readEnds) {
    SenderInput input;
    std::vector<Seen> seen;
    qsizetype appended = 0;
    int reads = 0;
    qsizetype cursor = 0;  // where the next message must start
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
            const SenderInput::Message message = input.next();
            if (message.kind == Kind::NeedMore) {
                break;
            }
            if (message.kind == Kind::Bad) {
                FUZZ_CHECK(input.isBad());
                FUZZ_CHECK(input.bufferedBytes() == 0);
                FUZZ_CHECK(input.next().kind == Kind::Bad);
                seen.push_back({message, 0});
                break;
            }
            FUZZ_CHECK(!input.isBad());
            const qsizetype end = appended - input.bufferedBytes();
            FUZZ_CHECK(end > cursor && end <= appended);
            checkAgainstBytes(message, stream.sliced(cursor, end - cursor));
            // An index ends at the first non-digit or at the end of a read.
            if (message.kind == Kind::Request && end < stream.size() && isDigit(stream[end])) {
                FUZZ_CHECK(isReadEnd(readEnds, end));
            }
            cursor = end;
            seen.push_back({message, end});
        }
        if (input.isBad()) {
            continue;
        }
        // Drained: what is kept is the start of one request ("a" or "a|"), where the next
        // message starts.
        FUZZ_CHECK(input.bufferedBytes() <= 2);
        FUZZ_CHECK(appended - input.bufferedBytes() == cursor);
    }
    input.reset();
    FUZZ_CHECK(!input.isBad() && input.bufferedBytes() == 0);
    input.append("f");
    FUZZ_CHECK(input.next().kind == Kind::Finished);
    return seen;
}

bool sameMessage(const Seen& a, const Seen& b) {
    if (a.message.kind != b.message.kind) {
        return false;
    }
    return a.message.kind == Kind::Bad || (a.end == b.end && a.message.index == b.message.index);
}

// Reads may cut the stream anywhere without changing the messages, with one exception the
// framing documents: an index ends at the end of the bytes received so far, so a read that
// ends inside its digits yields the request with the digits so far, and the next digit is
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
    FUZZ_CHECK(cut.message.kind == Kind::Request);
    FUZZ_CHECK(cut.end < stream.size() && isDigit(stream[cut.end]));
    FUZZ_CHECK(isReadEnd(readEnds, cut.end));
    FUZZ_CHECK(split[k + 1].message.kind == Kind::Bad);
    // In one read the same request has more digits, or too many to be an index (bad).
    FUZZ_CHECK(k < whole.size());
    const Seen& full = whole[k];
    FUZZ_CHECK(full.message.kind == Kind::Bad ||
               (full.message.kind == Kind::Request && full.end > cut.end));
}

// What the sender makes of this program's own request for any block index.
void checkOwnRequest(qint64 index) {
    SenderInput input;
    input.append(BlockRequest(index) + FinishedNotice());
    const SenderInput::Message message = input.next();
    FUZZ_CHECK(message.kind == Kind::Request && message.index == index);
    FUZZ_CHECK(input.next().kind == Kind::Finished);
    FUZZ_CHECK(input.next().kind == Kind::NeedMore && input.bufferedBytes() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView stream(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::vector<Seen> whole = feed(stream, singleRead(stream.size()));

    const std::vector<qsizetype> bytewise = oneByteReads(stream.size());
    checkSameAsOneRead(stream, whole, feed(stream, bytewise), bytewise);

    const std::vector<qsizetype> mixed = hashedReads(stream);
    checkSameAsOneRead(stream, whole, feed(stream, mixed), mixed);

    checkOwnRequest(hashedNumber(stream, kMaxBlockIndex));
    return 0;
}
