// What TLS costs the fast lane: moves the same bytes over loopback in plain TCP and in TLS
// 1.3 with each cipher, through Qt Network's QSslSocket (the lane's own way of reading and
// writing, so the figures include Qt's buffering) and through OpenSSL directly (blocking
// calls, the least a TLS copy can cost here). Both ends are separate processes pinned with
// taskset, on one CPU and on two. Bytes come from memory: the file work is the same with or
// without TLS and is left out.
//
//   tlsbench [MiB per run (default 512)] [runs of each case (default 3)] [modes...]
//
// Modes: raw (blocking sockets), qtcp (QTcpSocket), qtls-SUITE (QSslSocket), ossl-SUITE
// (OpenSSL directly), ktls-SUITE (OpenSSL with the kernel's TLS, where offered); SUITE is
// aes128, aes256 or chacha. Without modes, all of them (raw is always run, as the yardstick).
//
// Prints MB/s (10^6 bytes), the ratios to the plain copies and the CPU seconds per GiB of
// each end from the end of the handshake to the last byte.
// On a machine shared with other work the fastest run of each case counts.
//
// The same program is each end when run as
//   tlsbench serve <mode> <config-folder> <bytes>        prints "port N", then the figures
//   tlsbench send <mode> <config-folder> <port> <bytes>  prints the figures
#include "identity/identity.h"
#include "identity/lanetls.h"
#include "identity/securelaneserver.h"
#include "lane/largebuffers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSslCipher>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr qint64 kChunk = 256 * 1024;       // the lane's DATA frame and file chunk
constexpr qint64 kWriteAhead = 256 * 1024;  // the lane sender's limit on unsent bytes
constexpr qint64 kReadSlice = 512 * 1024;   // the lane receiver's read buffer

// A mode: "raw" (blocking sockets), "qtcp" (QTcpSocket), "qtls-<suite>" (QSslSocket with
// the lane's configuration and only that suite), "ossl-<suite>" (OpenSSL directly),
// "ktls-<suite>" (OpenSSL with the kernel's TLS, when the kernel offers it).
const std::map<std::string, const char*> kSuites = {
    {"aes128", "TLS_AES_128_GCM_SHA256"},
    {"aes256", "TLS_AES_256_GCM_SHA384"},
    {"chacha", "TLS_CHACHA20_POLY1305_SHA256"},
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "tlsbench: %s: %s\n", what, std::strerror(errno));
    ERR_print_errors_fp(stderr);
    std::exit(1);
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QByteArray payload() {
    QByteArray bytes(kChunk, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    return bytes;
}

std::string suiteOf(const std::string& mode) {
    const auto dash = mode.find('-');
    return dash == std::string::npos ? std::string() : mode.substr(dash + 1);
}

Identity identityIn(const QString& folder) {
    QString error;
    const std::optional<Identity> identity = Identity::loadOrCreate(folder, &error);
    if (!identity) {
        std::fprintf(stderr, "tlsbench: %s\n", qPrintable(error));
        std::exit(1);
    }
    return *identity;
}

QSslConfiguration qtConfiguration(const Identity& identity, const std::string& suite) {
    QSslConfiguration config = lanetls::configuration(identity);
    config.setCiphers({QSslCipher(QString::fromLatin1(kSuites.at(suite)), QSsl::TlsV1_3)});
    return config;
}

// --- Blocking sockets: the raw copy, and OpenSSL on top of them.

int listenLoopback(quint16* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        fail("listen");
    }
    *port = ntohs(address.sin_port);
    return fd;
}

int connectLoopback(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fail("connect");
    }
    return fd;
}

