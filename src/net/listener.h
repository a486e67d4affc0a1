#pragma once

#include <QList>
#include <QRecursiveMutex>

#include "net/socketconnection.h"

class TAcceptedConnection;

// May supply the connection object for a newly accepted socket (left null: a plain
// TAcceptedConnection is made).
using TGetSocketEvent =
    std::function<void(QObject* Sender, int Socket, TAcceptedConnection*& ClientSocket)>;

// The listening connection of the server endpoint. Owns every connection it accepted, oldest
// first, until that connection is destroyed: by the request it posts after its close, or by
// the listener's deactivation (without any event).
class TListener : public TSocketConnection {
    Q_OBJECT

public:
    explicit TListener(QObject* parent = nullptr);
    ~TListener() override;

    TServerType ServerType() const { return m_serverType; }
    // stThreadBlocking empties the notification set; refused while listening.
    void SetServerType(TServerType type);
    int ThreadCacheSize() const { return m_threadCacheSize; }
    void SetThreadCacheSize(int size) { m_threadCacheSize = size; }

    int ConnectionCount() const { return static_cast<int>(m_connections.size()); }
    // 0 is the oldest connection still in the list; raises std::out_of_range
    // "List index out of bounds (%d)" outside 0 .. count - 1.
    TAcceptedConnection* ConnectionAt(int index) const;

    // Handlers for the accepted connections; Sender is the listener.
    TGetSocketEvent OnGetSocket;
    TSocketNotifyEvent OnClientConnect;
    TSocketNotifyEvent OnClientDisconnect;
    TSocketNotifyEvent OnClientRead;
    TSocketNotifyEvent OnClientWrite;
    TSocketErrorEvent OnClientError;

protected:
    void HandleAccept(int socket) override;
    // Deactivation: destroys every accepted connection without events, then the close
    // sequence of the listening socket.
    void HandleClose(int socket) override;
    virtual TAcceptedConnection* MakeClientConnection(int socket);
    virtual void ForwardClientRead(TSocketConnection* socket);
    virtual void ForwardClientWrite(TSocketConnection* socket);
    virtual void ForwardClientConnect(TSocketConnection* socket);
    virtual void ForwardClientDisconnect(TSocketConnection* socket);
    virtual void ForwardClientError(TSocketConnection* socket, TErrorEvent kind, int& code);

private:
    friend class TAcceptedConnection;
    void AddConnection(TAcceptedConnection* connection);
    void RemoveConnection(TAcceptedConnection* connection);
    void ClientEvent(TSocketConnection* socket, TSocketEventKind kind);
    void ClientError(TSocketConnection* socket, TErrorEvent kind, int& code);
    void DestroyConnections();

    TServerType m_serverType = stNonBlocking;
    int m_threadCacheSize = 10;
    QList<TAcceptedConnection*> m_connections;
    QRecursiveMutex m_listLock;
};
