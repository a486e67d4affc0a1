#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Pairing in person: both ends show a 6-digit code, both users compare them, and each side
// trusts the other only when they match. The code is derived from both certificates'
// fingerprints (as each end saw them in the TLS handshake) and from one random nonce of each
// end, exchanged inside the TLS session. A relay that terminates TLS on each side shows each
// end its own certificate instead of the other end's, so the two codes differ.
//
// The nonces follow a commitment: the initiator sends a hash of its nonce first, the
// responder answers with its nonce, and only then does the initiator reveal its own. Neither
// end, and no relay, can then choose its material after seeing the other's, so a relay cannot
// search for certificates or nonces that make the two codes equal: it gets one guess in a
// million per attempt, and each attempt shows two different codes to the users.
//
// Pure: no socket. Every message is kMessageSize bytes (a kind byte and 32 bytes); the
// carrier frames them.
class PairingExchange {
public:
    enum class Role { Initiator, Responder };
    enum class Kind : quint8 { Commit = 1, Nonce = 2, Reveal = 3 };
    enum class Step { Continue, Done, Failed };

    static constexpr qsizetype kNonceSize = 32;
    static constexpr qsizetype kMessageSize = 1 + kNonceSize;

    PairingExchange(Role role, QString ownFingerprint, QString peerFingerprint);

    // The initiator's first message (its commitment); empty for the responder, which waits.
    QByteArray start();
    // One whole message from the peer. `reply`, when not empty afterwards, goes to the peer.
    // Failed (for good) on a message out of turn, of the wrong size or kind, or a revealed
    // nonce that is not the committed one.
    Step receive(QByteArrayView message, QByteArray* reply);
    // The code to show, once receive() has returned Done.
    const QString& code() const { return m_code; }

    // The code for two fingerprints (in either order) and the two nonces.
    static QString codeFor(const QString& fingerprintA, const QString& fingerprintB,
                           QByteArrayView initiatorNonce, QByteArrayView responderNonce);
    static QByteArray commitmentTo(QByteArrayView nonce);

private:
    enum class State { Idle, AwaitNonce, AwaitCommit, AwaitReveal, Done, Failed };

    Step fail();
    Step finish(QByteArrayView initiatorNonce, QByteArrayView responderNonce);

    QString m_own;
    QString m_peer;
    State m_state;
    QByteArray m_nonce;       // ours
    QByteArray m_commitment;  // the initiator's, as received by the responder
    QString m_code;
};
