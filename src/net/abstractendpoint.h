#pragma once

#include <QObject>
#include <QString>

#include "net/esocketerror.h"
#include "net/sockettypes.h"

// What the client and the server endpoint share: the Active flag and the values that may only
// change while the endpoint is not active. The Active flag follows the connection's events
// (connect/listen make it true, disconnect false), not the setter.
class TAbstractEndpoint : public QObject {
    Q_OBJECT

public:
    explicit TAbstractEndpoint(QObject* parent = nullptr);

    bool Active() const { return m_active; }
    // Opens or closes; an equal value does nothing. Exceptions of the open reach the caller.
    void SetActive(bool value);
    int Port() const { return m_port; }
    // Only the low 16 bits are used.
    void SetPort(int port);
    QString Service() const { return m_service; }
    // A service name looked up for "tcp"; when set it replaces Port.
    void SetService(const QString& service);

protected:
    // Published by the client endpoint only.
    QString Address() const { return m_address; }
    void SetAddress(const QString& address);
    QString Host() const { return m_host; }
    void SetHost(const QString& host);

    virtual void RaiseSocketEvent(TSocketConnection* socket, TSocketEventKind kind) = 0;
    virtual void RaiseSocketError(TSocketConnection* socket, TErrorEvent kind, int& code) = 0;
    virtual void ApplyActive(bool value) = 0;
    void SetActiveFlag(bool active) { m_active = active; }

private:
    void setText(QString& field, const QString& value);

    bool m_active = false;
    int m_port = 0;
    QString m_address;
    QString m_host;
    QString m_service;
};
