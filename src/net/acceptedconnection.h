#pragma once

#include "net/socketconnection.h"

class TListener;

// One connection accepted by a listener. It is in the listener's list from construction until
// its destruction, which the listener posts after the connection has closed.
class TAcceptedConnection : public TSocketConnection {
    Q_OBJECT

public:
    // Adds itself to the end of the listener's list and takes the listener's relays as hooks.
    TAcceptedConnection(int socketHandle, TListener* listener);
    ~TAcceptedConnection() override;

    TListener* Listener() const { return m_listener; }
    // Called by the listener once the object is complete: peer address, notifications, and the
    // connect event (OnClientConnect).
    void Start(const in_addr& peer);

protected:
    void DetachFromOwner() override;

private:
    TListener* m_listener;
};
