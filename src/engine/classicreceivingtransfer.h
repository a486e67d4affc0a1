#pragma once

#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

#include "engine/fileretry.h"
#include "engine/peerinput.h"
#include "engine/transfer.h"
#include "engine/ttimer.h"
#include "transfer/fileaccess.h"
#include "transfer/receiverinput.h"
#include "transfer/receiversession.h"

class TSocketConnection;

// The receiving end of the classic protocol on one served connection: the peer's offer (a
// peer that offers nothing for 6 seconds is dismissed as an intruder), then, once accepted,
// the file pulled block by block into its target, continuing it from its length, with
// pauses from either side. The receiving role owns the listener and hands this carrier the
// events of its connection.
class ClassicReceivingTransfer : public Transfer {
    Q_OBJECT

public:
    using FreeSpaceProbe = std::function<qint64(const QString& folder)>;

    ClassicReceivingTransfer(TSocketConnection* connection, FreeSpaceProbe freeSpace,
                             QObject* parent = nullptr);

    Carrier carrier() const override { return Carrier::Classic; }
    TSocketConnection* connection() const { return m_connection; }
    // Told to go (an intruder): its bytes stay unread, and another peer may be served.
    bool dismissed() const;

    // The connection's events, as the role receives them.
    void readInput();
    void connectionClosed();
    void connectionError(int& errorCode);
    // The role lets the peer go without a word (it stops listening): nothing more happens.
    void letGo();

    void accept(const QString& target) override;
    void decline() override;
    void pause() override;
    void resume() override;
    void cancel() override;

private:
    void dispatch(const ReceiverInput::Message& message);
    void takeOffer(const ReceiverInput::Message& message);
    void takeBlock(const ReceiverInput::Message& message);
    bool writeBlock(qint64 index, QByteArrayView data, qint64 end);
    void takePause();
    void takeResume();
    // Asks for the block at the file's end, or tells the peer the file is complete. The
    // length is measured with an open of the file unless the caller knows it already.
    void requestNextBlock(std::optional<qint64> knownLength = std::nullopt);
    bool requestFrom(std::optional<qint64> length);
    void takeWaitingInput();
    void intruderTimeout();
    void close(Outcome outcome);
    void finish(Outcome outcome);

    QPointer<TSocketConnection> m_connection;
    FreeSpaceProbe m_freeSpace;
    TTimer m_intruder;
    FileAccess m_files = FileAccess::once();
    FileRetry m_retry;
    ReceiverInput m_input;
    ReceiverSession m_session;
    AnswerBacklog m_backlog;
    QString m_target;
    QString m_folder;
    std::optional<Outcome> m_outcome;
    bool m_started = false;
    bool m_userPaused = false;
    bool m_resumeInput = false;  // input waits, unread, for a step that waits for the file
    bool m_ended = false;
};
