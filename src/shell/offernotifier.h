#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

// A desktop notification of an incoming offer, through the freedesktop notification service
// on the session bus: the file's name, size and sender, with an action "Recibir". Every call
// is asynchronous and its failure is ignored: where no notification service runs, nothing
// happens and nothing complains.
class OfferNotifier : public QObject {
    Q_OBJECT

public:
    explicit OfferNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                           QObject* parent = nullptr);

    // `sender` is the sender's address, or its name with the address ("ana@portatil
    // (192.168.1.5)").
    void offerArrived(const QString& name, qint64 size, const QString& sender);
    // The offer was accepted, declined or withdrawn: its notification goes.
    void offerEnded();

signals:
    // The user chose "Recibir" on the notification.
    void receiveRequested();

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    uint m_id = 0;         // the notification shown, 0 when none
    quint64 m_serial = 0;  // counts offers, so a late answer for an old one is dropped
};
