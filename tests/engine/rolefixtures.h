#pragma once

// What the tests of both roles share: waiting with a deadline, files of known bytes, and a
// receiving service and a sending session that record what they reported.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QThread>

#include <functional>

#include "engine/laneidentity.h"
#include "engine/receivingservice.h"
#include "engine/sendingsession.h"
#include "engine/ttimer.h"
#include "identity/lanetls.h"
#include "identity/tlspeerguard.h"

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(200);
    }
    return true;
}

inline QByteArray patternBytes(qint64 size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& c : bytes) {
        c = static_cast<char>(generator.generate() & 0xFF);
    }
    return bytes;
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One identity for every lane end of the test program, kept in a folder of its own.
inline std::shared_ptr<const LaneIdentity> testLaneIdentity() {
    static QTemporaryDir folder;
    static const std::shared_ptr<const LaneIdentity> identity = [] {
        QString error;
        auto loaded = LaneIdentity::load(folder.path(), &error);
        EXPECT_TRUE(loaded) << error.toStdString();
        return loaded;
    }();
    return identity;
}

// The test program's identity with stores of its own (trusted computers, pins) in `folder`:
// what one sender remembers never leaks into another test.
inline std::shared_ptr<const LaneIdentity> testLaneIdentityIn(const QString& folder) {
    const QString name = QString::fromLatin1(Identity::kFileName);
    QFile::copy(QDir(testLaneIdentity()->folder()).filePath(name), QDir(folder).filePath(name));
    QString error;
    auto loaded = LaneIdentity::load(folder, &error);
    EXPECT_TRUE(loaded) << error.toStdString();
    return loaded;
}

// Another computer: a new identity (and stores) in `folder`, named `name`.
inline std::shared_ptr<const LaneIdentity> otherLaneIdentity(const QString& folder,
                                                             const QString& name) {
    QString error;
    auto made = LaneIdentity::load(folder, &error, name);
    EXPECT_TRUE(made) << error.toStdString();
    return made;
}

// A peer on the lane speaking raw bytes inside TLS, with the test program's identity (the
// lane's port speaks nothing but TLS).
struct TlsPeer : QSslSocket {
    TlsPeer() {
        setSslConfiguration(lanetls::configuration(testLaneIdentity()->identity()));
        new TlsPeerGuard(this, lanetls::anyPeer(), lanetls::kHandshakeTimeoutMs);
    }
    bool open(quint16 port) {
        connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        return waitUntil([this] { return isEncrypted() || state() == UnconnectedState; }) &&
               isEncrypted();
    }
    // Reads until the receiver closed; what it said.
    QByteArray readToClose(int timeoutMs = 20000) {
        QByteArray heard;
        waitUntil(
            [&] {
                heard += readAll();
                return state() == UnconnectedState;
            },
            timeoutMs);
        return heard;
    }
};

// A receiving service on a free port, answering its questions from a queue, and what it
// reported.
struct Receiver {
    explicit Receiver(bool lane = false, quint16 port = 0,
                      std::shared_ptr<const LaneIdentity> identity = nullptr)
        : service(port) {
        service.setLaneIdentity(identity ? identity : testLaneIdentity());
        service.setLaneEnabled(lane);
        QObject::connect(&service, &ReceivingService::offerArrived,
                         [this](const ReceivingService::Offer& offer) {
                             offers.append(offer);
                             if (acceptOffers) {
                                 service.acceptOffer(folder());
                             }
                         });
        QObject::connect(&service, &ReceivingService::questionAsked,
                         [this](quint64 id, ReceivingService::Question question) {
                             questions.append(question);
                             service.answer(id, answers.isEmpty() ? true : answers.takeFirst());
                         });
        QObject::connect(&service, &ReceivingService::receptionEnded,
                         [this](Outcome outcome, bool) { ended.append(outcome); });
        QObject::connect(&service, &ReceivingService::progress,
                         [this](const TransferProgress& p) { bytesDone = p.bytesDone; });
        QObject::connect(&service, &ReceivingService::peerPaused, [this] { ++peerPauses; });
        listening = service.startListening();
        // The lane needs the port after the one the system gave to be free as well.
        for (int attempt = 0;
             lane && port == 0 && listening && !service.laneListening() && attempt < 20;
             ++attempt) {
            service.stopListening();
            listening = service.startListening();
        }
    }
    QString folder() const { return dir.path() + QLatin1Char('/'); }
    quint16 port() const { return service.listeningPort(); }

    QTemporaryDir dir;
    ReceivingService service;
    bool acceptOffers = true;
    QList<bool> answers;
    QList<ReceivingService::Offer> offers;
    QList<ReceivingService::Question> questions;
    QList<Outcome> ended;
    qint64 bytesDone = 0;
    int peerPauses = 0;
    bool listening = false;
};

struct Sender {
    explicit Sender(quint16 port, bool lane = false) : session(port, nullptr) {
        session.setLaneIdentity(testLaneIdentityIn(stores.path()));
        session.setLaneEnabled(lane);
        QObject::connect(&session, &SendingSession::sendingEnded,
                         [this](Outcome outcome, bool) { ended.append(outcome); });
        QObject::connect(&session, &SendingSession::connected,
                         [this] { wentOverLane = session.onLane(); });
        QObject::connect(&session, &SendingSession::progress,
                         [this](const TransferProgress& p) { bytesDone = p.bytesDone; });
        QObject::connect(&session, &SendingSession::peerPaused, [this] { ++peerPauses; });
    }
    QTemporaryDir stores;  // the pins this sender remembers
    SendingSession session;
    QList<Outcome> ended;
    bool wentOverLane = false;
    qint64 bytesDone = 0;
    int peerPauses = 0;
};
