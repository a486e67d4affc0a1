#include "localsend/chunkeddecoder.h"

namespace localsend {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

// The size line without its CR LF: hex digits, then optionally blanks and ";extensions".
bool ChunkedDecoder::takeSizeLine() {
    QByteArrayView line(m_line);
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    qint64 size = 0;
    qsizetype digits = 0;
    for (; digits < line.size(); ++digits) {
        const int value = hexValue(line[digits]);
        if (value < 0) {
            break;
        }
        if (digits == 15) {
            return false;  // past what a file size can be
        }
        size = size * 16 + value;
    }
    if (digits == 0) {
        return false;
    }
    const QByteArrayView rest = line.sliced(digits);
    if (!rest.isEmpty() && rest.front() != ';' && rest.front() != ' ' && rest.front() != '\t') {
        return false;
    }
    m_left = size;
    return true;
}

qsizetype ChunkedDecoder::feed(QByteArrayView input, QByteArray& out) {
    qsizetype at = 0;
    while (at < input.size() && m_state != State::Done && m_state != State::Bad) {
        switch (m_state) {
            case State::Size:
            case State::Trailer: {
                const qsizetype lf = input.indexOf('\n', at);
                const qsizetype end = lf < 0 ? input.size() : lf;
                m_line.append(input.sliced(at, end - at));
                if (m_state == State::Trailer) {
                    m_trailerBytes += end - at + 1;
                }
                if (m_line.size() > kMaxLine || m_trailerBytes > kMaxTrailer) {
                    m_state = State::Bad;
                    break;
                }
                at = lf < 0 ? input.size() : lf + 1;
                if (lf < 0) {
                    break;
                }
                if (m_state == State::Trailer) {
                    const bool empty = m_line.isEmpty() || m_line == "\r";
                    m_line.clear();
                    if (empty) {
                        m_state = State::Done;
                    }
                    break;
                }
                if (!takeSizeLine()) {
                    m_state = State::Bad;
                    break;
                }
                m_line.clear();
                m_state = m_left == 0 ? State::Trailer : State::Data;
                break;
            }
            case State::Data: {
                const qsizetype n = qsizetype(qMin<qint64>(m_left, input.size() - at));
                out.append(input.sliced(at, n));
                at += n;
                m_left -= n;
                if (m_left == 0) {
                    m_state = State::DataEnd;
                }
                break;
            }
            case State::DataEnd: {
                // CR LF after the data (a bare LF is taken too).
                const char c = input[at++];
                if (c == '\r' && m_line.isEmpty()) {
                    m_line = "\r";
                } else if (c == '\n') {
                    m_line.clear();
                    m_state = State::Size;
                } else {
                    m_state = State::Bad;
                }
                break;
            }
            case State::Done:
            case State::Bad:
                break;
        }
    }
    return at;
}

}  // namespace localsend
