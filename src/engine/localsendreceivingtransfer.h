#pragma once

#include <QPointer>

#include "engine/transfer.h"

namespace localsend {
class Session;
}

// A LocalSend sender's session as a carrier of the receiving role: its offer (one or several
// files, with the sender's alias and device) is asked about like any other, the user's
// answer goes back as the tokens or a refusal, and the files' progress and end are
// reported as the transfer's. LocalSend continues no partial file: each file is written
// whole, beside any file of its name.
class LocalSendReceivingTransfer : public Transfer {
    Q_OBJECT

public:
    explicit LocalSendReceivingTransfer(localsend::Session* session, QObject* parent = nullptr);
    // A session still open ends without a word (the role let the sender go).
    ~LocalSendReceivingTransfer() override;

    Carrier carrier() const override { return Carrier::LocalSend; }

    // Emits offered(); the role calls it once it follows the transfer.
    void announce();
    const TransferOffer& offer() const { return m_offer; }

    // `target` is the folder plus the offer's name (one file) or the folder (several).
    void accept(const QString& target) override;
    void decline() override;
    void pause() override;
    void resume() override;
    void cancel() override;

private:
    QPointer<localsend::Session> m_session;
    TransferOffer m_offer;
    QString m_folder;  // where the files go, with its final "/"
    bool m_ended = false;
};
