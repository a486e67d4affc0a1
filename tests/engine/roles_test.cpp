// Both transfer roles driven with no widget at all: a sending session and a receiving
// service over loopback, and raw peers where a peer must misbehave.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <optional>

#include "engine/receivingservice.h"
#include "engine/sendingsession.h"
#include "engine/ttimer.h"
#include "rolefixtures.h"
#include "transfer/protocol.h"

namespace {

// A raw peer on a blocking socket, for the messages no copy of ours would send.
class RawSender {
public:
    explicit RawSender(quint16 port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RawSender() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    bool send(const QByteArray& bytes) {
        return m_fd >= 0 &&
               ::send(m_fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL) == bytes.size();
    }
    // What arrived within `ms` while the event loop runs; empty when nothing did.
    QByteArray receiveFor(int ms) {
        QByteArray got;
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 1) == 1) {
                char buffer[4096];
                const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    m_closed = true;
                    break;
                }
                got.append(buffer, n);
            }
        }
        return got;
    }
    // Waits until `expected` arrives; false when something else or nothing came.
    bool expect(const QByteArray& expected, int ms = 10000) {
        QByteArray got;
        QDeadlineTimer deadline(ms);
        while (got.size() < expected.size() && !deadline.hasExpired() && !m_closed) {
            got += receiveFor(20);
        }
        if (got != expected) {
            ADD_FAILURE() << "received \"" << got.toStdString() << "\"";
        }
        return got == expected;
    }
    bool closedByPeer(int ms = 10000) {
        QDeadlineTimer deadline(ms);
        while (!m_closed && !deadline.hasExpired()) {
            receiveFor(20);
        }
        return m_closed;
    }

private:
    int m_fd = -1;
    bool m_closed = false;
};

QByteArray blockMessage(qint64 index, const QByteArray& data) {
    return BlockMessage(index, data);
}

TEST(Roles, TwoEnginesMoveFilesOfEverySize) {
    for (const qint64 size : {qint64(0), qint64(1), qint64(2048), qint64(1024 * 1024 + 7)}) {
        SCOPED_TRACE(size);
        Receiver receiver;
        QTemporaryDir source;
        const QString path = source.path() + QStringLiteral("/ñandú ß.bin");
        const QByteArray content = patternBytes(size, static_cast<quint32>(size));
        writeFile(path, content);
        Sender sender(receiver.port());
        ASSERT_TRUE(sender.session.chooseFile(path));
        sender.session.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(
            waitUntil([&] { return !sender.ended.isEmpty() && !receiver.ended.isEmpty(); }));
        EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
        EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Received});
        ASSERT_EQ(receiver.offers.size(), 1);
        EXPECT_EQ(receiver.offers[0].name, QStringLiteral("ñandú ß.bin"));
        EXPECT_EQ(receiver.offers[0].size, size);
        EXPECT_EQ(receiver.offers[0].address, QStringLiteral("127.0.0.1"));
        EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("ñandú ß.bin")), content);
        EXPECT_EQ(sender.session.state(), SendingSession::State::Idle);
        EXPECT_EQ(receiver.service.state(), ReceivingService::State::Idle);
    }
}

TEST(Roles, APartialFileIsContinuedOrLeftAsItIs) {
    const QByteArray content = patternBytes(50000, 7);
    for (const bool yes : {true, false}) {
        SCOPED_TRACE(yes);
        Receiver receiver;
        receiver.answers = {yes};
        QTemporaryDir source;
        writeFile(source.path() + QStringLiteral("/f.bin"), content);
        writeFile(receiver.folder() + QStringLiteral("f.bin"), content.first(5000));
        Sender sender(receiver.port());
        ASSERT_TRUE(sender.session.chooseFile(source.path() + QStringLiteral("/f.bin")));
        sender.session.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(
            waitUntil([&] { return !sender.ended.isEmpty() && !receiver.ended.isEmpty(); }));
        EXPECT_EQ(receiver.questions,
                  QList<ReceivingService::Question>{ReceivingService::Question::ContinueExisting});
        EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("f.bin")),
                  yes ? content : content.first(5000));
        EXPECT_EQ(sender.ended, QList<Outcome>{yes ? Outcome::Sent : Outcome::Declined});
    }
}

