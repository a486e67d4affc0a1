#include "lane/closegently.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

void closeGently(QTcpSocket* socket, int lingerMs) {
    socket->disconnect();
    // Owned by the application while it lingers, so that a program ending meanwhile still
    // frees it (and its TLS state) instead of leaving it behind.
    socket->setParent(QCoreApplication::instance());
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->flush();
    const auto shut = [socket] {
        ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
    };
    if (socket->bytesToWrite() > 0) {
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket, shut] {
            if (socket->bytesToWrite() == 0) {
                shut();
            }
        });
    } else {
        shut();
    }
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(lingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}
