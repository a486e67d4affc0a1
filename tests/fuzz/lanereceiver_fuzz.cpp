// Fuzzes what the receiving end of the fast lane makes of the bytes a sender sends: the
// greeting, then frames (offer, data, pause, resume, cancel, done). Offers are parsed and
// their names judged as the receiver judges them; a name let through can only name a plain
// file inside the receive folder, and re-encoding an offer gives back its bytes.

#include <QString>

#include <cstddef>
#include <cstdint>

#include "fuzzcheck.h"
#include "lane/lanewire.h"
#include "laneframes.h"

namespace {

void checkFrame(const LaneFrame& frame) {
    if (frame.type != lanewire::Type::Offer) {
        return;
    }
    const auto offer = lanewire::parseOffer(frame.payload);
    if (!offer) {
        return;
    }
    FUZZ_CHECK(offer->size >= 0);
    FUZZ_CHECK(!offer->name.isEmpty() && offer->name.size() <= lanewire::kMaxName);
    FUZZ_CHECK(lanewire::offer(offer->name, offer->size).sliced(lanewire::kHeaderSize) ==
               frame.payload);
    if (lanewire::isSafeName(offer->name)) {
        const QString name = QString::fromUtf8(offer->name);
        FUZZ_CHECK(name.toUtf8() == offer->name);
        FUZZ_CHECK(!name.startsWith(u'.') && !name.contains(u'/') && !name.contains(u'\\'));
        for (const QChar c : name) {
            FUZZ_CHECK(c.unicode() >= 0x20 && (c.unicode() < 0x7F || c.unicode() > 0x9F));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzLaneStream(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)),
                   checkFrame);
    return 0;
}
