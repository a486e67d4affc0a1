#pragma once

#include "net/socketconnection.h"

// The connection of the client endpoint: completes a non-blocking connect.
class TClientConnection : public TSocketConnection {
    Q_OBJECT

public:
    explicit TClientConnection(QObject* parent = nullptr);

    TClientType ClientType() const { return m_clientType; }
    // ctBlocking empties the notification set; refused while connected.
    void SetClientType(TClientType type);

protected:
    void HandleConnect(int socket) override;

private:
    TClientType m_clientType = ctNonBlocking;
};
