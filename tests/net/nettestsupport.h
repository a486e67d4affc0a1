#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>

#include "net/sockettypes.h"

// Runs the event loop until done() holds or timeoutMs has passed; returns done().
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Runs the event loop for a while, to show that nothing more happens.
void runEventsFor(int ms);
// CPU time (user + system) the process has used, in milliseconds.
double processCpuMs();
// The local port a socket is bound to.
quint16 localPort(int socket);

// A plain POSIX socket for the far end of a test connection.
class RawSocket {
public:
    RawSocket() = default;
    explicit RawSocket(int fd) : m_fd(fd) {}
    RawSocket(RawSocket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    RawSocket& operator=(RawSocket&& other) noexcept;
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;
    ~RawSocket();

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd != -1; }
    void close();
    // Closes with SO_LINGER 0: the peer gets a reset.
    void reset();

    // A system-chosen port on 127.0.0.1 (or another loopback address); listening or only bound
    // (connects to it are refused).
    static RawSocket listening(quint16& port, int backlog = 16,
                               const QByteArray& address = QByteArrayLiteral("127.0.0.1"));
    static RawSocket boundOnly(quint16& port);
    // Blocking connect to 127.0.0.1:port.
    static RawSocket connectTo(quint16 port);
    // Non-blocking connect to 127.0.0.1:port, left to complete on its own.
    static RawSocket startConnect(quint16 port);
    // Accepts one connection, running the event loop meanwhile.
    RawSocket acceptOne(int timeoutMs = 5000) const;

    bool send(const QByteArray& bytes);
    // Non-blocking read of what is there; false once the peer has closed (orderly) or reset.
    QByteArray readAvailable();
    // Reads until count bytes arrived, running the event loop meanwhile.
    QByteArray readExactly(qsizetype count, int timeoutMs = 5000);
    enum class Ending { Open, Orderly, Reset };
    // Runs the event loop until the peer's close shows (all input is read and dropped).
    Ending waitForEnd(int timeoutMs = 5000);

private:
    int m_fd = -1;
};

// Records endpoint events as text, e.g. "connect", "read", "error:3:111", in order.
class EventLog {
public:
    void add(const QString& entry) { m_entries.append(entry); }
    const QStringList& entries() const { return m_entries; }
    int count(const QString& entry) const { return static_cast<int>(m_entries.count(entry)); }
    void clear() { m_entries.clear(); }
    QString text() const { return m_entries.join(QLatin1Char(' ')); }

private:
    QStringList m_entries;
};

QString errorEntry(TErrorEvent kind, int code);

// Readable values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out) {
    PrintTo(list.join(QLatin1Char(' ')), out);
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"' << bytes.left(200).toStdString() << (bytes.size() > 200 ? "...\"" : "\"");
}
