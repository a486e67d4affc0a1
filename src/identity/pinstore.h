#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

// Which identity answered at each address or name this copy has sent to, kept in
// "pins.json" in the configuration folder. Another identity at a remembered address is what
// a computer standing in for the right one would look like, so the sender checks here
// before it offers anything. Changes are read-modify-write under a lock and written
// atomically; a damaged file is reported and never overwritten.
class PinStore {
public:
    static constexpr const char* kFileName = "pins.json";

    enum class Verdict {
        New,     // nothing remembered for this address
        Same,    // the identity remembered for it
        Changed  // another identity than the one remembered
    };

    struct Pin {
        QString address;      // key() of what the user typed or chose
        QString fingerprint;  // canonical form
        QDateTime seen;       // UTC, the last time it answered there
    };

    explicit PinStore(const QString& folder);

    bool load(QString* error);
    const QList<Pin>& list() const { return m_list; }

    // The fingerprint remembered for an address, or empty.
    QString pinned(const QString& address) const;
    Verdict check(const QString& address, const QString& fingerprint) const;
    // Remembers (or replaces, once the user has agreed to a new identity) the identity seen
    // at an address.
    bool remember(const QString& address, const QString& fingerprint, QString* error,
                  const QDateTime& when = QDateTime::currentDateTimeUtc());
    bool forget(const QString& address, QString* error);

    // The form an address is remembered under: host names are not case-sensitive and
    // surrounding blanks are never part of one. A port other than the default belongs in
    // the address ("host:port"), since two copies may share one computer.
    static QString key(const QString& address);

private:
    bool change(const std::function<bool(QList<Pin>&, QString*)>& edit, QString* error);

    QString m_path;
    QList<Pin> m_list;
};
