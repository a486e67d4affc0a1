#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

#include "engine/pairingoutcome.h"
#include "identity/pairingexchange.h"
#include "lane/lanewire.h"

class LaneIdentity;
class QSslSocket;

// One pairing over the lane, at either end, on a TLS connection whose lane greetings are
// done: PAIR frames carry the PairingExchange's messages (and each end's name with its first
// one), both ends show the same 6 digits when nobody stands between them, each user
// confirms or refuses, and each end sends its user's answer in PAIR_RESULT. An end trusts the
// other (TrustStore, with the name the other sent) only when its own user confirmed and the
// other's PAIR_RESULT says its user did too. Any frame out of turn, or of another kind, ends
// it at once with nothing trusted. Nobody answering within kAnswerMs ends it too.
class LanePairing : public QObject {
    Q_OBJECT

public:
    static constexpr int kAnswerMs = 60000;

    // Takes the socket over. The responder is given the payload of the initiator's first PAIR
    // frame, read by whoever read the connection so far.
    LanePairing(QSslSocket* socket, PairingExchange::Role role,
                std::shared_ptr<const LaneIdentity> identity, QObject* parent = nullptr);
    ~LanePairing() override;

    // The initiator sends its commitment; the responder answers `firstPayload`.
    void start(const QByteArray& firstPayload = QByteArray());
    // The user's answer, once codeReady() came; later answers are ignored.
    void confirm(bool yes);
    // Ends it as our refusal (the other end is told).
    void cancel();
    // Sets how long an answer is awaited (kAnswerMs unless a test says otherwise).
    void setAnswerTimeout(int ms) { m_answerMs = ms; }

    const QString& code() const { return m_exchange.code(); }
    // The other end as it named itself (shownPeerName; may be empty) and its fingerprint.
    const QString& peerName() const { return m_peerName; }
    const QString& peerFingerprint() const { return m_peerFingerprint; }
    // The name, or the short fingerprint when the other end sent no usable name.
    QString peerLabel() const;

signals:
    void codeReady(const QString& code);
    void ended(PairingOutcome outcome);

private:
    void readPeer();
    void handle(lanewire::Type type, const QByteArray& payload);
    void takePair(const QByteArray& payload);
    void takeResult(const QByteArray& payload);
    void settle();
    void finish(PairingOutcome outcome);
    void send(const QByteArray& bytes);

    QPointer<QSslSocket> m_socket;
    std::shared_ptr<const LaneIdentity> m_identity;
    PairingExchange::Role m_role;
    PairingExchange m_exchange;
    lanewire::FrameReader m_reader;
    QTimer m_timer;
    int m_answerMs = kAnswerMs;
    QString m_peerFingerprint;
    QString m_peerName;
    bool m_nameSent = false;
    bool m_peerSpoke = false;  // a PAIR came from the other end
    bool m_codeShown = false;
    int m_ownAnswer = -1;  // -1 none yet, else 0 or 1
    int m_peerAnswer = -1;
    bool m_ended = false;
};
