#pragma once

#include <functional>

#include <QDateTime>
#include <QList>
#include <QString>

struct TrustedComputer {
    QString fingerprint;  // canonical form (fingerprint::normalized)
    QString name;         // as the user or the pairing named it; may be empty
    QDateTime added;      // UTC
};

// The computers this copy trusts, by certificate fingerprint, kept in "trusted.json" in the
// configuration folder. Every change re-reads the file under a lock and writes it atomically,
// so the window and ruvo-cli can both change it. A damaged file is reported and never
// overwritten: the store then refuses changes until the user deals with it.
class TrustStore {
public:
    static constexpr const char* kFileName = "trusted.json";

    explicit TrustStore(const QString& folder);

    // Reads the file (a missing file is an empty list). False with a reason when it cannot
    // be read or an entry is not valid.
    bool load(QString* error);

    const QList<TrustedComputer>& list() const { return m_list; }
    // The entry of a fingerprint in any typed form, or nullptr.
    const TrustedComputer* find(const QString& fingerprint) const;
    bool isTrusted(const QString& fingerprint) const { return find(fingerprint) != nullptr; }

    // Trusts a computer; trusting it again renames it and keeps when it was first added.
    bool add(const QString& fingerprint, const QString& name, QString* error,
             const QDateTime& when = QDateTime::currentDateTimeUtc());
    // False with a reason when the fingerprint was not trusted.
    bool remove(const QString& fingerprint, QString* error);

private:
    bool modify(const std::function<bool(QList<TrustedComputer>&, QString*)>& change,
                QString* error);

    QString m_path;
    QList<TrustedComputer> m_list;
};
