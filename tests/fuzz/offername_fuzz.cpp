// Fuzzes file names on their way between the wire and the file system. The input is used
// three ways: as a stream a peer sends (every offer ReceiverInput cuts from it), as a wire
// name on its own, and as a local file name (its bytes read as UTF-8 and as UTF-16) that
// this program would offer.

#include "fuzzcheck.h"
#include "readends.h"
#include "transfer/protocol.h"
#include "transfer/receiverinput.h"
#include "transfer/wirename.h"

#include <QByteArray>
#include <QDir>
#include <QLatin1String>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// The receive folder as the receiver holds it: with a final "/".
const QLatin1String kReceiveFolder("/receive/");

// A byte that toWireName never puts on the wire: the separators, the control characters and
// the bytes Windows-1252 leaves unassigned.
bool isRefusedWireByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F || byte == 0x81 || byte == 0x8D || byte == 0x8F ||
           byte == 0x90 || byte == 0x9D || byte == '|' || byte == '/' || byte == '\\';
}

void checkWireName(QByteArrayView wire) {
    const QString local = fromWireName(wire);
    // One character per byte, all of them in the Basic Multilingual Plane.
    FUZZ_CHECK(local.size() == wire.size());

    // Back to the wire, every byte stays as it was except the refused ones, which become "_".
    // This is the round trip of a received file offered on: a safe name without "|" comes
    // back byte for byte.
    const QByteArray again = toWireName(local);
    FUZZ_CHECK(again.size() == wire.size());
    for (qsizetype i = 0; i < wire.size(); ++i) {
        FUZZ_CHECK(again[i] == (isRefusedWireByte(wire[i]) ? '_' : wire[i]));
    }

    if (!isSafeOfferedName(wire)) {
        return;
    }
    // A safe name is one plain file name: joined to the receive folder it stays there.
    FUZZ_CHECK(!local.isEmpty());
    FUZZ_CHECK(local != QLatin1String(".") && local != QLatin1String(".."));
    FUZZ_CHECK(!local.contains(u'/') && !local.contains(u'\\') && !local.contains(QChar(0)));
    for (const QChar c : local) {
        FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F);
        FUZZ_CHECK(c.unicode() < 0x80 || c.unicode() > 0x9F);
        FUZZ_CHECK(c != QChar::ReplacementCharacter);
    }
    const QString path = kReceiveFolder + local;
    FUZZ_CHECK(QDir::cleanPath(path) == path);
}

// What the receiver makes of this program's offer of `wire`.
void checkOfferOf(const QByteArray& wire, qint64 size) {
    const QByteArray offer = OfferMessage(wire, size);
    ReceiverInput input;
    input.append(offer);
    const ReceiverInput::Message message = input.next();
    FUZZ_CHECK(message.kind == ReceiverInput::Kind::Offer);
    FUZZ_CHECK(message.name == wire && message.size == size);
    FUZZ_CHECK(input.next().kind == ReceiverInput::Kind::NeedMore);
    FUZZ_CHECK(input.bufferedBytes() == 0);

    if (wire.isEmpty()) {
        return;  // "i||5": a "|" right after another is no separator for SplitField
    }
    QByteArray text = offer;
    FUZZ_CHECK(SplitField(text) == "i");
    FUZZ_CHECK(SplitField(text) == wire);
    FUZZ_CHECK(SplitField(text) == QByteArray::number(size));
    FUZZ_CHECK(text.isEmpty());
}

void checkLocalName(const QString& local, qint64 size) {
    const QByteArray wire = toWireName(local);
    for (const char c : wire) {
        FUZZ_CHECK(!isRefusedWireByte(c));
    }
    // So whatever this program offers is safe unless it is no file name at all or a hidden
    // one.
    const bool noFileName = wire.isEmpty() || wire.startsWith('.');
    FUZZ_CHECK(isSafeOfferedName(wire) == !noFileName);
    FUZZ_CHECK(toWireName(fromWireName(wire)) == wire);
    if (wire.size() <= ReceiverInput::kMaxNameBytes) {
        checkOfferOf(wire, size);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    // Offers cut from a peer's stream: a name never holds "|", and is checked as a wire name.
    ReceiverInput input;
    input.append(bytes);
    for (ReceiverInput::Message message = input.next();
         message.kind != ReceiverInput::Kind::NeedMore && message.kind != ReceiverInput::Kind::Bad;
         message = input.next()) {
        if (message.kind == ReceiverInput::Kind::Offer) {
            FUZZ_CHECK(!message.name.contains('|'));
            checkWireName(message.name);
        }
    }

    checkWireName(bytes);

    const qint64 offeredSize = hashedNumber(bytes, std::numeric_limits<qint64>::max());
    checkLocalName(QString::fromUtf8(bytes), offeredSize);
    // UTF-16 straight from the bytes, so unpaired surrogates and every BMP character occur.
    QString utf16(bytes.size() / 2, Qt::Uninitialized);
    if (!utf16.isEmpty()) {
        std::memcpy(utf16.data(), bytes.data(), static_cast<std::size_t>(utf16.size()) * 2);
    }
    checkLocalName(utf16, 0);
    checkLocalName(utf16.left(4), std::numeric_limits<qint64>::max());
    return 0;
}
