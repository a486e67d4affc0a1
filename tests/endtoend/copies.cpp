#include "copies.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include "net/listener.h"
#include "net/serverendpoint.h"
#include "shell/formruvo.h"
#include "shell/tstatusbar.h"
#include "widgets/folderedit.h"

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

QByteArray patternBytes(qint64 size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 1;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x);
    }
    return bytes;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(bytes);
    }
}

Copy::Copy(quint16 connectPort, bool lane) : dialogs(5) {
    FormOptions options;
    options.lane = lane;
    options.listenPort = 0;
    options.connectPort = connectPort;
    options.configDir = m_config.path();
    options.dialogs = &dialogs;
    options.tones = &tones;
    m_window = std::make_unique<TFormruvo>(options);
    m_window->Notificar->setChecked(true);
    m_window->GuardarEn->setText(m_folder.path());
    m_window->show();
}

Copy::~Copy() = default;

quint16 Copy::port() const {
    return m_window->Receiving()->listeningPort();
}

QString Copy::panel(int index) const {
    return m_window->BarraEstado->PanelText(index);
}

void Copy::send(const QString& path, const QString& address) {
    dialogs.queueOpenFile(path);
    m_window->Examinar->click();
    m_window->DireccionEnviada->setText(address);
    m_window->Enviar->click();
}

bool Copy::acceptOffer() {
    if (!waitUntil([this] { return m_window->Recibir->isEnabled(); })) {
        return false;
    }
    m_window->Recibir->click();
    return true;
}

RawPeer::RawPeer(quint16 port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    // The copy runs on this thread: let its loop accept while the connect completes.
    const bool ok = waitUntil(
        [this] {
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            return ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
        },
        5000);
    if (!ok) {
        close();
    }
}

RawPeer::~RawPeer() {
    close();
}

void RawPeer::send(const QByteArray& bytes) {
    qsizetype sent = 0;
    waitUntil([&] {
        const ssize_t n = ::send(m_fd, bytes.constData() + sent,
                                 static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        }
        return sent == bytes.size() || (n < 0 && errno != EAGAIN);
    });
}

QByteArray RawPeer::receive(qsizetype count, int timeoutMs) {
    QByteArray bytes;
    waitUntil(
        [&] {
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                bytes.append(buffer, n);
            } else if (n == 0 || errno != EAGAIN) {
                m_closed = true;
            }
            return bytes.size() >= count || m_closed;
        },
        timeoutMs);
    return bytes;
}

bool RawPeer::waitClosed(int timeoutMs) {
    return waitUntil(
        [this] {
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN)) {
                m_closed = true;
            }
            return m_closed;
        },
        timeoutMs);
}

void RawPeer::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
