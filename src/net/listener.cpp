#include "net/listener.h"

#include <QMutexLocker>
#include <QPointer>

#include <unistd.h>

#include <stdexcept>

#include "net/acceptedconnection.h"
#include "net/uncaughtexceptions.h"

TListener::TListener(QObject* parent) : TSocketConnection(-1, parent) {
    SetNotificationSet(FD_ACCEPT);
}

TListener::~TListener() {
    EventHook = nullptr;
    try {
        if (IsConnected())
            HandleClose(SocketHandle());
        DestroyConnections();
    } catch (...) {
        reportUncaughtException(std::current_exception());
    }
}

void TListener::SetServerType(TServerType type) {
    if (type == m_serverType)
        return;
    if (IsConnected())
        throw ESocketError("Can't change value while socket is active");
    m_serverType = type;
    SetNotificationSet(type == stThreadBlocking ? 0 : FD_ACCEPT);
}

TAcceptedConnection* TListener::ConnectionAt(int index) const {
    if (index < 0 || index >= m_connections.size())
        throw std::out_of_range(
            QString::asprintf("List index out of bounds (%d)", index).toStdString());
    return m_connections.at(index);
}

void TListener::HandleAccept(int socket) {
    if (socket == -1 || socket != SocketHandle())
        return;
    sockaddr_in peer{};
    const int handle = AcceptNext(peer);
    if (handle == -1)
        return;
    TAcceptedConnection* connection = nullptr;
    try {
        connection = MakeClientConnection(handle);
    } catch (...) {
        ::close(handle);
        throw;
    }
    QPointer<TAcceptedConnection> guard(connection);
    connection->Start(peer.sin_addr);
    if (guard)
        NotifyEvent(guard, skAccept);
}

TAcceptedConnection* TListener::MakeClientConnection(int socket) {
    TAcceptedConnection* connection = nullptr;
    if (OnGetSocket) {
        const TGetSocketEvent handler = OnGetSocket;
        handler(this, socket, connection);
    }
    if (connection == nullptr)
        connection = new TAcceptedConnection(socket, this);
    return connection;
}

void TListener::HandleClose(int socket) {
    AcquireLock();
    try {
        DestroyConnections();
        CloseSequence(socket);
    } catch (...) {
        ReleaseLock();
        throw;
    }
    ReleaseLock();
}

void TListener::DestroyConnections() {
    while (!m_connections.isEmpty()) {
        TAcceptedConnection* connection = m_connections.last();
        connection->EventHook = nullptr;
        connection->Dispose();
        // Dispose() removes it from the list; make sure, so the loop ends in every case.
        QMutexLocker locker(&m_listLock);
        if (!m_connections.isEmpty() && m_connections.last() == connection)
            m_connections.removeLast();
    }
}

void TListener::AddConnection(TAcceptedConnection* connection) {
    QMutexLocker locker(&m_listLock);
    if (!m_connections.contains(connection))
        m_connections.append(connection);
}

void TListener::RemoveConnection(TAcceptedConnection* connection) {
    QMutexLocker locker(&m_listLock);
    m_connections.removeOne(connection);
}

void TListener::ClientEvent(TSocketConnection* socket, TSocketEventKind kind) {
    switch (kind) {
        case skConnect:
            ForwardClientConnect(socket);
            break;
        case skDisconnect:
            ForwardClientDisconnect(socket);
            break;
        case skWrite:
            ForwardClientWrite(socket);
            break;
        case skRead:
            ForwardClientRead(socket);
            break;
        default:
            break;
    }
}

void TListener::ClientError(TSocketConnection* socket, TErrorEvent kind, int& code) {
    ForwardClientError(socket, kind, code);
}

void TListener::ForwardClientRead(TSocketConnection* socket) {
    if (const TSocketNotifyEvent handler = OnClientRead)
        handler(this, socket);
}

void TListener::ForwardClientWrite(TSocketConnection* socket) {
    if (const TSocketNotifyEvent handler = OnClientWrite)
        handler(this, socket);
}

void TListener::ForwardClientConnect(TSocketConnection* socket) {
    if (const TSocketNotifyEvent handler = OnClientConnect)
        handler(this, socket);
}

void TListener::ForwardClientDisconnect(TSocketConnection* socket) {
    if (const TSocketNotifyEvent handler = OnClientDisconnect)
        handler(this, socket);
    // Destroyed later, never inside its own event; it stays in the list (and counted) until then.
    if (m_serverType == stNonBlocking)
        socket->DeferredFree();
}

void TListener::ForwardClientError(TSocketConnection* socket, TErrorEvent kind, int& code) {
    if (const TSocketErrorEvent handler = OnClientError)
        handler(this, socket, kind, code);
}
