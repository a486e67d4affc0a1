#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "discovery/avahiclientthread.h"

struct AvahiEntryGroup;

// Announces this copy on the local network as a DNS-SD service of type _ruvo._tcp, for as
// long as it lives and the mDNS service runs (again after the service restarts). A name
// taken by another copy is replaced by the service's alternative ("ana@portatil #2").
class ServiceAnnouncer : private AvahiClientThread {
public:
    static constexpr const char* kServiceType = "_ruvo._tcp";

    // `txt` holds "key=value" entries of the TXT record.
    ServiceAnnouncer(const QString& name, quint16 port, const QList<QByteArray>& txt);
    ~ServiceAnnouncer() override;

    // The readable name of this copy on the network: the user's and the computer's.
    static QString defaultName();
    // The TXT record of a copy: "lane=1" or "lane=0", and with the lane on, "fp=" and the
    // fingerprint of the identity the lane presents. Anyone can announce any fingerprint:
    // it lets lists mark a computer the user trusts, and never decides trust; the lane's TLS
    // handshake does, for each transfer.
    static QList<QByteArray> txtRecord(bool lane, const QString& fingerprint);

private:
    void clientReady(AvahiClient* client) override;
    void clientLost(bool clientGone) override;
    void addService(AvahiClient* client);
    static void groupChanged(AvahiEntryGroup* group, int state, void* self);

    QByteArray m_name;
    quint16 m_port;
    QList<QByteArray> m_txt;
    AvahiEntryGroup* m_group = nullptr;
};
