// Fuzzes what the receiving end of the fast lane makes of the bytes a sender sends: the
// greeting, then frames (offer, data, pause, resume, cancel, done). Offers are parsed and
// their names judged as the receiver judges them; a name let through is in NFC and can only
// name a plain file inside the receive folder, with nothing that makes it look like another, and
// re-encoding an offer gives back its bytes; a sender's name is shown only without control or
// format characters.

#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

#include "fuzzcheck.h"
#include "lane/lanewire.h"
#include "lane/offeredname.h"
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
    const std::optional<QByteArrayView> sender =
        offer->senderName ? std::optional<QByteArrayView>(*offer->senderName) : std::nullopt;
    FUZZ_CHECK(lanewire::offer(offer->name, offer->size, sender).sliced(lanewire::kHeaderSize) ==
               frame.payload);
    if (offer->senderName) {
        // A sender's name is shown only as text that reads as itself.
        const QString shown = shownPeerName(*offer->senderName);
        FUZZ_CHECK(offer->senderName->size() <= lanewire::kMaxPeerName);
        for (const uint u : shown.toUcs4()) {
            FUZZ_CHECK(u >= 0x20 && (u < 0x7F || u > 0x9F));
            FUZZ_CHECK(QChar::category(static_cast<char32_t>(u)) != QChar::Other_Format);
        }
    }
    if (const std::optional<QString> name = offeredFileName(offer->name)) {
        FUZZ_CHECK(*name ==
                   QString::fromUtf8(offer->name).normalized(QString::NormalizationForm_C));
        FUZZ_CHECK(name->toUtf8().size() <= 255);
        FUZZ_CHECK(!name->startsWith(u'.') && !name->contains(u'/') && !name->contains(u'\\'));
        for (const uint u : name->toUcs4()) {
            FUZZ_CHECK(u >= 0x20 && (u < 0x7F || u > 0x9F));
            FUZZ_CHECK(QChar::category(static_cast<char32_t>(u)) != QChar::Other_Format);
            FUZZ_CHECK(u != 0x2028 && u != 0x2029);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzLaneStream(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)),
                   checkFrame);
    return 0;
}
