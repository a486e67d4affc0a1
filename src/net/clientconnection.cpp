#include "net/clientconnection.h"

TClientConnection::TClientConnection(QObject* parent) : TSocketConnection(-1, parent) {}

void TClientConnection::SetClientType(TClientType type) {
    if (type == m_clientType)
        return;
    if (IsConnected())
        throw ESocketError("Can't change value while socket is active");
    m_clientType = type;
    SetNotificationSet(type == ctBlocking ? 0 : kConnectionNotificationSet);
}

void TClientConnection::HandleConnect(int socket) {
    if (socket == -1 || socket != SocketHandle())
        return;
    SetConnected(true);
    NotifyEvent(this, skConnect);
}