SSL_CTX* opensslContext(bool server, const QString& folder, const std::string& suite, bool kernel) {
    SSL_CTX* ctx = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
    const QByteArray file =
        QFile::encodeName(QDir(folder).filePath(QStringLiteral("identity.pem")));
    if (!ctx || SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_ciphersuites(ctx, kSuites.at(suite)) != 1 ||
        SSL_CTX_use_certificate_file(ctx, file.constData(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, file.constData(), SSL_FILETYPE_PEM) != 1) {
        fail("SSL_CTX");
    }
    // Mutual, self-signed: accepted here; the lane decides by fingerprint.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                       [](int, X509_STORE_CTX*) { return 1; });
    SSL_CTX_set_num_tickets(ctx, 0);
    // Whole records read ahead in large reads: a read call per record header and body would
    // otherwise cost more than the cipher.
    SSL_CTX_set_read_ahead(ctx, 1);
    SSL_CTX_set_default_read_buffer_len(ctx, kReadSlice);
    if (kernel) {
        SSL_CTX_set_options(ctx, SSL_OP_ENABLE_KTLS);
    }
    return ctx;
}

struct Figures {
    double ms = 0;
    double cpu = 0;
};

void print(const Figures& f) {
    std::printf("ms %.3f cpu %.4f\n", f.ms, f.cpu);
}

void serveBlocking(const std::string& mode, const QString& folder, qint64 total) {
    quint16 port = 0;
    const int listener = listenLoopback(&port);
    std::printf("port %u\n", port);
    std::fflush(stdout);
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        fail("accept");
    }
    double cpu0 = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    std::vector<char> buffer(kReadSlice);
    qint64 got = 0;
    if (mode == "raw") {
        while (got < total) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n <= 0) {
                fail("read");
            }
            got += n;
        }
    } else {
        const bool kernel = mode.rfind("ktls", 0) == 0;
        SSL_CTX* ctx = opensslContext(true, folder, suiteOf(mode), kernel);
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            fail("SSL_accept");
        }
        if (kernel && BIO_get_ktls_recv(SSL_get_rbio(ssl)) != 1) {
            std::fprintf(stderr, "tlsbench: the kernel did not take the receiving side\n");
        }
        cpu0 = cpuSeconds();
        clock.restart();
        while (got < total) {
            const int n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
            if (n <= 0) {
                fail("SSL_read");
            }
            got += n;
        }
        SSL_free(ssl);
        SSL_CTX_free(ctx);
    }
    print({static_cast<double>(clock.nsecsElapsed()) / 1e6, cpuSeconds() - cpu0});
    ::close(fd);
}

void sendBlocking(const std::string& mode, const QString& folder, quint16 port, qint64 total) {
    const int fd = connectLoopback(port);
    const double cpu0 = cpuSeconds();
    const QByteArray bytes = payload();
    qint64 sent = 0;
    if (mode == "raw") {
        while (sent < total) {
            const qint64 want = std::min<qint64>(kChunk, total - sent);
            const ssize_t n = ::write(fd, bytes.constData(), static_cast<size_t>(want));
            if (n <= 0) {
                fail("write");
            }
            sent += n;
        }
    } else {
        const bool kernel = mode.rfind("ktls", 0) == 0;
        SSL_CTX* ctx = opensslContext(false, folder, suiteOf(mode), kernel);
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_connect(ssl) != 1) {
            fail("SSL_connect");
        }
        if (kernel && BIO_get_ktls_send(SSL_get_wbio(ssl)) != 1) {
            std::fprintf(stderr, "tlsbench: the kernel did not take the sending side\n");
        }
        while (sent < total) {
            const int want = static_cast<int>(std::min<qint64>(kChunk, total - sent));
            const int n = SSL_write(ssl, bytes.constData(), want);
            if (n <= 0) {
                fail("SSL_write");
            }
            sent += n;
        }
        SSL_shutdown(ssl);
        SSL_free(ssl);
        SSL_CTX_free(ctx);
    }
    print({0, cpuSeconds() - cpu0});
    ::shutdown(fd, SHUT_WR);
    char drain[256];
    while (::read(fd, drain, sizeof drain) > 0) {
    }
    ::close(fd);
}

// --- Qt sockets, read and written as the lane's sessions do.

int serveQt(const std::string& mode, const QString& folder, qint64 total) {
    const bool tls = mode != "qtcp";
    std::unique_ptr<QTcpServer> server;
    std::optional<Identity> identity;
    if (tls) {
        identity = identityIn(folder);
        auto secure = std::make_unique<SecureLaneServer>(*identity, lanetls::anyPeer());
        QObject::connect(secure.get(), &SecureLaneServer::refused,
                         [](const QString&, const QString& reason) {
                             std::fprintf(stderr, "tlsbench: %s\n", qPrintable(reason));
                             std::exit(1);
                         });
        server = std::move(secure);
    } else {
        server = std::make_unique<QTcpServer>();
    }
    if (!server->listen(QHostAddress::LocalHost, 0)) {
        fail("listen");
    }
    std::printf("port %u\n", server->serverPort());
    std::fflush(stdout);
    double cpu0 = 0;
    QElapsedTimer clock;
    qint64 got = 0;
    QByteArray buffer(kReadSlice, Qt::Uninitialized);
    QObject::connect(server.get(), &QTcpServer::acceptError, [] { std::exit(1); });
    // pendingConnectionAvailable: for the TLS server, once the handshake is done.
    QObject::connect(server.get(), &QTcpServer::pendingConnectionAvailable, [&] {
        QTcpSocket* socket = server->nextPendingConnection();
        cpu0 = cpuSeconds();
        clock.start();
        if (tls) {
            auto* ssl = static_cast<QSslSocket*>(socket);
            if (ssl->sessionCipher().name() != QString::fromLatin1(kSuites.at(suiteOf(mode)))) {
                std::fprintf(stderr, "tlsbench: cipher %s\n",
                             qPrintable(ssl->sessionCipher().name()));
            }
        }
        socket->setReadBufferSize(kReadSlice);
        // The lane's sender streams only after the receiver's ACCEPT: so here.
        socket->write("go", 2);
        QObject::connect(socket, &QTcpSocket::readyRead, [&, socket] {
            qint64 n;
            while ((n = socket->read(buffer.data(), buffer.size())) > 0) {
                got += n;
            }
            if (got >= total) {
                print({static_cast<double>(clock.nsecsElapsed()) / 1e6, cpuSeconds() - cpu0});
                socket->disconnectFromHost();
                QCoreApplication::exit(0);
            }
        });
    });
    return QCoreApplication::exec();
}

