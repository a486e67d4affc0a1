#include "localsend/upload.h"

#include "localsend/uploadsink.h"

namespace localsend {

Upload::Upload(Session& session, int index, qint64 expected, const QByteArray& sha256,
               UploadSink* sink)
    : QObject(&session),
      m_session(&session),
      m_index(index),
      m_expected(expected),
      m_sha256(sha256),
      m_sink(sink) {
    m_sink->setParent(this);
    connect(m_sink, &UploadSink::drained, this, [this] {
        if (m_session && !m_session->paused()) {
            emit drained();
        }
    });
    connect(m_sink, &UploadSink::failed, this,
            [this](int) { fail(Session::End::WriteFailed, 500); });
    connect(m_sink, &UploadSink::finished, this, &Upload::writerFinished);
}

Upload::~Upload() {
    m_sink->stop();
}

Upload::Flow Upload::write(QByteArrayView bytes) {
    if (m_over) {
        return Flow::Refused;
    }
    if (bytes.size() > m_expected - m_received) {
        fail(Session::End::Corrupted, 400);  // more than announced
        return Flow::Refused;
    }
    m_received += bytes.size();
    const bool room = m_sink->put(bytes.toByteArray());
    if (m_session) {
        m_session->taken(m_index, bytes.size());
    }
    return room && !(m_session && m_session->paused()) ? Flow::More : Flow::Full;
}

void Upload::finish() {
    if (m_over) {
        return;
    }
    if (m_received != m_expected) {
        fail(Session::End::Corrupted, 400);  // fewer than announced
        return;
    }
    m_sink->finish();
}

void Upload::abort() {
    fail(Session::End::ConnectionError, 0);
}

void Upload::writerFinished(const QByteArray& sha256) {
    if (m_over) {
        return;
    }
    if (!m_sha256.isEmpty() && sha256 != m_sha256) {
        fail(Session::End::Corrupted, 400);
        return;
    }
    m_over = true;
    m_status = 200;
    emit answered(200);
    if (m_session) {
        m_session->fileDone(m_index);
    }
}

void Upload::fail(Session::End why, int status) {
    if (m_over) {
        return;
    }
    m_over = true;
    m_status = status;
    m_sink->stop();
    if (m_session) {
        m_session->fileFailed(m_index, why);
    }
    // Queued: the connection may be inside write() right now.
    QMetaObject::invokeMethod(
        this, [this, status] { emit answered(status); }, Qt::QueuedConnection);
}

void Upload::breakOff() {
    if (m_over) {
        return;
    }
    m_over = true;
    m_sink->stop();
    QMetaObject::invokeMethod(
        this, [this] { emit answered(0); }, Qt::QueuedConnection);
}

}  // namespace localsend
