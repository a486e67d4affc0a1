#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <optional>

// This copy's identity: a key pair and a self-signed certificate for it, kept together in one
// file readable by the user only ("identity.pem" in the configuration folder), so that a
// crash can never leave a key without its certificate or the other way round. Peers know a
// copy by the certificate's fingerprint; no authority signs anything.
class Identity {
public:
    static constexpr const char* kFileName = "identity.pem";

    // Reads the identity kept in `folder`, or makes one and keeps it there when the folder
    // holds none (first start). A file that exists but cannot be used (unreadable, damaged,
    // a key that is not the certificate's) is reported in `error` and left exactly as it is:
    // replacing it would silently turn this computer into a stranger to everyone who
    // trusts it.
    static std::optional<Identity> loadOrCreate(const QString& folder, QString* error);
    // ~/.config/Ruvo (under XDG_CONFIG_HOME when set).
    static QString defaultFolder();

    const QSslCertificate& certificate() const { return m_certificate; }
    const QSslKey& privateKey() const { return m_key; }
    const QString& fingerprint() const { return m_fingerprint; }
    QString shortFingerprint() const;

private:
    Identity(QSslCertificate certificate, QSslKey key);
    static std::optional<Identity> loadFrom(const QString& path, QString* error);

    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_fingerprint;
};
