#pragma once

#include "net/abstractendpoint.h"

// The handler slots of both endpoints and the translation of connection events and errors
// into them. Handlers get Sender = this endpoint and Socket = the connection.
class TCustomEndpoint : public TAbstractEndpoint {
    Q_OBJECT

public:
    explicit TCustomEndpoint(QObject* parent = nullptr);

    TSocketNotifyEvent OnLookup;
    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnConnecting;
    TSocketNotifyEvent OnDisconnect;
    TSocketNotifyEvent OnListen;
    TSocketNotifyEvent OnAccept;
    TSocketNotifyEvent OnRead;
    TSocketNotifyEvent OnWrite;
    // The code is passed by reference: set to 0 the error is handled; left non-zero the
    // connection raises ESocketError.
    TSocketErrorEvent OnError;

protected:
    void RaiseSocketEvent(TSocketConnection* socket, TSocketEventKind kind) override;
    void RaiseSocketError(TSocketConnection* socket, TErrorEvent kind, int& code) override;
    // Routes the connection's hooks to RaiseSocketEvent / RaiseSocketError.
    void BindConnection(TSocketConnection* connection);
};
