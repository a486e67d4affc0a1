// Fuzzes the LocalSend server as a whole, over loopback: a client sends what the input says
// (info, register, prepare-upload with good and hostile names, uploads with right and wrong
// sessions, tokens and lengths, plain or chunked, cancels, raw bytes, new connections) in
// every phase of a session, mixed with the local user's accepts, declines, cancels, pauses
// and resumes. Whatever comes, each session ends at most once and is silent afterwards,
// nothing is written outside the receive folder, a file reported received holds the bytes
// whose SHA-256 the sender announced, and every file left in the folder was reported
// received (nothing half-written stays).

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include "fuzzcheck.h"
#include "localsend/server.h"
#include "localsend/session.h"

namespace {

using localsend::Session;

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "fuzz_localsendserver";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

void spin(int ms) {
    const QDeadlineTimer deadline(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    } while (!deadline.hasExpired());
}

struct Input {
    QByteArrayView bytes;
    qsizetype at = 0;
    bool done() const { return at >= bytes.size(); }
    quint8 next() { return done() ? 0 : static_cast<quint8>(bytes[at++]); }
};

const char* const kNames[] = {"a.txt",     "dir/b.bin",   "dir/sub/c", "../x", "/abs",    ".h",
                              "d (1).txt", "caf\xc3\xa9", "x/../y",    "dir",  "a.txt/z", ""};
const qint64 kSizes[] = {0, 1, 100, 70000};
constexpr int kFiles = 4;

QByteArray content(int index, qint64 size) {
    return QByteArray(size, char('a' + index));
}

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

struct Tracked {
    int ended = 0;
    int afterEnd = 0;
    QSet<QByteArray> hashes;  // the SHA-256 of each file offered, when all were given
};

class World {
public:
    explicit World(Input& in) : m_in(in), m_server(nullptr) {
        QDir(m_root.path()).mkdir(QStringLiteral("recv"));
        m_folder = m_root.path() + QStringLiteral("/recv/");
        localsend::Receiver& receiver = m_server.receiver();
        receiver.setPin(m_in.next() % 4 == 0 ? QStringLiteral("1234") : QString());
        receiver.setBusyCheck([this] { return m_busy; });
        receiver.setOfferHandler([this](Session* session) { return take(session); });
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    void run() {
        while (!m_in.done()) {
            const quint8 step = m_in.next();
            switch (step % 16) {
                case 0:
                    send("GET /api/localsend/v2/info HTTP/1.1\r\n\r\n");
                    break;
                case 1:
                    sendJson("/api/localsend/v2/register",
                             m_in.next() % 2 ? info() : QByteArray("{\"alias\":5}"));
                    break;
                case 2:
                case 3:
                    prepare();
                    break;
                case 4:
                case 5:
                case 6:
                    upload();
                    break;
                case 7:
                    send("POST /api/localsend/v2/cancel?sessionId=" +
                         (m_in.next() % 2 ? m_sessionId : QByteArray("x")) + " HTTP/1.1\r\n\r\n");
                    break;
                case 8: {
                    QByteArray raw;
                    for (int n = m_in.next() % 16; n > 0; --n) {
                        raw.append(char(m_in.next()));
                    }
                    send(raw);
                    break;
                }
                case 9:
                    m_client.reset();  // a new connection for what follows
                    break;
                case 10:
                    if (m_session) {
                        m_session->accept(m_folder);
                    }
                    break;
                case 11:
                    if (m_session) {
                        m_in.next() % 2 ? m_session->decline() : m_session->cancel();
                    }
                    break;
                case 12:
                    if (m_session) {
                        m_in.next() % 2 ? m_session->pause() : m_session->resume();
                    }
                    break;
                case 13:
                    m_busy = !m_busy;
                    break;
                default:
                    spin(1 + m_in.next() % 4);
                    break;
            }
            spin(0);
            readAnswers();
        }
        spin(5);
        readAnswers();
        if (m_session) {
            m_session->resume();
            m_session->cancel();
        }
        m_client.reset();
        spin(5);
    }

    void check() {
        for (const auto& [serial, tracked] : m_sessions) {
            FUZZ_CHECK(tracked.ended <= 1);
            FUZZ_CHECK(tracked.afterEnd == 0);
        }
        // Only the receive folder was written to, and only files reported received stay.
        const QStringList top =
            QDir(m_root.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        FUZZ_CHECK(top == QStringList{QStringLiteral("recv")});
        QDirIterator it(m_folder, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            FUZZ_CHECK(m_received.contains(QDir::cleanPath(it.next())));
        }
    }

private:
    bool take(Session* session) {
        const int serial = m_serial++;
        Tracked& tracked = m_sessions[serial];
        bool allHashed = true;
        for (const localsend::OfferedFile& file : session->offer().files) {
            allHashed = allHashed && !file.sha256.isEmpty();
            tracked.hashes.insert(file.sha256);
        }
        if (!allHashed) {
            tracked.hashes.clear();
        }
        m_session = session;
        QObject::connect(session, &Session::progress, [this, serial] { signalled(serial); });
        QObject::connect(session, &Session::started, [this, serial] { signalled(serial); });
        QObject::connect(
            session, &Session::fileEnded, [this, serial](const QString& path, Session::End why) {
                signalled(serial);
                if (why != Session::End::Received) {
                    return;
                }
                QFile file(path);
                FUZZ_CHECK(file.open(QIODevice::ReadOnly));
                const Tracked& t = m_sessions[serial];
                FUZZ_CHECK(t.hashes.isEmpty() || t.hashes.contains(sha256(file.readAll())));
                m_received.insert(QDir::cleanPath(path));
            });
        QObject::connect(session, &Session::ended, [this, serial] {
            signalled(serial);
            ++m_sessions[serial].ended;
        });
        return true;
    }

    void signalled(int serial) {
        if (m_sessions[serial].ended > 0) {
            ++m_sessions[serial].afterEnd;
        }
    }

    QByteArray info() const {
        return QJsonDocument(QJsonObject{{QStringLiteral("alias"), QStringLiteral("Fuzz")},
                                         {QStringLiteral("fingerprint"), QStringLiteral("f")},
                                         {QStringLiteral("deviceType"), QStringLiteral("mobile")}})
            .toJson(QJsonDocument::Compact);
    }

    void prepare() {
        const quint8 shape = m_in.next();
        QJsonObject files;
        m_sizes.clear();
        for (int i = 0; i < 1 + shape % kFiles; ++i) {
            const quint8 pick = m_in.next();
            const char* name = kNames[pick % std::size(kNames)];
            const qint64 size = kSizes[(pick >> 4) % std::size(kSizes)];
            QJsonObject file{{QStringLiteral("id"), QStringLiteral("f%1").arg(i)},
                             {QStringLiteral("fileName"), QString::fromUtf8(name)},
                             {QStringLiteral("size"), size}};
            if (shape & 0x40) {
                file.insert(QStringLiteral("sha256"),
                            QString::fromLatin1(sha256(content(i, size))));
            }
            files.insert(QStringLiteral("f%1").arg(i), file);
            m_sizes.insert(i, size);
        }
        const QByteArray body =
            QJsonDocument(
                QJsonObject{{QStringLiteral("info"), QJsonDocument::fromJson(info()).object()},
                            {QStringLiteral("files"), files}})
                .toJson(QJsonDocument::Compact);
        const QByteArray pin =
            shape & 0x80 ? QByteArray("?pin=") + (shape & 0x20 ? "1234" : "9") : QByteArray();
        sendJson("/api/localsend/v2/prepare-upload" + pin, body);
    }

    void upload() {
        const quint8 how = m_in.next();
        const int index = how % (kFiles + 1);
        const qint64 size = m_sizes.value(index, 3);
        QByteArray body = content(index, size);
        if (how & 0x08) {
            body.chop(1);
        } else if (how & 0x10) {
            body.append('!');
        }
        if ((how & 0x20) && !body.isEmpty()) {
            body[0] = 'Z';  // the size announced, other bytes
        }
        const QByteArray token = how & 0x40 ? QByteArray("0") : m_tokens.value(index);
        const QByteArray target = "/api/localsend/v2/upload?sessionId=" + m_sessionId +
                                  "&fileId=f" + QByteArray::number(index) + "&token=" + token;
        if (how & 0x80) {
            QByteArray chunked =
                "POST " + target + " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
            if (!body.isEmpty()) {
                chunked += QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n";
            }
            send(chunked + "0\r\n\r\n");
        } else {
            send("POST " + target + " HTTP/1.1\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }
    }

    void sendJson(const QByteArray& target, const QByteArray& body) {
        send("POST " + target + " HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) +
             "\r\n\r\n" + body);
    }

    void send(const QByteArray& bytes) {
        if (!m_client || m_client->state() != QAbstractSocket::ConnectedState) {
            m_client = std::make_unique<QTcpSocket>();
            m_client->connectToHost(QHostAddress::LocalHost, m_server.serverPort());
            if (!m_client->waitForConnected(1000)) {
                return;
            }
        }
        m_client->write(bytes);
        m_client->flush();
    }

    // The session id and tokens of the last offer accepted.
    void readAnswers() {
        if (!m_client) {
            return;
        }
        m_answers += m_client->readAll();
        static const QRegularExpression session(QStringLiteral("\"sessionId\":\"([0-9a-f]+)\""));
        static const QRegularExpression token(QStringLiteral("\"f(\\d)\":\"([0-9a-f]+)\""));
        const QString text = QString::fromLatin1(m_answers);
        const QRegularExpressionMatch match = session.match(text);
        if (match.hasMatch()) {
            m_sessionId = match.captured(1).toLatin1();
            for (auto it = token.globalMatch(text); it.hasNext();) {
                const QRegularExpressionMatch t = it.next();
                m_tokens.insert(t.captured(1).toInt(), t.captured(2).toLatin1());
            }
            m_answers.clear();
        }
        if (m_answers.size() > 4096) {
            m_answers = m_answers.right(1024);
        }
    }

    Input& m_in;
    QTemporaryDir m_root;
    QString m_folder;
    localsend::Server m_server;
    std::unique_ptr<QTcpSocket> m_client;
    QPointer<Session> m_session;
    std::map<int, Tracked> m_sessions;  // by the order sessions came in
    int m_serial = 0;
    QSet<QString> m_received;
    QHash<int, qint64> m_sizes;
    QHash<int, QByteArray> m_tokens;
    QByteArray m_sessionId = "none";
    QByteArray m_answers;
    bool m_busy = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    app();
    static const bool ignored = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)ignored;
    Input in{QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size))};
    World world(in);
    world.run();
    world.check();
    return 0;
}
