#include "lane/filehash.h"

#include <blake3.h>

struct FileHash::State {
    blake3_hasher hasher;
};

FileHash::FileHash() : m_state(std::make_unique<State>()) {
    blake3_hasher_init(&m_state->hasher);
}

FileHash::~FileHash() = default;

void FileHash::add(QByteArrayView bytes) {
    blake3_hasher_update(&m_state->hasher, bytes.data(), static_cast<size_t>(bytes.size()));
}

void FileHash::reset() {
    blake3_hasher_reset(&m_state->hasher);
}

QByteArray FileHash::digestSoFar() const {
    // Finalizing leaves the hasher as it was: more can be added afterwards.
    QByteArray digest(kSize, Qt::Uninitialized);
    blake3_hasher_finalize(&m_state->hasher, reinterpret_cast<uint8_t*>(digest.data()),
                           static_cast<size_t>(kSize));
    return digest;
}

QByteArray FileHash::of(QByteArrayView bytes) {
    FileHash hash;
    hash.add(bytes);
    return hash.digestSoFar();
}
