#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

// The lane's hash of a file's bytes: BLAKE3, 32 bytes. A running hash: digestSoFar() gives
// the hash of what was added until now and goes on.
class FileHash {
public:
    static constexpr qsizetype kSize = 32;

    FileHash();
    ~FileHash();
    FileHash(const FileHash&) = delete;
    FileHash& operator=(const FileHash&) = delete;

    void add(QByteArrayView bytes);
    QByteArray digestSoFar() const;
    // Starts again from no bytes.
    void reset();

    static QByteArray of(QByteArrayView bytes);

private:
    struct State;
    std::unique_ptr<State> m_state;
};
