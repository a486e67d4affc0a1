#pragma once

#include "net/acceptedconnection.h"
#include "net/customserverendpoint.h"

// The server endpoint. OnListen and OnAccept get this endpoint as Sender; the OnClient...
// handlers are the listener's own (Sender = the listener, Socket = the accepted connection).
// For one incoming connection: OnClientConnect (already counted by ConnectionCount), then
// OnAccept.
class TServerEndpoint : public TCustomServerEndpoint {
    Q_OBJECT

public:
    explicit TServerEndpoint(QObject* parent = nullptr);

    TServerType ServerType() const { return Listener()->ServerType(); }
    void SetServerType(TServerType type) { Listener()->SetServerType(type); }
    int ThreadCacheSize() const { return Listener()->ThreadCacheSize(); }
    void SetThreadCacheSize(int size) { Listener()->SetThreadCacheSize(size); }

    TGetSocketEvent& OnGetSocket;
    TSocketNotifyEvent& OnClientConnect;
    TSocketNotifyEvent& OnClientDisconnect;
    TSocketNotifyEvent& OnClientRead;
    TSocketNotifyEvent& OnClientWrite;
    TSocketErrorEvent& OnClientError;
};
