#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

#include "engine/pairingoutcome.h"

class LaneIdentity;
class LanePairing;
class QSslSocket;

// Pairing asked for by this end ("ruvo-cli pair ADDRESS", "Emparejar" in the window):
// connects to the other copy's lane as a sender would (any certificate: who it is, is what
// the users are about to check), greets, and runs the exchange as its initiator. The code
// comes with codeReady(); the user's answer goes back through confirm(). Exactly one ended()
// per start(), never before start() returns. Once both users confirmed, the address is also
// remembered with the identity that answered there.
class PairingRequest : public QObject {
    Q_OBJECT

public:
    // `port` is the classic port for an address without ":PORT"; the lane is the next one.
    PairingRequest(quint16 port, std::shared_ptr<const LaneIdentity> identity,
                   QObject* parent = nullptr);
    ~PairingRequest() override;

    void start(const QString& address);
    void confirm(bool yes);
    void cancel();
    bool isActive() const { return m_active; }
    // See LanePairing (tests shorten it).
    void setAnswerTimeout(int ms) { m_answerMs = ms; }

    // The other end, as it named itself, or its short fingerprint.
    QString peerLabel() const;
    const QString& peerFingerprint() const { return m_peerFingerprint; }

signals:
    void codeReady(const QString& code, const QString& peerName, const QString& peerFingerprint);
    void ended(PairingOutcome outcome, const QString& peerLabel);

private:
    void readGreeting();
    void finish(PairingOutcome outcome);

    quint16 m_port;
    std::shared_ptr<const LaneIdentity> m_identity;
    QPointer<QSslSocket> m_socket;
    LanePairing* m_pairing = nullptr;
    QTimer m_greetingTimer;
    QByteArray m_greeting;
    QString m_pinKey;
    QString m_peerFingerprint;
    int m_answerMs;
    bool m_active = false;
};
