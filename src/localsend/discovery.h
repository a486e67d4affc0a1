#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUdpSocket>

#include <optional>

#include "identity/identity.h"
#include "localsend/deviceinfo.h"

namespace localsend {

// LocalSend's discovery on the local network: this device's announcement to the multicast
// group 224.0.0.167 (port 53317) on every interface that can carry it, sent in a short burst;
// the announcements of others, each answered by registering with the announcer over HTTP(S)
// (by a multicast answer when that fails); and the devices so learnt, with those that
// register with this device's server (addRegistered()).
//
// Over HTTPS this device presents its identity, and a device whose certificate is not the
// one its announcement names is not listed.
class Discovery : public QObject {
    Q_OBJECT

public:
    struct Device {
        DeviceInfo info;
        QHostAddress address;
    };
    static constexpr quint16 kMulticastPort = 53317;
    // Devices kept at most.
    static constexpr int kMostDevices = 256;
    // An announcer is answered at most this often (announcements come in bursts).
    static constexpr int kAnswerEveryMs = 5000;

    // `self` says what this device is (its fingerprint, port and protocol included);
    // `identity` is presented over HTTPS, none when null.
    Discovery(const DeviceInfo& self, const Identity* identity, QObject* parent = nullptr);

    // Listens to the group; with `announce`, announces this device (a burst) and answers
    // others' announcements. False when the multicast port cannot be opened.
    bool start(bool announce);
    // Another burst (a view refreshes its list).
    void announceAgain();
    // The devices found, by alias.
    QList<Device> devices() const;
    // A device that registered with this device's server.
    void addRegistered(const DeviceInfo& info, const QHostAddress& address);

signals:
    void devicesChanged();

private:
    void readDatagrams();
    void sendToGroup(const QByteArray& datagram);
    void answer(const DeviceInfo& info, const QHostAddress& address);
    void remember(const DeviceInfo& info, const QHostAddress& address);

    DeviceInfo m_self;
    std::optional<Identity> m_identity;
    QUdpSocket m_socket;
    QNetworkAccessManager m_http;
    bool m_announce = false;
    QHash<QString, Device> m_devices;  // by fingerprint
    QHash<QString, QElapsedTimer> m_answered;
};

}  // namespace localsend
