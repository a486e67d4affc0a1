#include "identity/pairingexchange.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtEndian>

#include <algorithm>

namespace {

QByteArray message(PairingExchange::Kind kind, QByteArrayView body) {
    QByteArray out(1, static_cast<char>(kind));
    out += body;
    return out;
}

QByteArray randomNonce() {
    QByteArray nonce(PairingExchange::kNonceSize, Qt::Uninitialized);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(nonce.data()),
                                         reinterpret_cast<quint32*>(nonce.data() + nonce.size()));
    return nonce;
}

}  // namespace

PairingExchange::PairingExchange(Role role, QString ownFingerprint, QString peerFingerprint)
    : m_own(std::move(ownFingerprint)),
      m_peer(std::move(peerFingerprint)),
      m_state(role == Role::Initiator ? State::Idle : State::AwaitCommit),
      m_nonce(randomNonce()) {}

QByteArray PairingExchange::commitmentTo(QByteArrayView nonce) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("ruvo pairing commitment");
    hash.addData(nonce);
    return hash.result();
}

QString PairingExchange::codeFor(const QString& fingerprintA, const QString& fingerprintB,
                                 QByteArrayView initiatorNonce, QByteArrayView responderNonce) {
    const auto [low, high] = std::minmax(fingerprintA, fingerprintB);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("ruvo pairing code");
    hash.addData(low.toLatin1());
    hash.addData(high.toLatin1());
    hash.addData(initiatorNonce);
    hash.addData(responderNonce);
    const QByteArray digest = hash.result();
    // 64 bits modulo a million: the bias is far below anything a person could notice.
    const quint64 value = qFromBigEndian<quint64>(digest.constData());
    return QStringLiteral("%1").arg(value % 1000000, 6, 10, QLatin1Char('0'));
}

QByteArray PairingExchange::start() {
    if (m_state != State::Idle) {
        return {};
    }
    m_state = State::AwaitNonce;
    return message(Kind::Commit, commitmentTo(m_nonce));
}

PairingExchange::Step PairingExchange::fail() {
    m_state = State::Failed;
    m_code.clear();
    return Step::Failed;
}

PairingExchange::Step PairingExchange::finish(QByteArrayView initiatorNonce,
                                              QByteArrayView responderNonce) {
    m_state = State::Done;
    m_code = codeFor(m_own, m_peer, initiatorNonce, responderNonce);
    return Step::Done;
}

PairingExchange::Step PairingExchange::receive(QByteArrayView bytes, QByteArray* reply) {
    reply->clear();
    if (bytes.size() != kMessageSize) {
        return fail();
    }
    const auto kind = static_cast<Kind>(bytes.front());
    const QByteArrayView body = bytes.sliced(1);
    switch (m_state) {
        case State::AwaitCommit:
            if (kind != Kind::Commit) {
                return fail();
            }
            m_commitment = body.toByteArray();
            m_state = State::AwaitReveal;
            *reply = message(Kind::Nonce, m_nonce);
            return Step::Continue;
        case State::AwaitNonce:
            if (kind != Kind::Nonce) {
                return fail();
            }
            *reply = message(Kind::Reveal, m_nonce);
            return finish(m_nonce, body);
        case State::AwaitReveal:
            if (kind != Kind::Reveal || commitmentTo(body) != m_commitment) {
                return fail();
            }
            return finish(body, m_nonce);
        case State::Idle:
        case State::Done:
        case State::Failed:
            break;
    }
    return fail();
}
