#include "cli/localchecks.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkInterface>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

QString fileProblem(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return QStringLiteral("no existe");
    }
    if (info.isDir()) {
        return QStringLiteral("es una carpeta (se envian solo archivos)");
    }
    if (!info.isFile()) {
        return QStringLiteral("no es un archivo comun");
    }
    if (!info.isReadable()) {
        return QStringLiteral("sin permiso de lectura");
    }
    return {};
}

QString folderProblem(const QString& folder) {
    QString bare = folder;
    while (bare.size() > 1 && bare.endsWith(u'/')) {
        bare.chop(1);  // "file/" would not exist at all, whereas "file" is no folder
    }
    const QFileInfo info(bare);
    if (!info.exists()) {
        return QStringLiteral("no existe");
    }
    if (!info.isDir()) {
        return QStringLiteral("no es una carpeta");
    }
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        return QStringLiteral("sin permiso de escritura");
    }
    return {};
}

QString portProblem(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // as the listeners do
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    int error = 0;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 1) != 0) {
        error = errno;
    }
    ::close(fd);
    switch (error) {
        case 0:
            return {};
        case EADDRINUSE:
            return QStringLiteral("esta en uso");
        case EACCES:
            return QStringLiteral("requiere permisos de administrador");
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
}

QStringList reachableAddresses() {
    QStringList addresses;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()) {
            addresses.append(address.toString());
        }
    }
    return addresses;
}
