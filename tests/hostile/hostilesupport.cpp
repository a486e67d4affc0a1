#include "hostilesupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

quint16 freeTcpPort() {
    for (;;) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        quint16 port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
        ::close(fd);
        if (port != 0 && port != 9950) {
            return port;
        }
    }
}

QByteArray patternBytes(qint64 size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 1;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x >> 3);
    }
    return bytes;
}

bool writePatternFile(const QString& path, qint64 size, quint32 seed) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    constexpr qint64 kPiece = 1 << 20;
    for (qint64 done = 0; done < size; done += kPiece) {
        const QByteArray piece =
            patternBytes(std::min(kPiece, size - done), seed + static_cast<quint32>(done / kPiece));
        if (file.write(piece) != piece.size()) {
            return false;
        }
    }
    return true;
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray sha256OfFile(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        return QByteArray();
    }
    return hash.result().toHex();
}

qint64 fileSize(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}

qint64 listenDrops() {
    QFile file(QStringLiteral("/proc/net/netstat"));
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    // Pairs of lines: "TcpExt: <names>" then "TcpExt: <values>".
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QList<QByteArray> names = lines[i].simplified().split(' ');
        const QList<QByteArray> values = lines[i + 1].simplified().split(' ');
        if (names.value(0) == "TcpExt:" && values.value(0) == "TcpExt:") {
            const qsizetype at = names.indexOf("ListenDrops");
            return at > 0 && at < values.size() ? values[at].toLongLong() : -1;
        }
    }
    return -1;
}

QString harnessProgram() {
    return QStringLiteral(RUVO_HARNESS_PATH);
}

bool sanitizedBuild() {
#ifdef RUVO_HOSTILE_SANITIZED
    return true;
#else
    return false;
#endif
}
