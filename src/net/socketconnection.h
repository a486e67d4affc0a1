#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>

#include <netinet/in.h>

#include <deque>
#include <functional>

#include "net/esocketerror.h"
#include "net/sockettypes.h"

class QSocketNotifier;
class QTimer;

// One IPv4 TCP connection over a POSIX socket: opened as a connecting client or as a listener,
// or handed an accepted socket. Readiness is watched with QSocketNotifier on the UI thread and
// reported one notification at a time: a notifier is switched off when it reports and on again
// by the call that re-arms it (a receive re-arms FD_READ, a send that would block FD_WRITE, an
// accept FD_ACCEPT), so a connection nobody serves costs no CPU.
//
// Events go to EventHook, errors to ErrorHook (the owner sets both). Handlers may call back into
// the same connection: the lock is re-entrant and every step re-checks the socket after calling
// out. A connection is never destroyed while it is inside its own event handling; owners use
// Dispose() and DeferredFree() instead of delete.
class TSocketConnection : public QObject {
    Q_OBJECT

public:
    using TEventHook = std::function<void(TSocketConnection* Sender, TSocketConnection* Socket,
                                          TSocketEventKind Kind)>;
    using TErrorHook = std::function<void(TSocketConnection* Sender, TSocketConnection* Socket,
                                          TErrorEvent ErrorEvent, int& ErrorCode)>;

    // socketHandle is an open socket (accepted) or -1 for none.
    explicit TSocketConnection(int socketHandle, QObject* parent = nullptr);
    ~TSocketConnection() override;

    // One send() of count bytes. Returns the bytes taken (possibly fewer), 0 when not connected,
    // -1 when it would block (FD_WRITE follows once the socket drains) or when it failed and
    // the error handler set the code to 0. A failure fires the error event, closes the
    // connection and then raises ESocketError unless the code was set to 0. While a message of
    // SendMessage is still queued, this returns -1 as a send that would block, so that bytes
    // never overtake the queued message.
    qsizetype SendBytes(const char* buffer, qsizetype count);
    qsizetype SendString(const QByteArray& text);
    // Sends a message whole and in order: one send() for all of it; what the socket does not
    // take now is queued and sent when the socket is writable again, before a pending FD_WRITE
    // is reported. Later messages queue behind it. Returns false when not connected or when
    // the send failed and the error was handled (the error path has run). Only the part the
    // socket did not take is copied, so the caller may reuse its buffer at once.
    bool SendMessage(QByteArrayView message);
    // Bytes that can be read now; 0 when not connected or when the query fails.
    qsizetype PendingByteCount();
    // One recv() of at most count bytes: the count read, 0 when not connected or the peer has
    // closed, -1 when it would block or failed with the error handled. count -1 returns
    // PendingByteCount() instead. Every receive re-arms FD_READ.
    qsizetype ReceiveBytes(char* buffer, qsizetype count);
    // All bytes pending now, or empty.
    QByteArray ReceiveString();
    // The close sequence: disconnect event (socket still open inside it), then close. Unread
    // input is read and dropped first, so that the peer sees an orderly close.
    void CloseConnection();
    // Dotted IPv4 address of the peer, kept from accept or the connect target; empty when not
    // connected.
    QString PeerAddressText();
    // A serial distinct for every connection object ever created.
    quint64 NotificationHandle();
    bool IsConnected() const { return m_connected; }

    void StartConnect(const QString& host, const QString& address, const QString& service,
                      quint16 port, bool blocking);
    void StartListen(const QString& host, const QString& address, const QString& service,
                     quint16 port, int queueSize, bool blocking);

    quint8 NotificationSet() const { return m_notificationSet; }
    void SetNotificationSet(quint8 set);
    TLookupStage LookupStage() const { return m_stage; }
    int SocketHandle() const { return m_socket; }
    // The local port of the open socket (for a listener on port 0, the one the system
    // chose); 0 when there is no socket.
    quint16 LocalPort() const;
    // Bytes of SendMessage still waiting for the socket.
    qint64 OutboxByteCount() const { return m_outboxBytes; }

    void AcquireLock() { m_lock.lock(); }
    void ReleaseLock() { m_lock.unlock(); }

