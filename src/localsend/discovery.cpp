#include "localsend/discovery.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>

#include <algorithm>

#include "identity/fingerprint.h"

namespace localsend {

namespace {

// A burst, as LocalSend apps send theirs: one datagram may be lost.
constexpr int kBurstMs[] = {100, 500, 2000};
constexpr qint64 kMostDatagram = 8 * 1024;
constexpr int kRegisterTimeoutMs = 3000;

const QHostAddress& group() {
    static const QHostAddress address(QString::fromLatin1(kMulticastGroup));
    return address;
}

// The interfaces a multicast datagram can leave by: up, running, able to multicast, with an
// IPv4 address, loopback left out.
QList<QNetworkInterface> multicastInterfaces() {
    QList<QNetworkInterface> found;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            !flags.testFlag(QNetworkInterface::CanMulticast) ||
            flags.testFlag(QNetworkInterface::IsLoopBack)) {
            continue;
        }
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        if (std::any_of(entries.begin(), entries.end(), [](const QNetworkAddressEntry& e) {
                return e.ip().protocol() == QAbstractSocket::IPv4Protocol;
            })) {
            found.append(interface);
        }
    }
    return found;
}

}  // namespace

Discovery::Discovery(const DeviceInfo& self, const Identity* identity, QObject* parent)
    : QObject(parent), m_self(self) {
    if (identity != nullptr) {
        m_identity = *identity;
    }
    connect(&m_socket, &QUdpSocket::readyRead, this, &Discovery::readDatagrams);
}

bool Discovery::start(bool announce) {
    m_announce = announce;
    if (!m_socket.bind(QHostAddress::AnyIPv4, kMulticastPort,
                       QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        return false;
    }
    m_socket.setSocketOption(QAbstractSocket::MulticastTtlOption, 1);
    for (const QNetworkInterface& interface : multicastInterfaces()) {
        m_socket.joinMulticastGroup(group(), interface);
    }
    if (announce) {
        announceAgain();
    }
    return true;
}

void Discovery::announceAgain() {
    const QByteArray datagram = QJsonDocument(m_self.toJson(DeviceInfo::Form::Announce, true))
                                    .toJson(QJsonDocument::Compact);
    for (const int ms : kBurstMs) {
        QTimer::singleShot(ms, this, [this, datagram] { sendToGroup(datagram); });
    }
}

void Discovery::sendToGroup(const QByteArray& datagram) {
    for (const QNetworkInterface& interface : multicastInterfaces()) {
        m_socket.setMulticastInterface(interface);
        m_socket.writeDatagram(datagram, group(), kMulticastPort);
    }
}

QList<Discovery::Device> Discovery::devices() const {
    QList<Device> list = m_devices.values();
    std::sort(list.begin(), list.end(), [](const Device& a, const Device& b) {
        return a.info.alias.localeAwareCompare(b.info.alias) < 0;
    });
    return list;
}

void Discovery::remember(const DeviceInfo& info, const QHostAddress& address) {
    if (info.fingerprint.isEmpty() || info.fingerprint == m_self.fingerprint) {
        return;  // this device itself (its own announcement comes back)
    }
    if (!m_devices.contains(info.fingerprint) && m_devices.size() >= kMostDevices) {
        return;
    }
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    m_devices.insert(info.fingerprint, Device{info, ok ? QHostAddress(v4) : address});
    emit devicesChanged();
}

void Discovery::addRegistered(const DeviceInfo& info, const QHostAddress& address) {
    remember(info, address);
}

void Discovery::readDatagrams() {
    while (m_socket.hasPendingDatagrams()) {
        const qint64 size = m_socket.pendingDatagramSize();
        QHostAddress from;
        QByteArray datagram(qMax<qint64>(0, qMin(size, kMostDatagram + 1)), Qt::Uninitialized);
        const qint64 read = m_socket.readDatagram(datagram.data(), datagram.size(), &from);
        if (read < 0 || read > kMostDatagram) {
            continue;
        }
        datagram.truncate(read);
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(datagram, &error);
        if (!document.isObject()) {
            continue;
        }
        const std::optional<DeviceInfo> info = DeviceInfo::fromJson(document.object());
        if (!info || info->fingerprint.isEmpty() || info->fingerprint == m_self.fingerprint) {
            continue;
        }
        const bool announcing = document.object().value(QStringLiteral("announce")).toBool(false);
        if (announcing && m_announce) {
            answer(*info, from);
        }
        // Over HTTPS the announcement is taken at its word only once the certificate
        // matches (answer() lists it then); over HTTP there is nothing to check.
        if (!info->https || !announcing || !m_announce) {
            remember(*info, from);
        }
    }
}

void Discovery::answer(const DeviceInfo& info, const QHostAddress& address) {
    QElapsedTimer& last = m_answered[info.fingerprint];
    if (last.isValid() && last.elapsed() < kAnswerEveryMs) {
        return;
    }
    last.start();
    if (m_answered.size() > kMostDevices * 4) {
        m_answered.clear();
    }
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    const QHostAddress target = ok ? QHostAddress(v4) : address;
    QUrl url;
    url.setScheme(info.https ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(target.toString());
    url.setPort(info.port);
    url.setPath(QStringLiteral("/api/localsend/v2/register"));
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setTransferTimeout(kRegisterTimeoutMs);
    if (info.https) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        if (m_identity) {
            tls.setLocalCertificate(m_identity->certificate());
            tls.setPrivateKey(m_identity->privateKey());
        }
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(tls);
    }
    const QByteArray body =
        QJsonDocument(m_self.toJson(DeviceInfo::Form::Register)).toJson(QJsonDocument::Compact);
    QNetworkReply* reply = m_http.post(request, body);
    connect(reply, &QNetworkReply::finished, this, [this, reply, info, target] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            // The protocol's fallback: an answer to the group.
            sendToGroup(QJsonDocument(m_self.toJson(DeviceInfo::Form::Announce, false))
                            .toJson(QJsonDocument::Compact));
            return;
        }
        if (info.https) {
            const QSslCertificate certificate = reply->sslConfiguration().peerCertificate();
            if (certificate.isNull() ||
                fingerprint::ofCertificate(certificate.toDer()) != info.fingerprint) {
                return;  // not the device the announcement named
            }
            remember(info, target);
        }
    });
}

}  // namespace localsend
