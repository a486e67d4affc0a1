#include "transfer/inputbuffer.h"

#include <algorithm>

void InputBuffer::append(QByteArrayView bytes) {
    compact();
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

char* InputBuffer::appendSpace(qsizetype size) {
    compact();
    m_spaceAt = qsizetype(m_bytes.size());
    m_spaceSize = std::max<qsizetype>(size, 0);
    m_bytes.resize(size_t(m_spaceAt + m_spaceSize));
    return m_bytes.data() + m_spaceAt;
}

void InputBuffer::commitAppend(qsizetype count) {
    // The room is still there unless the buffer was cleared meanwhile (then nothing is kept).
    if (qsizetype(m_bytes.size()) == m_spaceAt + m_spaceSize) {
        m_bytes.resize(size_t(m_spaceAt + std::clamp<qsizetype>(count, 0, m_spaceSize)));
    }
}

void InputBuffer::clear() {
    m_bytes.clear();
    m_position = 0;
}

void InputBuffer::compact() {
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + m_position);
    m_position = 0;
}
