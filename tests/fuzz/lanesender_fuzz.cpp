// Fuzzes what the sending end of the fast lane makes of the bytes a receiver sends: the
// greeting, then frames (accept, decline, busy, pause, resume, cancel, result). An accepted
// offset is never negative, its hash is whole, and re-encoding gives back the bytes.

#include <cstddef>
#include <cstdint>

#include "fuzzcheck.h"
#include "lane/lanewire.h"
#include "laneframes.h"

namespace {

void checkFrame(const LaneFrame& frame) {
    if (frame.type == lanewire::Type::Accept) {
        const auto accepted = lanewire::parseAccept(frame.payload);
        FUZZ_CHECK(accepted.has_value() == (frame.payload.size() == 8 + lanewire::kHashSize &&
                                            static_cast<quint8>(frame.payload.at(0)) < 0x80));
        if (accepted) {
            FUZZ_CHECK(accepted->offset >= 0);
            FUZZ_CHECK(accepted->hash.size() == lanewire::kHashSize);
            FUZZ_CHECK(
                lanewire::accept(accepted->offset, accepted->hash).sliced(lanewire::kHeaderSize) ==
                frame.payload);
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
