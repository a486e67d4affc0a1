#pragma once

#include <QHostAddress>

#include <memory>

#include "engine/lanesendingsession.h"
#include "engine/outgoingfile.h"
#include "engine/transfer.h"
#include "identity/identity.h"

struct OutgoingEntries;

// The fast lane as a carrier of the sending role: the lane's session behind the transfer
// interface. When no lane answers it says so with unavailable() and ends nothing: the role
// then takes the classic protocol. A receiver whose identity the peer check refuses ends it
// as IdentityChanged, with nothing offered.
class LaneSendingTransfer : public Transfer {
    Q_OBJECT

public:
    LaneSendingTransfer(const OutgoingFile& file, const Identity& identity,
                        QObject* parent = nullptr);
    // Several entries or a text; a lane too old for them reads as unavailable().
    LaneSendingTransfer(std::shared_ptr<const OutgoingEntries> entries, const Identity& identity,
                        QObject* parent = nullptr);

    Carrier carrier() const override { return Carrier::Lane; }
    // Before start(): see LaneSendingSession.
    void setSenderName(const QString& name);
    void setPeerCheck(LaneSendingSession::PeerCheck check);
    void start(const QHostAddress& address, quint16 port);
    // The receiver's fingerprint, once its certificate was shown.
    QString peerFingerprint() const;

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
