#pragma once

#include <QByteArray>

// A new key pair (ECDSA on P-256: small, fast to make and to sign a TLS handshake with) and
// a self-signed certificate for it, both in PEM. Empty on failure (the system's random
// source or the crypto library refused).
struct MadeCertificate {
    QByteArray keyPem;
    QByteArray certificatePem;
};
MadeCertificate makeSelfSignedCertificate();
