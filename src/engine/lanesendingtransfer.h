#pragma once

#include <QHostAddress>

#include <memory>

#include "engine/outgoingfile.h"
#include "engine/transfer.h"
#include "identity/identity.h"

class LaneSendingSession;
struct OutgoingEntries;

// The fast lane as a carrier of the sending role: the lane's session behind the transfer
// interface. When no lane answers it says so with unavailable() and ends nothing: the role
// then takes the classic protocol.
class LaneSendingTransfer : public Transfer {
    Q_OBJECT

public:
    LaneSendingTransfer(const OutgoingFile& file, const Identity& identity,
                        QObject* parent = nullptr);
    // Several entries or a text; a lane too old for them reads as unavailable().
    LaneSendingTransfer(std::shared_ptr<const OutgoingEntries> entries, const Identity& identity,
                        QObject* parent = nullptr);

    Carrier carrier() const override { return Carrier::Lane; }
    void start(const QHostAddress& address, quint16 port);

    void accept(const QString&) override {}
    void decline() override {}
    void pause() override;
    void resume() override;
    void cancel() override;

signals:
    void unavailable();

private:
    void follow();

    LaneSendingSession* m_session;
    bool m_starting = false;
    bool m_cancelled = false;
    bool m_ended = false;
};