int sendQt(const std::string& mode, const QString& folder, quint16 port, qint64 total) {
    const bool tls = mode != "qtcp";
    std::optional<Identity> identity;
    QTcpSocket* socket = nullptr;
    if (tls) {
        identity = identityIn(folder);
        auto* ssl = lanetls::clientSocket(*identity, lanetls::anyPeer());
        ssl->setSslConfiguration(qtConfiguration(*identity, suiteOf(mode)));
        socket = ssl;
    } else {
        socket = new QTcpSocket;
    }
    const QByteArray bytes = payload();
    qint64 sent = 0;
    double cpu0 = 0;
    bool streaming = false;
    // QSslSocket::bytesToWrite() counts only what is not yet encrypted; what waits for the
    // network after encryption is encryptedBytesToWrite(). Without it a sender would encrypt
    // the whole file into memory at once.
    const auto unsent = [&] {
        return socket->bytesToWrite() +
               (tls ? static_cast<QSslSocket*>(socket)->encryptedBytesToWrite() : 0);
    };
    const auto pump = [&] {
        if (!streaming) {
            return;
        }
        while (sent < total && unsent() < kWriteAhead) {
            const qint64 want = std::min<qint64>(kChunk, total - sent);
            socket->write(want == kChunk ? bytes : bytes.left(want));
            sent += want;
        }
    };
    // The receiver closes once it has everything, as in the lane.
    QObject::connect(socket, &QAbstractSocket::disconnected, [&] {
        print({0, cpuSeconds() - cpu0});
        QCoreApplication::exit(sent >= total ? 0 : 1);
    });
    QObject::connect(socket, &QTcpSocket::bytesWritten, pump);
    QObject::connect(socket, &QTcpSocket::readyRead, [&] {
        socket->readAll();
        if (!streaming) {
            streaming = true;
            cpu0 = cpuSeconds();
            pump();
        }
    });
    QObject::connect(socket, &QAbstractSocket::errorOccurred, [socket, &sent, total] {
        if (sent < total) {
            std::fprintf(stderr, "tlsbench: %s\n", qPrintable(socket->errorString()));
            QCoreApplication::exit(1);
        }
    });
    if (tls) {
        auto* ssl = static_cast<QSslSocket*>(socket);
        // bytesWritten() reports bytes encrypted; the room for more comes when they have
        // left for the network.
        QObject::connect(ssl, &QSslSocket::encryptedBytesWritten, pump);
        ssl->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    } else {
        socket->connectToHost(QHostAddress::LocalHost, port);
    }
    const int code = QCoreApplication::exec();
    delete socket;
    return code;
}

bool blocking(const std::string& mode) {
    return mode == "raw" || mode.rfind("ossl", 0) == 0 || mode.rfind("ktls", 0) == 0;
}

// --- The table.

// Whether this kernel lets a TCP socket become a TLS one (the "tls" upper-layer protocol).
QString kernelTls() {
    quint16 port = 0;
    const int listener = listenLoopback(&port);
    const int fd = connectLoopback(port);
    const int ok = ::setsockopt(fd, IPPROTO_TCP, TCP_ULP, "tls", sizeof "tls");
    const QString why = ok == 0 ? QString() : QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    ::close(listener);
    return why;
}

struct Run {
    double ms = 0;
    double cpuReceiver = 0;
    double cpuSender = 0;
};

Figures figuresOf(const QByteArray& output) {
    Figures f;
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith("ms ")) {
            std::sscanf(line.constData(), "ms %lf cpu %lf", &f.ms, &f.cpu);
        }
    }
    return f;
}

