#pragma once

#include <QtGlobal>

#include <optional>

#include "hostilepeer.h"

// A listening socket on 127.0.0.1 for a copy to connect to, so that a HostilePeer can play
// the receiving side against a sending copy.
class PeerListener {
public:
    PeerListener();  // listens on a free port
    ~PeerListener();
    PeerListener(const PeerListener&) = delete;
    PeerListener& operator=(const PeerListener&) = delete;

    bool isListening() const { return m_fd >= 0; }
    quint16 port() const { return m_port; }
    // The next connection, or nullopt when none came within `timeoutMs`.
    std::optional<HostilePeer> accept(int timeoutMs = 10000);

private:
    int m_fd = -1;
    quint16 m_port = 0;
};
