#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// What ruvo-cli checks on this computer before it starts, so that a mistake is named at
// once and in words instead of showing up later as a bare outcome.

// Why `path` cannot be sent ("no existe", "es una carpeta", ...); empty when it can be.
QString fileProblem(const QString& path);
// Why files cannot be received into `folder`; empty when they can.
QString folderProblem(const QString& folder);
// Why TCP `port` cannot be listened on ("esta en uso", ...); empty when it can, now.
QString portProblem(quint16 port);
// The IPv4 addresses other computers may reach this one at (loopback left out).
QStringList reachableAddresses();