TEST(Roles, BusyRefusedAndUnresolvableAddressesEndTheSend) {
    Receiver receiver;
    receiver.acceptOffers = false;
    QTemporaryDir source;
    writeFile(source.path() + QStringLiteral("/f.bin"), "abc");

    Sender first(receiver.port());
    ASSERT_TRUE(first.session.chooseFile(source.path() + QStringLiteral("/f.bin")));
    first.session.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return receiver.offers.size() == 1; }));
    Sender second(receiver.port());
    ASSERT_TRUE(second.session.chooseFile(source.path() + QStringLiteral("/f.bin")));
    second.session.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return !second.ended.isEmpty(); }));
    EXPECT_EQ(second.ended, QList<Outcome>{Outcome::Busy});
    first.session.cancel();
    ASSERT_TRUE(waitUntil([&] { return !receiver.ended.isEmpty(); }));
    EXPECT_EQ(first.ended, QList<Outcome>{Outcome::Cancelled});

    // Nothing listens on the port any more.
    const quint16 port = receiver.port();
    receiver.service.stopListening();
    Sender refused(port);
    ASSERT_TRUE(refused.session.chooseFile(source.path() + QStringLiteral("/f.bin")));
    refused.session.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return !refused.ended.isEmpty(); }));
    EXPECT_EQ(refused.ended, QList<Outcome>{Outcome::ConnectionError});

    Sender unknown(port);
    ASSERT_TRUE(unknown.session.chooseFile(source.path() + QStringLiteral("/f.bin")));
    unknown.session.start(QStringLiteral("no-such-host.invalid"));
    ASSERT_TRUE(waitUntil([&] { return !unknown.ended.isEmpty(); }));
    EXPECT_EQ(unknown.ended, QList<Outcome>{Outcome::BadAddress});
}

TEST(Roles, ANameThatResolvesSends) {
    Receiver receiver;
    QTemporaryDir source;
    const QByteArray content = patternBytes(10000, 3);
    writeFile(source.path() + QStringLiteral("/f.bin"), content);
    Sender sender(receiver.port());
    ASSERT_TRUE(sender.session.chooseFile(source.path() + QStringLiteral("/f.bin")));
    sender.session.start(QStringLiteral("localhost"));
    ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
    EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("f.bin")), content);
}

TEST(Roles, AChoiceThatCannotBeOpenedLeavesNothingChosen) {
    QTemporaryDir source;
    writeFile(source.path() + QStringLiteral("/f.bin"), "abc");
    Sender sender(1);
    ASSERT_TRUE(sender.session.chooseFile(source.path() + QStringLiteral("/f.bin")));
    EXPECT_EQ(sender.session.file()->name, QStringLiteral("f.bin"));
    EXPECT_EQ(sender.session.file()->size, 3);
    EXPECT_FALSE(sender.session.chooseFile(source.path() + QStringLiteral("/missing")));
    EXPECT_FALSE(sender.session.file().has_value());
}

// A write that fails while the disk has room (here the file size limit) ends the transfer
// with a clear outcome instead of asking for the same block for ever; the partial stays.
TEST(Roles, AFailingWriteEndsTheTransferAndKeepsThePartialFile) {
    Receiver receiver;
    QTemporaryDir source;
    const QByteArray content = patternBytes(1024 * 1024, 11);
    writeFile(source.path() + QStringLiteral("/f.bin"), content);
    Sender sender(receiver.port());
    ASSERT_TRUE(sender.session.chooseFile(source.path() + QStringLiteral("/f.bin")));

    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    sender.session.start(QStringLiteral("127.0.0.1"));
    const bool ended =
        waitUntil([&] { return !sender.ended.isEmpty() && !receiver.ended.isEmpty(); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_TRUE(ended);
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::CannotWrite});
    ASSERT_EQ(sender.ended.size(), 1);
    EXPECT_NE(sender.ended[0], Outcome::Sent);
    EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("f.bin")), content.first(64 * 1024));
}

// The user's pause holds whatever the sender sends: its resume ends only its own pause, and
// a resume with no pause before it is a violation that closes the peer with a clear text.
TEST(Roles, ASendersResumeNeverOverridesTheUsersPause) {
    Receiver receiver;
    RawSender peer(receiver.port());
    ASSERT_TRUE(peer.send("i|f.bin|100000"));
    ASSERT_TRUE(peer.expect("a|0"));
    receiver.service.pauseByUser();
    ASSERT_TRUE(peer.send("p"));  // the sender pauses in answer to the request
    ASSERT_TRUE(peer.send("r"));  // and resumes: the user's pause still holds
    EXPECT_EQ(peer.receiveFor(300), QByteArray());
    receiver.service.resumeByUser();
    ASSERT_TRUE(peer.expect("a|0"));
    ASSERT_TRUE(peer.send(blockMessage(0, patternBytes(2048, 1))));
    ASSERT_TRUE(peer.expect("a|1"));

    // A resume with no pause of the sender's before it.
    ASSERT_TRUE(peer.send(blockMessage(1, patternBytes(2048, 2))));
    ASSERT_TRUE(peer.expect("a|2"));
    ASSERT_TRUE(peer.send("r"));
    EXPECT_TRUE(peer.closedByPeer());
    ASSERT_TRUE(waitUntil([&] { return !receiver.ended.isEmpty(); }));
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::ConnectionError});
    EXPECT_EQ(QFileInfo(receiver.folder() + QStringLiteral("f.bin")).size(), 4096);
}

