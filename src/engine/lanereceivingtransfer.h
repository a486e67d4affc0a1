#pragma once

#include "engine/transfer.h"

class LaneReceivingSession;
class QTcpSocket;

// The fast lane as a carrier of the receiving role: the lane's session on one accepted
// connection behind the transfer interface.
class LaneReceivingTransfer : public Transfer {
    Q_OBJECT

public:
    explicit LaneReceivingTransfer(QTcpSocket* socket, QObject* parent = nullptr);

    Carrier carrier() const override { return Carrier::Lane; }

    void accept(const QString& target) override;
    void decline() override;
    void pause() override;
    void resume() override;
    void cancel() override;

signals:
    // See LaneReceivingSession::pairingAsked: no ended() follows.
    void pairingAsked(QTcpSocket* socket, const QByteArray& payload);

private:
    LaneReceivingSession* m_session;
    bool m_starting = false;
    bool m_cancelled = false;
    bool m_ended = false;
};
