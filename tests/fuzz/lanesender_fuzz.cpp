// Fuzzes what the sending end of the fast lane makes of the bytes a receiver sends: the
// greeting, then frames (accept, start, decline, busy, pause, resume, cancel, result). An
// offset is never negative, and re-encoding gives back the bytes.

#include <cstddef>
#include <cstdint>

#include "fuzzcheck.h"
#include "lane/lanewire.h"
#include "laneframes.h"

namespace {

void checkFrame(const LaneFrame& frame) {
    if (frame.type == lanewire::Type::Accept || frame.type == lanewire::Type::Start) {
        const auto offset = lanewire::parseOffset(frame.payload);
        FUZZ_CHECK(offset.has_value() ==
                   (frame.payload.size() == 8 && static_cast<quint8>(frame.payload.at(0)) < 0x80));
        if (offset) {
            FUZZ_CHECK(*offset >= 0);
            const QByteArray again = frame.type == lanewire::Type::Accept
                                         ? lanewire::accept(*offset)
                                         : lanewire::start(*offset);
            FUZZ_CHECK(again.sliced(lanewire::kHeaderSize) == frame.payload);
        }
    }
    if (frame.type == lanewire::Type::Result) {
        FUZZ_CHECK(frame.payload.size() == 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzLaneStream(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)),
                   checkFrame);
    return 0;
}
