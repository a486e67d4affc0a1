#pragma once

#include <QByteArray>

#include <optional>

#include "engine/fileretry.h"
#include "engine/outgoingfile.h"
#include "engine/peerinput.h"
#include "engine/transfer.h"
#include "transfer/blockmessagebuffer.h"
#include "transfer/fileaccess.h"
#include "transfer/senderinput.h"

class TClientEndpoint;
class TSocketConnection;

// The sending end of the classic protocol: connects, offers the file, answers every block
// request with one block read from the file, pauses and resumes as the receiver and the user
// say, and tells how it ended. The receiver cannot say it declined: a close before any
// request counts as declined, a close after one as the peer leaving.
class ClassicSendingTransfer : public Transfer {
    Q_OBJECT

public:
    explicit ClassicSendingTransfer(const OutgoingFile& file, QObject* parent = nullptr);
    // Closes an open connection without further events.
    ~ClassicSendingTransfer() override;

    Carrier carrier() const override { return Carrier::Classic; }
    // Connects to a dotted IPv4 address. Ends (never before returning) with BadAddress when
    // no connection can even be tried.
    void start(const QString& address, quint16 port);

    void accept(const QString&) override {}
    void decline() override {}
    void pause() override;
    void resume() override;
    void cancel() override;

private:
    void clientConnect(TSocketConnection* socket);
    void clientRead(TSocketConnection* socket);
    void clientError(TSocketConnection* socket, int& errorCode);
    void dispatch(const SenderInput::Message& message, TSocketConnection* socket);
    void sendBlock(qint64 index);
    bool readAndSend(qint64 index);
    void close(Outcome outcome);
    void finish(Outcome outcome);
    void finishQueued(Outcome outcome);

    TClientEndpoint* m_client;
    OutgoingFile m_file;
    QByteArray m_wireName;  // the offered name, encoded once
    FileAccess m_files = FileAccess::once();
    FileRetry m_retry;
    BlockMessageBuffer m_blockMessage;  // the block being sent, read straight into it
    SenderInput m_input;
    AnswerBacklog m_backlog;
    std::optional<Outcome> m_outcome;
    bool m_requested = false;  // the receiver asked for a block at least once
    bool m_userPaused = false;
    bool m_pauseSent = false;    // the receiver was told to pause and not yet to resume
    bool m_resumeInput = false;  // input waits, unread, for a step that waits for the file
    bool m_ended = false;
};
