#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <map>
#include <set>

#include "discovery/avahiclientthread.h"

struct AvahiServiceBrowser;

// Lists the other copies announced on the local network (_ruvo._tcp, IPv4), as long as it
// lives: a copy appears once its address is resolved and leaves when its announcement is
// withdrawn or expires. Copies announced by this computer are left out. Where no mDNS
// service runs the list stays empty, and appears when the service starts.
class PeerBrowser : public QObject, private AvahiClientThread {
    Q_OBJECT

public:
    struct Peer {
        QString name;     // the readable name the copy announces
        QString address;  // dotted IPv4
        quint16 port = 0;
        bool lane = false;  // its TXT record says the fast lane is on
        // The fingerprint its TXT record gives for the lane's identity (64 uppercase hex
        // digits), empty when it gives none or a malformed one. Only what it claims: a list
        // may mark it as a computer the user trusts, but who sends or receives is told by
        // the lane's TLS handshake alone.
        QString fingerprint;

        bool operator==(const Peer&) const = default;
    };

    explicit PeerBrowser(QObject* parent = nullptr);
    ~PeerBrowser() override;

    // The copies found, by name.
    QList<Peer> peers() const;

signals:
    void peersChanged();

private:
    void clientReady(AvahiClient* client) override;
    void clientLost(bool clientGone) override;
    // On the Qt side: `interface` is where the announcement was seen; a copy seen on
    // several interfaces is listed once, and leaves when it left all of them.
    void found(int interface, const Peer& peer);
    void lost(int interface, const QString& name);
    void clear();

    AvahiServiceBrowser* m_browser = nullptr;
    struct Seen {
        Peer peer;
        std::set<int> interfaces;
    };
    std::map<QString, Seen> m_peers;
};
