#pragma once

#include <QtGlobal>

#include <functional>

class QObject;
class TSocketConnection;

// Kinds of event a connection reports through its EventHook; the ordinal values are fixed.
enum TSocketEventKind {
    skLookup = 0,
    skConnecting,
    skConnect,
    skDisconnect,
    skListen,
    skAccept,
    skWrite,
    skRead
};

// Kinds of error passed to an ErrorHook and to the endpoints' error handlers.
enum TErrorEvent { ekGeneral = 0, ekSend, ekReceive, ekConnect, ekDisconnect, ekAccept };

// Where an asynchronous open stands.
enum TLookupStage { lkIdle = 0, lkResolvingHost, lkResolvingService };

// Only the non-blocking modes are used; the others exist as selectable values that empty the
// notification set.
enum TClientType { ctNonBlocking = 0, ctBlocking };
enum TServerType { stNonBlocking = 0, stThreadBlocking };

// Bits of a connection's notification set. The empty set means blocking mode.
inline constexpr quint8 FD_READ = 1;
inline constexpr quint8 FD_WRITE = 2;
inline constexpr quint8 FD_ACCEPT = 8;
inline constexpr quint8 FD_CONNECT = 16;
inline constexpr quint8 FD_CLOSE = 32;
inline constexpr quint8 kConnectionNotificationSet = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;

// Handler types of the endpoints. For the server's OnClient... handlers Sender is the listener,
// otherwise the endpoint; Socket is the connection the event is about.
using TSocketNotifyEvent = std::function<void(QObject* Sender, TSocketConnection* Socket)>;
using TSocketErrorEvent = std::function<void(QObject* Sender, TSocketConnection* Socket,
                                             TErrorEvent ErrorEvent, int& ErrorCode)>;
