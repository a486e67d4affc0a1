#pragma once

#include "net/customendpoint.h"
#include "net/listener.h"

class TAcceptedConnection;

// Listens on every local address at Port (or Service) with backlog 5 through its listener,
// which owns the accepted connections.
class TCustomServerEndpoint : public TCustomEndpoint {
    Q_OBJECT

public:
    explicit TCustomServerEndpoint(QObject* parent = nullptr);
    // Stops listening; accepted connections are destroyed without events.
    ~TCustomServerEndpoint() override;

    TListener* Listener() const { return m_listener; }
    // Counts a closed connection until its posted destruction has run.
    int ConnectionCount() const { return m_listener->ConnectionCount(); }
    TAcceptedConnection* ConnectionAt(int index) const { return m_listener->ConnectionAt(index); }

protected:
    // Listening fires OnListen and is complete before SetActive returns; a failure (the port is
    // taken: "bind") raises ESocketError to the caller and Active stays false.
    void ApplyActive(bool value) override;

private:
    TListener* m_listener;
};