    // Destroys the connection after the current handler has returned: through a posted call
    // that waits until the connection is out of its own event handling, also when the request
    // was made inside a nested event loop.
    void DeferredFree();
    // How an owner destroys a connection: at once when it is idle; otherwise (an owner that is
    // destroyed from inside this connection's own event) the connection is detached from its
    // owner, closed without events and destroyed once it is out of its event handling.
    void Dispose();
    // True while the connection is inside its own event handling.
    bool IsBusy() const { return m_depth > 0; }

    TEventHook EventHook;
    TErrorHook ErrorHook;

protected:
    virtual void HandleAccept(int socket);
    virtual void HandleConnect(int socket);
    virtual void HandleClose(int socket);
    virtual void HandleRead(int socket);
    virtual void HandleWrite(int socket);
    virtual void NotifyEvent(TSocketConnection* socket, TSocketEventKind kind);
    virtual void NotifyError(TSocketConnection* socket, TErrorEvent kind, int& code);
    // Called by Dispose() when the connection outlives its owner; removes it from the owner.
    virtual void DetachFromOwner() {}

    void ApplyNotificationSet();
    // The base close sequence (HandleClose of this class).
    void CloseSequence(int socket);
    void SetConnected(bool connected) { m_connected = connected; }
    // For an accepted socket: keeps the peer address and arms FD_READ and the one FD_WRITE.
    void BeginAccepted(const in_addr& peer);
    // For a listener: accept4 one connection and re-arm FD_ACCEPT (or pause accepting for a
    // moment when the process is out of descriptors). Returns the new socket or -1.
    int AcceptNext(sockaddr_in& peer);
    // True when socket s is still this connection's socket of generation gen.
    bool IsCurrent(int s, quint64 gen) const {
        return s != -1 && s == m_socket && gen == m_generation;
    }
    quint64 Generation() const { return m_generation; }

private:
    class EventScope;

    void ResolveStep(const QString& host, const QString& address, const QString& service,
                     quint16 port, int queueSize, bool client);
    void ResolveAddressNow(const QString& host, const QString& address, const QString& service,
                           quint16 port, bool client);
    void BeginConnect();
    void BeginListen(int queueSize);
    void StartLookup(bool host, const QString& name);
    void LookupDone(quint64 request, int errorCode, const QByteArray& errorText, in_addr address,
                    in_port_t port);
    void OpenNewSocket(const char* alreadyOpenMessage);

    void OnReadActivated();
    void FinishReadEvent();
    void OnWriteActivated();
    void ReadReady();
    void WriteReady();
    void DispatchNotification(int socket, quint8 flag, int errorCode);
    bool FlushOutbox();
    void FailTransfer(TErrorEvent kind, int code, const char* api);
    void UpdateNotifiers();
    void DeleteNotifiers();
    void CloseSocketNow();
    void PostFree();
    void LeaveEvent();

    int m_socket = -1;
    bool m_connected = false;
    sockaddr_in m_address{};
    quint8 m_notificationSet = kConnectionNotificationSet;
    TLookupStage m_stage = lkIdle;
    quint64 m_lookupRequest = 0;
    QRecursiveMutex m_lock;
    QString m_savedService;
    quint16 m_savedPort = 0;
    bool m_savedClient = false;
    int m_savedQueueSize = 0;

    const quint64 m_handle;
    // Changes whenever a socket is opened or closed; work queued for one socket carries it.
    quint64 m_generation = 0;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_acceptPause = nullptr;
    bool m_listening = false;
    bool m_connectPending = false;
    bool m_readArmed = false;
    // Read events under way (nested event loops make more than one), and whether bytes
    // received in them still wait for an acknowledgement.
    int m_readEvents = 0;
    bool m_quickAckDue = false;
    // Bytes the current read event found waiting, until the first receive.
    int m_pendingAtEvent = 0;
    bool m_writeEventPending = false;
    bool m_closeReported = false;
    bool m_acceptPaused = false;
    bool m_hasPeer = false;
    in_addr m_peer{};
    quint64 m_closingGeneration = 0;
    bool m_closing = false;
    std::deque<QByteArray> m_outbox;
    qsizetype m_outboxOffset = 0;
    qint64 m_outboxBytes = 0;
    int m_depth = 0;
    bool m_freeRequested = false;
};
