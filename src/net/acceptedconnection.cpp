#include "net/acceptedconnection.h"

#include "net/listener.h"

TAcceptedConnection::TAcceptedConnection(int socketHandle, TListener* listener)
    : TSocketConnection(socketHandle, nullptr), m_listener(listener) {
    m_listener->AddConnection(this);
    if (m_listener->NotificationSet() != 0) {
        EventHook = [listener](TSocketConnection*, TSocketConnection* socket,
                               TSocketEventKind kind) { listener->ClientEvent(socket, kind); };
        ErrorHook = [listener](TSocketConnection*, TSocketConnection* socket, TErrorEvent kind,
                               int& code) { listener->ClientError(socket, kind, code); };
    }
}

TAcceptedConnection::~TAcceptedConnection() {
    EventHook = nullptr;
    DetachFromOwner();
}

void TAcceptedConnection::Start(const in_addr& peer) {
    BeginAccepted(peer);
    if (IsConnected())
        NotifyEvent(this, skConnect);
}

void TAcceptedConnection::DetachFromOwner() {
    if (m_listener != nullptr) {
        m_listener->RemoveConnection(this);
        m_listener = nullptr;
    }
}
