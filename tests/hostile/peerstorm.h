#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <functional>
#include <vector>

// Many peers at once against one copy, from one thread: connects start at a steady pace,
// and every peer then does what its behaviour says and waits for the copy to close it. All
// sockets are non-blocking and served by one poll loop, so hundreds of peers can be open at
// the same time without a thread each.
class PeerStorm {
public:
    enum class Behaviour {
        Silent,   // connects and sends nothing
        Garbage,  // sends bytes that are no message
        Offers,   // offers a file of its own
        Drops,    // closes (or resets) the connection as soon as it is made
    };

    struct Result {
        Behaviour behaviour = Behaviour::Silent;
        bool connected = false;
        QByteArray received;
        bool closedByCopy = false;
        bool timedOut = false;  // neither closed nor done within the time for one peer
    };

    // Peer n behaves as Behaviour(n % 4). Connects start in bursts of `burst` peers, on
    // average one every `spacingMs`; a peer gives up `peerTimeoutMs` after its connect started.
    PeerStorm(quint16 port, int peers, int burst, int spacingMs, int peerTimeoutMs);
    ~PeerStorm();
    PeerStorm(const PeerStorm&) = delete;
    PeerStorm& operator=(const PeerStorm&) = delete;

    // Runs until every peer is done or `timeoutMs` has passed; true when all are done.
    // `idle` runs between rounds of the poll loop (for the caller's event loop).
    bool run(int timeoutMs, const std::function<void()>& idle);
    const std::vector<Result>& results() const { return m_results; }

private:
    struct Peer {
        int fd = -1;
        bool connecting = false;
        bool done = false;
        qint64 startedMs = 0;
        QByteArray toSend;
    };

    void start(int n);
    void finish(int n);
    void step(int n, short events);

    quint16 m_port;
    int m_burst;
    int m_spacingMs;
    int m_peerTimeoutMs;
    std::vector<Peer> m_peers;
    std::vector<Result> m_results;
};
