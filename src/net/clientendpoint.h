#pragma once

#include "net/clientconnection.h"
#include "net/customendpoint.h"

// Connects out to Host (resolved asynchronously) or to Address (dotted IPv4) at Port or
// Service. Setting Active to true fires OnLookup and OnConnecting before it returns; Active
// becomes true with OnConnect, false with OnDisconnect.
class TClientEndpoint : public TCustomEndpoint {
    Q_OBJECT

public:
    explicit TClientEndpoint(QObject* parent = nullptr);
    // Closes an open socket without OnDisconnect.
    ~TClientEndpoint() override;

    using TAbstractEndpoint::Address;
    using TAbstractEndpoint::Host;
    using TAbstractEndpoint::SetAddress;
    using TAbstractEndpoint::SetHost;

    TClientType ClientType() const { return m_connection->ClientType(); }
    void SetClientType(TClientType type) { m_connection->SetClientType(type); }
    TClientConnection* Connection() const { return m_connection; }

protected:
    void ApplyActive(bool value) override;

private:
    TClientConnection* m_connection;
};
