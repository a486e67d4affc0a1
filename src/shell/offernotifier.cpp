#include "shell/offernotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "transfer/progress.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kAction = QStringLiteral("recibir");

}  // namespace

OfferNotifier::OfferNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {
    if (!m_bus.isConnected()) {
        return;
    }
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(actionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint, uint)));
}

void OfferNotifier::offerArrived(const QString& name, qint64 size, const QString& sender) {
    offerEnded();
    if (!m_bus.isConnected()) {
        return;
    }
    QDBusMessage notify =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QString body =
        QStringLiteral("%1 (%2 Mb) de %3").arg(name, FormatMegabytes(size), sender);
    notify << QStringLiteral("Ruvo") << uint(0) << QStringLiteral("ruvo")
           << QStringLiteral("Oferta de archivo") << body
           << QStringList{QStringLiteral("default"), QStringLiteral("Recibir"), kAction,
                          QStringLiteral("Recibir")}
           << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("ruvo")},
                          {QStringLiteral("category"), QStringLiteral("transfer")}}
           << -1;
    const quint64 serial = ++m_serial;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(notify), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this,
        [this, serial](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            const QDBusPendingReply<uint> reply = *call;
            if (reply.isError()) {
                return;  // no notification service: the window and its tune still tell
            }
            if (serial != m_serial) {
                // The offer ended before its notification showed: take it away again.
                m_bus.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                               QStringLiteral("CloseNotification"))
                                << reply.value());
                return;
            }
            m_id = reply.value();
        });
}

void OfferNotifier::offerEnded() {
    ++m_serial;
    if (m_id == 0) {
        return;
    }
    m_bus.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                   QStringLiteral("CloseNotification"))
                    << m_id);
    m_id = 0;
}

void OfferNotifier::actionInvoked(uint id, const QString& action) {
    if (id == 0 || id != m_id || (action != kAction && action != QLatin1String("default"))) {
        return;
    }
    m_id = 0;
    emit receiveRequested();
}

void OfferNotifier::notificationClosed(uint id, uint /*reason*/) {
    if (id == m_id) {
        m_id = 0;
    }
}