TEST(Roles, ViolationsAndHiddenNamesEndWithAText) {
    struct Case {
        const char* what;
        QByteArray afterAccept;  // sent once the first request arrived
        QByteArray offer;
        Outcome outcome;
    };
    const Case cases[] = {
        {"a block not asked for", blockMessage(3, "x"), "i|f.bin|100000", Outcome::ConnectionError},
        {"a pause not in answer", "pp", "i|f.bin|100000", Outcome::ConnectionError},
        {"a hidden name", {}, "i|.bashrc|300", Outcome::BadName},
        {"a name with a folder", {}, "i|../x|300", Outcome::BadName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver;
        RawSender peer(receiver.port());
        ASSERT_TRUE(peer.send(c.offer));
        if (!c.afterAccept.isEmpty()) {
            ASSERT_TRUE(peer.expect("a|0"));
            ASSERT_TRUE(peer.send(c.afterAccept));
        }
        EXPECT_TRUE(peer.closedByPeer());
        ASSERT_TRUE(waitUntil([&] { return !receiver.ended.isEmpty(); }));
        EXPECT_EQ(receiver.ended, QList<Outcome>{c.outcome});
    }
}

// The target is fixed when the offer is accepted: a later folder never receives a block.
TEST(Roles, TheTargetStaysWhereTheOfferWasAccepted) {
    Receiver receiver;
    RawSender peer(receiver.port());
    ASSERT_TRUE(peer.send("i|big.bin|10000"));
    ASSERT_TRUE(peer.expect("a|0"));
    EXPECT_EQ(receiver.service.targetPath(), receiver.folder() + QStringLiteral("big.bin"));
    ASSERT_TRUE(peer.send(blockMessage(0, patternBytes(2048, 5))));
    ASSERT_TRUE(peer.expect("a|1"));
    EXPECT_EQ(QFileInfo(receiver.folder() + QStringLiteral("big.bin")).size(), 2048);
}

// A sender that starts while a peer is connected (and has offered nothing yet) lets that
// peer go with the receiving side's whole clean-up: nothing of it is left running.
TEST(Roles, SendingLetsAConnectedPeerGoCleanly) {
    Receiver receiver;
    RawSender peer(receiver.port());
    ASSERT_TRUE(waitUntil([&] { return receiver.service.isServing(); }));
    QTemporaryDir source;
    writeFile(source.path() + QStringLiteral("/f.bin"), "abc");
    SendingSession sender(1, &receiver.service);
    ASSERT_TRUE(sender.chooseFile(source.path() + QStringLiteral("/f.bin")));
    sender.start(QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(receiver.service.isServing());
    EXPECT_EQ(receiver.service.state(), ReceivingService::State::Idle);
    EXPECT_TRUE(peer.closedByPeer());
    ASSERT_TRUE(waitUntil([&] { return sender.state() == SendingSession::State::Idle; }));
    EXPECT_TRUE(receiver.service.isListening());
}

}  // namespace

// Another copy holding the file's lock makes a classic block wait for it (tried again every
// 150 ms), but the event loop goes on meanwhile: no single event takes the waits.
TEST(Roles, ALockedFileWaitsWithoutHoldingTheEventLoop) {
    Receiver receiver;
    RawSender peer(receiver.port());
    ASSERT_TRUE(peer.send("i|locked.bin|5000"));
    ASSERT_TRUE(peer.expect("a|0"));
    const QString target = receiver.folder() + QStringLiteral("locked.bin");
    const int holder = ::open(QFile::encodeName(target).constData(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ASSERT_TRUE(peer.send(blockMessage(0, patternBytes(2048, 9))));

    // Held for about 1 s: longer than most of the 10 tries, shorter than all of them.
    QElapsedTimer held;
    held.start();
    qint64 longestStep = 0;
    QByteArray got;
    while (held.elapsed() < 1000) {
        QElapsedTimer step;
        step.start();
        got += peer.receiveFor(20);
        longestStep = std::max(longestStep, step.elapsed());
    }
    EXPECT_EQ(got, QByteArray());  // nothing written, nothing asked for
    EXPECT_LT(longestStep, 500);
    ::close(holder);
    ASSERT_TRUE(peer.expect("a|1"));
    EXPECT_EQ(readFile(target), patternBytes(2048, 9));
}
