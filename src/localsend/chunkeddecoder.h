#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace localsend {

// Reads a body in HTTP's chunked transfer coding as it arrives, in pieces of any size, and
// gives back its data. Chunk extensions and trailer fields are read and dropped. Bounded:
// a size line longer than kMaxLine or trailers longer than kMaxTrailer make the body bad,
// so that a peer cannot make the decoder hold more than a few KiB of its own.
class ChunkedDecoder {
public:
    static constexpr qsizetype kMaxLine = 1024;
    static constexpr qsizetype kMaxTrailer = 8 * 1024;

    // Decodes from `input`, appending data to `out`; returns the bytes of `input` used. It
    // stops at the end of the body (the rest of `input` belongs to what follows) or at the
    // first fault.
    qsizetype feed(QByteArrayView input, QByteArray& out);

    bool done() const { return m_state == State::Done; }
    bool bad() const { return m_state == State::Bad; }

private:
    enum class State { Size, Data, DataEnd, Trailer, Done, Bad };

    bool takeSizeLine();

    State m_state = State::Size;
    QByteArray m_line;  // what has come so far of a size or trailer line
    qint64 m_left = 0;  // data bytes of the current chunk still to come
    qsizetype m_trailerBytes = 0;
};

}  // namespace localsend
