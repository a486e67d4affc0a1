#include "laneframes.h"

#include <QBuffer>

#include "fuzzcheck.h"
#include "readends.h"

std::vector<LaneFrame> readLaneStream(QByteArrayView stream, const std::vector<qsizetype>& readEnds,
                                      const std::function<void(const LaneFrame&)>& frame) {
    std::vector<LaneFrame> seen;
    // The greeting comes first, whole, and decides whether anything else is read.
    if (stream.size() < lanewire::kGreetingSize ||
        !lanewire::greetingVersion(stream.first(lanewire::kGreetingSize))) {
        return seen;
    }
    lanewire::FrameReader reader;
    qsizetype from = lanewire::kGreetingSize;
    for (const qsizetype end : readEnds) {
        if (end <= from) {
            continue;
        }
        reader.feed(stream.sliced(from, end - from));
        // The reader never holds more than one frame's worth beyond what it was just given.
        FUZZ_CHECK(reader.pending() <= lanewire::kHeaderSize + lanewire::kMaxData + (end - from));
        from = end;
        LaneFrame next;
        for (;;) {
            const auto status = reader.next(next.type, next.payload);
            if (status == lanewire::FrameReader::Status::NeedMore) {
                break;
            }
            if (status == lanewire::FrameReader::Status::Bad) {
                seen.push_back(LaneFrame{true, {}, {}});
                FUZZ_CHECK(reader.bad() && reader.pending() == 0);
                return seen;
            }
            const auto type = static_cast<quint8>(next.type);
            FUZZ_CHECK(lanewire::maxPayload(type) >= 0);
            FUZZ_CHECK(next.payload.size() <= lanewire::maxPayload(type));
            FUZZ_CHECK(next.payload.size() >= lanewire::minPayload(type));
            frame(next);
            seen.push_back(next);
        }
    }
    return seen;
}

std::vector<LaneFrame> readLaneDevice(QByteArrayView stream, const std::vector<qsizetype>& readEnds,
                                      qint64 budget) {
    std::vector<LaneFrame> seen;
    if (stream.size() < lanewire::kGreetingSize ||
        !lanewire::greetingVersion(stream.first(lanewire::kGreetingSize))) {
        return seen;
    }
    // The device holds what has arrived so far; the reader takes from it at most `budget`
    // bytes per call, as a session reads its socket.
    QBuffer device;
    device.open(QIODevice::ReadWrite);
    lanewire::FrameReader reader;
    qsizetype from = lanewire::kGreetingSize;
    for (const qsizetype end : readEnds) {
        if (end <= from) {
            continue;
        }
        const qint64 at = device.pos();
        device.buffer().append(stream.sliced(from, end - from));
        device.seek(at);
        from = end;
        for (;;) {
            const auto read =
                reader.readFrom(device, budget, [&](auto type, const QByteArray& payload) {
                    seen.push_back(LaneFrame{false, type, payload});
                    return true;
                });
            FUZZ_CHECK(reader.pending() <= lanewire::kHeaderSize + lanewire::kMaxData);
            if (read == lanewire::FrameReader::Read::Broken) {
                seen.push_back(LaneFrame{true, {}, {}});
                return seen;
            }
            if (read == lanewire::FrameReader::Read::Nothing) {
                break;
            }
        }
    }
    return seen;
}

void fuzzLaneStream(QByteArrayView input, const std::function<void(const LaneFrame&)>& frame) {
    const auto whole = readLaneStream(input, singleRead(input.size()), frame);
    const auto bytes = readLaneStream(input, oneByteReads(input.size()), frame);
    const auto mixed = readLaneStream(input, hashedReads(input), frame);
    FUZZ_CHECK(whole == bytes);
    FUZZ_CHECK(whole == mixed);
    // Read from a device instead of fed: the same frames, under a small and a large budget.
    FUZZ_CHECK(whole == readLaneDevice(input, hashedReads(input), 3));
    FUZZ_CHECK(whole == readLaneDevice(input, singleRead(input.size()), 1 << 20));
}
