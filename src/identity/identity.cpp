#include "identity/identity.h"

#include "identity/atomicfile.h"
#include "identity/certificatemaker.h"
#include "identity/fingerprint.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <sys/stat.h>
#include <memory>

namespace {

constexpr unsigned kKeyFileMode = 0600;

struct Parsed {
    QSslCertificate certificate;
    QSslKey key;
    QString problem;  // empty when both are usable
};

Parsed problem(const QString& why) {
    Parsed out;
    out.problem = why;
    return out;
}

// Both PEM blocks out of one file, checked with the crypto library itself: that the key is
// the certificate's is something Qt's classes cannot tell.
Parsed parse(const QByteArray& pem) {
    const auto bioOf = [&pem] {
        return std::unique_ptr<BIO, decltype(&BIO_free)>(
            BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())), &BIO_free);
    };
    auto keyBio = bioOf();
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
    if (!key) {
        return problem(QStringLiteral("la clave privada no se puede leer"));
    }
    auto certBio = bioOf();
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr), &X509_free);
    if (!cert) {
        return problem(QStringLiteral("el certificado no se puede leer"));
    }
    if (X509_check_private_key(cert.get(), key.get()) != 1) {
        return problem(QStringLiteral("la clave no es la del certificado"));
    }
    QSsl::KeyAlgorithm algorithm;
    switch (EVP_PKEY_get_base_id(key.get())) {
        case EVP_PKEY_EC:
            algorithm = QSsl::Ec;
            break;
        case EVP_PKEY_RSA:
            algorithm = QSsl::Rsa;
            break;
        default:
            return problem(QStringLiteral("el tipo de clave no es valido"));
    }
    Parsed out{QSslCertificate(pem, QSsl::Pem), QSslKey(pem, algorithm, QSsl::Pem), {}};
    if (out.certificate.isNull() || out.key.isNull()) {
        out.problem = QStringLiteral("la clave o el certificado no se pueden usar");
    }
    return out;
}

// A key file that others can read (copied by hand, restored from a backup) is made private
// again rather than refused: the key is not yet known to have leaked, and the fix is certain.
void keepPrivate(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && (st.st_mode & 077) != 0) {
        ::chmod(name.constData(), kKeyFileMode);
    }
}

QString damaged(const QString& path, const QString& why) {
    return QStringLiteral(
               "La identidad de %1 no se puede usar: %2. Ruvo no la reemplaza; "
               "muevala o borrela para crear otra.")
        .arg(path, why);
}

}  // namespace

Identity::Identity(QSslCertificate certificate, QSslKey key)
    : m_certificate(std::move(certificate)),
      m_key(std::move(key)),
      m_fingerprint(fingerprint::ofCertificate(m_certificate.toDer())) {}

QString Identity::shortFingerprint() const {
    return fingerprint::shortForm(m_fingerprint);
}

QString Identity::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Ruvo");
}

std::optional<Identity> Identity::loadFrom(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = damaged(path, file.errorString());
        return std::nullopt;
    }
    const Parsed parsed = parse(file.readAll());
    if (!parsed.problem.isEmpty()) {
        *error = damaged(path, parsed.problem);
        return std::nullopt;
    }
    keepPrivate(path);
    return Identity(parsed.certificate, parsed.key);
}

std::optional<Identity> Identity::loadOrCreate(const QString& folder, QString* error) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(kFileName));
    // A link to nowhere counts as a file that exists: it is reported, never written through.
    if (QFileInfo(path).exists() || QFileInfo(path).isSymLink()) {
        return loadFrom(path, error);
    }

    const MadeCertificate made = makeSelfSignedCertificate();
    if (made.keyPem.isEmpty()) {
        *error = QStringLiteral("No se pudo crear la identidad de este equipo.");
        return std::nullopt;
    }
    const QByteArray pem = made.keyPem + made.certificatePem;
    QString why;
    bool exists = false;
    if (!createFileAtomically(path, pem, kKeyFileMode, &why, &exists)) {
        if (exists) {
            // Another copy starting at the same moment made it first: that one is this
            // computer's identity.
            return loadFrom(path, error);
        }
        *error = QStringLiteral("No se pudo guardar la identidad en %1: %2").arg(path, why);
        return std::nullopt;
    }
    const Parsed parsed = parse(pem);
    if (!parsed.problem.isEmpty()) {
        *error = damaged(path, parsed.problem);
        return std::nullopt;
    }
    return Identity(parsed.certificate, parsed.key);
}