std::optional<Run> runOnce(const QString& self, const std::string& mode, const QString& folder,
                           int cpuReceiver, int cpuSender, qint64 total) {
    const QString name = QString::fromStdString(mode);
    QProcess receiver;
    receiver.start(
        QStringLiteral("taskset"),
        {QStringLiteral("-c"), QString::number(cpuReceiver), self, QStringLiteral("serve"), name,
         folder + QStringLiteral("/receiver"), QString::number(total)});
    QByteArray head;
    while (!head.contains('\n') && receiver.waitForReadyRead(10000)) {
        head += receiver.readLine();
    }
    if (!head.startsWith("port ")) {
        std::fprintf(stderr, "%s", receiver.readAllStandardError().constData());
        return std::nullopt;
    }
    const QString port = QString::fromLatin1(head.mid(5).trimmed());
    QProcess sender;
    sender.start(QStringLiteral("taskset"),
                 {QStringLiteral("-c"), QString::number(cpuSender), self, QStringLiteral("send"),
                  name, folder + QStringLiteral("/sender"), port, QString::number(total)});
    if (!sender.waitForFinished(600000) || !receiver.waitForFinished(600000) ||
        sender.exitCode() != 0 || receiver.exitCode() != 0) {
        std::fprintf(stderr, "%s%s", receiver.readAllStandardError().constData(),
                     sender.readAllStandardError().constData());
        return std::nullopt;
    }
    const Figures r = figuresOf(receiver.readAllStandardOutput());
    const Figures s = figuresOf(sender.readAllStandardOutput());
    return Run{r.ms, r.cpu, s.cpu};
}

int table(const QString& self, qint64 mib, int runs, const QStringList& only) {
    QTemporaryDir folder;
    identityIn(folder.path() + QStringLiteral("/receiver"));
    identityIn(folder.path() + QStringLiteral("/sender"));
    const qint64 total = mib * 1048576;
    const QString noKernelTls = kernelTls();
    std::vector<std::string> modes = {"raw", "qtcp"};
    for (const char* mode :
         {"qtls-aes128", "qtls-aes256", "qtls-chacha", "ossl-aes128", "ossl-chacha"}) {
        modes.push_back(mode);
    }
    if (noKernelTls.isEmpty()) {
        modes.push_back("ktls-aes128");
    }
    if (!only.isEmpty()) {
        std::erase_if(modes, [&](const std::string& mode) {
            return mode != "raw" && !only.contains(QString::fromStdString(mode));
        });
    }
    std::printf("%lld MiB per run, fastest of %d. MB = 10^6 bytes; cpu: seconds per GiB.\n",
                static_cast<long long>(mib), runs);
    std::printf("Kernel TLS: %s\n",
                noKernelTls.isEmpty()
                    ? "offered"
                    : qPrintable(QStringLiteral("not offered (TCP_ULP tls: %1)").arg(noKernelTls)));
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    for (const auto& [label, cpuR, cpuS] :
         {std::tuple{"one CPU", 0, 0}, std::tuple{"two CPUs", 0, static_cast<int>(cpus - 1)}}) {
        std::printf("\n%-12s %-12s %8s %7s %7s %8s %8s %8s\n", label, "mode", "MB/s", "/raw",
                    "/qtcp", "cpu-r", "cpu-s", "cpu");
        std::map<std::string, double> rate;
        for (const std::string& mode : modes) {
            std::optional<Run> best;
            for (int i = 0; i < runs; ++i) {
                const std::optional<Run> run =
                    runOnce(self, mode, folder.path(), cpuR, cpuS, total);
                if (run && (!best || run->ms < best->ms)) {
                    best = run;
                }
            }
            if (!best) {
                std::printf("%-12s %-12s failed\n", "", mode.c_str());
                continue;
            }
            const double gib = static_cast<double>(total) / 1073741824.0;
            rate[mode] = static_cast<double>(total) / 1e6 / (best->ms / 1000);
            std::printf("%-12s %-12s %8.0f %7.2f %7.2f %8.3f %8.3f %8.3f\n", "", mode.c_str(),
                        rate[mode], rate[mode] / rate["raw"], rate[mode] / rate["qtcp"],
                        best->cpuReceiver / gib, best->cpuSender / gib,
                        (best->cpuReceiver + best->cpuSender) / gib);
            std::fflush(stdout);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // As the program itself does.
    keepLargeBuffersInTheHeap();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 5 && args[1] == QStringLiteral("serve")) {
        const std::string mode = args[2].toStdString();
        const qint64 total = args[4].toLongLong();
        if (blocking(mode)) {
            serveBlocking(mode, args[3], total);
            return 0;
        }
        return serveQt(mode, args[3], total);
    }
    if (args.size() >= 6 && args[1] == QStringLiteral("send")) {
        const std::string mode = args[2].toStdString();
        const auto port = static_cast<quint16>(args[4].toUInt());
        const qint64 total = args[5].toLongLong();
        if (blocking(mode)) {
            sendBlocking(mode, args[3], port, total);
            return 0;
        }
        return sendQt(mode, args[3], port, total);
    }
    const qint64 mib = args.size() > 1 ? args[1].toLongLong() : 512;
    const int runs = args.size() > 2 ? args[2].toInt() : 3;
    return table(QCoreApplication::applicationFilePath(), mib > 0 ? mib : 512, runs > 0 ? runs : 1,
                 args.mid(3));
}
