#include "net/customendpoint.h"

#include "net/socketconnection.h"

TCustomEndpoint::TCustomEndpoint(QObject* parent) : TAbstractEndpoint(parent) {}

void TCustomEndpoint::RaiseSocketEvent(TSocketConnection* socket, TSocketEventKind kind) {
    // Copies: a handler may replace itself while it runs.
    TSocketNotifyEvent handler;
    switch (kind) {
        case skLookup:
            handler = OnLookup;
            break;
        case skConnecting:
            handler = OnConnecting;
            break;
        case skConnect:
            SetActiveFlag(true);
            handler = OnConnect;
            break;
        case skDisconnect:
            SetActiveFlag(false);
            handler = OnDisconnect;
            break;
        case skListen:
            SetActiveFlag(true);
            handler = OnListen;
            break;
        case skAccept:
            handler = OnAccept;
            break;
        case skWrite:
            handler = OnWrite;
            break;
        case skRead:
            handler = OnRead;
            break;
    }
    if (handler)
        handler(this, socket);
}

void TCustomEndpoint::RaiseSocketError(TSocketConnection* socket, TErrorEvent kind, int& code) {
    if (const TSocketErrorEvent handler = OnError)
        handler(this, socket, kind, code);
}

void TCustomEndpoint::BindConnection(TSocketConnection* connection) {
    connection->EventHook = [this](TSocketConnection*, TSocketConnection* socket,
                                   TSocketEventKind kind) { RaiseSocketEvent(socket, kind); };
    connection->ErrorHook = [this](TSocketConnection*, TSocketConnection* socket, TErrorEvent kind,
                                   int& code) { RaiseSocketError(socket, kind, code); };
}
