#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <vector>

// The bytes of a peer that a framing has not taken yet. A read goes straight into its
// storage (appendSpace, then commitAppend); what was taken is dropped before the next read
// comes in, so the storage holds little more than one incomplete message and is reused.
class InputBuffer {
public:
    void append(QByteArrayView bytes);
    // Room for up to `size` bytes at the end, then commitAppend() with the count actually put
    // there (0 when nothing was read). A clear() in between drops the room as well.
    char* appendSpace(qsizetype size);
    void commitAppend(qsizetype count);

    // What has not been taken yet; valid until the buffer is next changed.
    QByteArrayView rest() const {
        return QByteArrayView(m_bytes.data(), qsizetype(m_bytes.size())).sliced(m_position);
    }
    qsizetype size() const { return qsizetype(m_bytes.size()) - m_position; }
    // Marks the first `count` bytes of rest() as taken.
    void take(qsizetype count) { m_position += count; }
    void clear();

private:
    void compact();

    std::vector<char> m_bytes;
    qsizetype m_position = 0;   // where rest() starts
    qsizetype m_spaceAt = 0;    // where appendSpace() made room,
    qsizetype m_spaceSize = 0;  // and how much
};
