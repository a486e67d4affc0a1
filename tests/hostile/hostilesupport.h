#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

// Small helpers the hostile-peer suite shares: waiting with a deadline, free ports, test
// files and their digests.

// Runs the Qt event loop (so harness output is read) until `done` holds or `timeoutMs`
// passes; true when it held.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

// A TCP port on 127.0.0.1 that nobody listens on right now (asked from the system; never
// the program's own port 9950).
quint16 freeTcpPort();

// Bytes that differ from position to position and from seed to seed, so that a block
// written at the wrong place shows.
QByteArray patternBytes(qint64 size, quint32 seed);
// Writes a file of `size` pattern bytes in pieces, without holding it in memory.
bool writePatternFile(const QString& path, qint64 size, quint32 seed);
bool writeBytes(const QString& path, const QByteArray& bytes);
QByteArray readBytes(const QString& path);
// SHA-256 of a file's content; empty when it cannot be read.
QByteArray sha256OfFile(const QString& path);
qint64 fileSize(const QString& path);  // -1 when there is no such file

// Connections the kernel dropped at a full listen queue, on this host so far (TcpExt
// ListenDrops); -1 when it cannot be told. A peer whose handshake a full queue answered
// with a SYN cookie believes it is connected while the listening side knows nothing of it,
// until the peer sends something.
qint64 listenDrops();

// The test harness program (one real window as a process).
QString harnessProgram();
// Whether this suite was built with AddressSanitizer and UndefinedBehaviorSanitizer; the
// large transfers are scaled down there.
bool sanitizedBuild();
