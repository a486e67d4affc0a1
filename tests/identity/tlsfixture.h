#pragma once

#include "identity/identity.h"

#include <QString>

#include <functional>

class QSslSocket;
class QTcpSocket;

// A fresh identity in `folder` (made there), failing the test when it cannot be made.
Identity makeIdentity(const QString& folder);

// Runs the event loop until `done` holds or `ms` pass; whether it held.
bool waitUntil(const std::function<bool()>& done, int ms = 5000);

// Reads from `socket` until `count` bytes have arrived (or 5 s pass).
QByteArray readExactly(QTcpSocket* socket, qsizetype count);
