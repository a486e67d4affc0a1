#pragma once

// What the tests of both roles share: waiting with a deadline, files of known bytes, and a
// receiving service and a sending session that record what they reported.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <functional>

#include "engine/laneidentity.h"
#include "engine/receivingservice.h"
#include "engine/sendingsession.h"
#include "engine/ttimer.h"

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

// A receiving service on a free port, answering its questions from a queue, and what it
// reported.
struct Receiver {
    explicit Receiver(bool lane = false, quint16 port = 0) : service(port) {
        service.setLaneIdentity(testLaneIdentity());
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
        session.setLaneIdentity(testLaneIdentity());
        session.setLaneEnabled(lane);
        QObject::connect(&session, &SendingSession::sendingEnded,
                         [this](Outcome outcome, bool) { ended.append(outcome); });
        QObject::connect(&session, &SendingSession::connected,
                         [this] { wentOverLane = session.onLane(); });
        QObject::connect(&session, &SendingSession::progress,
                         [this](const TransferProgress& p) { bytesDone = p.bytesDone; });
        QObject::connect(&session, &SendingSession::peerPaused, [this] { ++peerPauses; });
    }
    SendingSession session;
    QList<Outcome> ended;
    bool wentOverLane = false;
    qint64 bytesDone = 0;
    int peerPauses = 0;
};
