#include "cli/listcommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

#include "cli/exitcode.h"
#include "discovery/serviceannouncer.h"
#include "engine/laneidentity.h"
#include "identity/fingerprint.h"
#include "identity/identity.h"
#include "identity/truststore.h"
#include "localsend/discovery.h"
#include "localsend/server.h"

ListCommand::ListCommand(bool json, int waitMs, bool localSend, QObject* parent)
    : QObject(parent), m_json(json), m_localSend(localSend), m_browser(this) {
    m_wait.setSingleShot(true);
    m_wait.setInterval(waitMs);
    connect(&m_wait, &QTimer::timeout, this, &ListCommand::print);
}

ListCommand::~ListCommand() = default;

void ListCommand::start() {
    if (m_localSend) {
        startLocalSend();
    }
    m_wait.start();
}

// LocalSend devices answer an announcement by registering with the announcer's server.
void ListCommand::startLocalSend() {
    QString error;
    const auto identity = LaneIdentity::load(Identity::defaultFolder(), &error);
    const Identity* own = identity ? &identity->identity() : nullptr;
    m_server = std::make_unique<localsend::Server>(own);
    if (!m_server->listen(QHostAddress::AnyIPv4, 0)) {
        m_server.reset();
        return;
    }
    localsend::DeviceInfo self;
    self.alias = ServiceAnnouncer::defaultName();
    self.deviceModel = QStringLiteral("Ruvo");
    self.deviceType = QStringLiteral("headless");
    self.fingerprint = m_server->fingerprint();
    self.port = m_server->serverPort();
    self.https = m_server->secure();
    m_server->receiver().setDevice(self);
    m_discovery = std::make_unique<localsend::Discovery>(self, own);
    connect(&m_server->receiver(), &localsend::Receiver::registered, m_discovery.get(),
            &localsend::Discovery::addRegistered);
    m_discovery->start(true);
}

void ListCommand::print() {
    const QList<PeerBrowser::Peer> peers = m_browser.peers();
    // Whether the user trusts the fingerprint a copy announces: a hint for choosing where to
    // send, never proof (the lane's handshake is). A list that cannot be read trusts nobody.
    TrustStore trusted(Identity::defaultFolder());
    QString error;
    if (!trusted.load(&error)) {
        std::fprintf(stderr, "ruvo-cli: %s\n", error.toLocal8Bit().constData());
    }
    const auto trusts = [&trusted](const PeerBrowser::Peer& peer) {
        return !peer.fingerprint.isEmpty() && trusted.isTrusted(peer.fingerprint);
    };
    // A copy of Ruvo that also serves LocalSend is listed once, by its own protocol.
    QList<localsend::Discovery::Device> devices;
    if (m_discovery) {
        for (const localsend::Discovery::Device& device : m_discovery->devices()) {
            const QString address = device.address.toString();
            const bool copy = std::any_of(peers.begin(), peers.end(), [&](const auto& peer) {
                return peer.address == address && peer.name == device.info.alias;
            });
            if (!copy) {
                devices.append(device);
            }
        }
    }
    if (m_json) {
        QJsonArray list;
        for (const PeerBrowser::Peer& peer : peers) {
            list.append(QJsonObject{{QStringLiteral("name"), peer.name},
                                    {QStringLiteral("address"), peer.address},
                                    {QStringLiteral("port"), int(peer.port)},
                                    {QStringLiteral("lane"), peer.lane},
                                    {QStringLiteral("fingerprint"), peer.fingerprint},
                                    {QStringLiteral("trusted"), trusts(peer)}});
        }
        for (const localsend::Discovery::Device& device : devices) {
            list.append(
                QJsonObject{{QStringLiteral("name"), localsend::printable(device.info.alias)},
                            {QStringLiteral("address"), device.address.toString()},
                            {QStringLiteral("port"), int(device.info.port)},
                            {QStringLiteral("lane"), false},
                            {QStringLiteral("localsend"), true},
                            {QStringLiteral("https"), device.info.https},
                            {QStringLiteral("deviceType"), device.info.deviceType},
                            {QStringLiteral("fingerprint"), device.info.fingerprint}});
        }
        std::fputs(QJsonDocument(list).toJson(QJsonDocument::Compact).append('\n').constData(),
                   stdout);
    } else {
        for (const PeerBrowser::Peer& peer : peers) {
            const QString trust =
                peer.fingerprint.isEmpty()
                    ? QStringLiteral("-\t-")
                    : QStringLiteral("%1\t%2").arg(fingerprint::shortForm(peer.fingerprint),
                                                   trusts(peer) ? QStringLiteral("de confianza")
                                                                : QStringLiteral("sin verificar"));
            const QString line =
                QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                    .arg(peer.name, peer.address)
                    .arg(peer.port)
                    .arg(peer.lane ? QStringLiteral("via rapida") : QStringLiteral("clasico"),
                         trust);
            std::fputs(line.toLocal8Bit().constData(), stdout);
        }
        for (const localsend::Discovery::Device& device : devices) {
            const QString line =
                QStringLiteral("%1\t%2\t%3\tLocalSend\n")
                    .arg(localsend::printable(device.info.alias), device.address.toString())
                    .arg(device.info.port);
            std::fputs(line.toLocal8Bit().constData(), stdout);
        }
        if (peers.isEmpty() && devices.isEmpty()) {
            std::fputs("ruvo-cli: no se encontro ninguna copia en la red local\n", stderr);
        }
    }
    std::fflush(stdout);
    emit finished(kExitDone);
}
