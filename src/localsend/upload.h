#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QPointer>

#include "localsend/session.h"

namespace localsend {

class UploadSink;

// The body of one upload request on its way to disk: what the connection that reads it
// talks to. Counts the bytes against the size announced, hands them to the file's writer,
// and gives the answer once the file is written and checked.
class Upload : public QObject {
    Q_OBJECT

public:
    enum class Flow {
        More,     // read on
        Full,     // stop reading until drained()
        Refused,  // more bytes than announced: answer status() and close
    };

    Upload(Session& session, int index, qint64 expected, const QByteArray& sha256,
           UploadSink* sink);
    ~Upload() override;

    Flow write(QByteArrayView bytes);
    // The body ended. answered() follows.
    void finish();
    // The connection broke off before the body ended: the file fails.
    void abort();
    int status() const { return m_status; }

signals:
    void drained();
    // The answer to the request: 200, 400 (size or hash not as announced), 500 (writing
    // failed); 0 when the session ended and the connection is to be closed unanswered.
    void answered(int status);

private:
    friend class Session;
    void fail(Session::End why, int status);
    void writerFinished(const QByteArray& sha256);
    // The session ended: the connection closes.
    void breakOff();

    QPointer<Session> m_session;
    int m_index;
    qint64 m_expected;
    qint64 m_received = 0;
    QByteArray m_sha256;
    UploadSink* m_sink;
    int m_status = 0;
    bool m_over = false;
};

}  // namespace localsend
