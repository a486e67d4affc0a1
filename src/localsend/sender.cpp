#include "localsend/sender.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThreadPool>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <utility>

#include "identity/fingerprint.h"

namespace localsend {

namespace {

constexpr int kRegisterTimeoutMs = 5000;
constexpr int kCancelGraceMs = 2000;

// The errors of an HTTPS attempt at a receiver that speaks only HTTP.
bool notTls(QNetworkReply::NetworkError error) {
    return error == QNetworkReply::SslHandshakeFailedError ||
           error == QNetworkReply::RemoteHostClosedError ||
           error == QNetworkReply::ProtocolFailure || error == QNetworkReply::UnknownNetworkError;
}

}  // namespace

Sender::Sender(const DeviceInfo& self, const Identity* identity, QObject* parent)
    : QObject(parent), m_self(self), m_stopHashing(std::make_shared<std::atomic_bool>(false)) {
    if (identity != nullptr) {
        m_identity = *identity;
    }
    // Every connection over TLS must show the receiver's certificate before anything is
    // sent on it.
    connect(&m_http, &QNetworkAccessManager::encrypted, this, &Sender::checkCertificate);
}

Sender::~Sender() {
    *m_stopHashing = true;
    m_ended = true;
    for (const QPointer<QNetworkReply>& reply : m_uploads) {
        if (reply) {
            reply->abort();
        }
    }
}

void Sender::start(const QString& host, quint16 port, std::vector<File> files, const QString& pin,
                   const QString& knownFingerprint) {
    m_host = host;
    m_port = port;
    m_files = std::move(files);
    m_pin = pin;
    m_fingerprint = fingerprint::normalized(knownFingerprint);
    m_sent.assign(m_files.size(), 0);
    m_total = 0;
    for (const File& file : m_files) {
        m_total += file.size;
    }
    // The SHA-256 of every file, read on a thread of the pool: the receiver checks each.
    std::vector<QString> sources;
    for (const File& file : m_files) {
        sources.push_back(file.source);
    }
    const QPointer<Sender> self(this);
    QThreadPool::globalInstance()->start([self, sources, stop = m_stopHashing] {
        std::vector<QByteArray> hashes;
        int failed = -1;
        for (std::size_t i = 0; i < sources.size() && failed < 0 && !*stop; ++i) {
            QFile file(sources[i]);
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
                failed = int(i);
            }
            hashes.push_back(hash.result().toHex());
        }
        if (*stop) {
            return;
        }
        QMetaObject::invokeMethod(
            qApp,
            [self, hashes, failed] {
                if (self) {
                    self->hashed(hashes, failed);
                }
            },
            Qt::QueuedConnection);
    });
}

void Sender::hashed(const std::vector<QByteArray>& hashes, int failed) {
    if (m_ended) {
        return;
    }
    if (failed >= 0) {
        finish(End::CannotRead, m_files[std::size_t(failed)].source);
        return;
    }
    m_hashes = hashes;
    probe(true);
}

int Sender::status(QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

void Sender::checkCertificate(QNetworkReply* reply) {
    const QSslCertificate certificate = reply->sslConfiguration().peerCertificate();
    const QString seen =
        certificate.isNull() ? QString() : fingerprint::ofCertificate(certificate.toDer());
    if (m_fingerprint.isEmpty()) {
        m_fingerprint = seen;  // the first certificate seen is the one from now on
    }
    if (seen.isEmpty() || seen != m_fingerprint) {
        reply->setProperty("wrongCertificate", true);
        reply->abort();
    }
}

QNetworkReply* Sender::post(const QString& path, const QByteArray& body, const QString& query) {
    QUrl url;
    url.setScheme(m_https ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(m_host);
    url.setPort(m_port);
    url.setPath(QStringLiteral("/api/localsend/v2/") + path);
    if (!query.isEmpty()) {
        url.setQuery(query);
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    if (m_https) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        if (m_identity) {
            tls.setLocalCertificate(m_identity->certificate());
            tls.setPrivateKey(m_identity->privateKey());
        }
        // No authority signs a LocalSend certificate: the fingerprint decides (above).
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(tls);
    }
    return m_http.post(request, body);
}

// Registering tells which of the two the receiver speaks, and who it is.
void Sender::probe(bool https) {
    m_https = https;
    m_self.https = https;
    QNetworkReply* reply = post(
        QStringLiteral("register"),
        QJsonDocument(m_self.toJson(DeviceInfo::Form::Register)).toJson(QJsonDocument::Compact));
    QTimer::singleShot(kRegisterTimeoutMs, reply, [reply] { reply->abort(); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, https] {
        reply->deleteLater();
        if (m_ended) {
            return;
        }
        if (reply->property("wrongCertificate").toBool()) {
            finish(End::FingerprintChanged, m_fingerprint);
            return;
        }
        if (reply->error() != QNetworkReply::NoError && status(reply) == 0) {
            if (https && notTls(reply->error())) {
                probe(false);
                return;
            }
            finish(End::ConnectionError, reply->errorString());
            return;
        }
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        m_alias = printable(answer.value(QStringLiteral("alias")).toString());
        emit reached();
        prepare();
    });
}

void Sender::prepare() {
    QJsonObject files;
    QMimeDatabase mime;
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        const File& file = m_files[i];
        const QString id = QString::number(i);
        files.insert(id, QJsonObject{
                             {QStringLiteral("id"), id},
                             {QStringLiteral("fileName"), file.name},
                             {QStringLiteral("size"), file.size},
                             {QStringLiteral("fileType"), mime.mimeTypeForFile(file.source).name()},
                             {QStringLiteral("sha256"), QString::fromLatin1(m_hashes[i])},
                         });
    }
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("info"),
                                                       m_self.toJson(DeviceInfo::Form::Register)},
                                                      {QStringLiteral("files"), files}})
                                .toJson(QJsonDocument::Compact);
    QUrlQuery query;
    if (!m_pin.isEmpty()) {
        query.addQueryItem(QStringLiteral("pin"), m_pin);
    }
    // The answer waits for the receiving user: no time limit here.
    QNetworkReply* reply =
        post(QStringLiteral("prepare-upload"), body, query.toString(QUrl::FullyEncoded));
    m_uploads.append(reply);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        m_uploads.removeAll(reply);
        if (m_ended) {
            return;
        }
        if (reply->property("wrongCertificate").toBool()) {
            finish(End::FingerprintChanged, m_fingerprint);
            return;
        }
        switch (status(reply)) {
            case 200:
                break;
            case 204:
                finish(End::NothingToSend);
                return;
            case 401:
                finish(m_pin.isEmpty() ? End::PinRequired : End::WrongPin);
                return;
            case 403:
                finish(End::Declined);
                return;
            case 409:
                finish(End::Busy);
                return;
            case 429:
                finish(End::TooManyTries);
                return;
            case 0:
                finish(End::ConnectionError, reply->errorString());
                return;
            default:
                finish(End::Refused, QString::number(status(reply)));
                return;
        }
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        m_session = answer.value(QStringLiteral("sessionId")).toString();
        const QJsonObject tokens = answer.value(QStringLiteral("files")).toObject();
        for (auto it = tokens.begin(); it != tokens.end(); ++it) {
            m_tokens.insert(it.key(), it.value().toString());
        }
        emit accepted();
        for (int i = 0; i < kParallelUploads; ++i) {
            uploadNext();
        }
    });
}

void Sender::uploadNext() {
    if (m_ended || m_cancelling) {
        return;
    }
    // Files without a token are ones the receiver does not want.
    while (m_nextUpload < m_files.size() && !m_tokens.contains(QString::number(m_nextUpload))) {
        ++m_nextUpload;
    }
    if (m_nextUpload >= m_files.size()) {
        if (std::none_of(m_uploads.begin(), m_uploads.end(),
                         [](const QPointer<QNetworkReply>& r) { return !r.isNull(); })) {
            finish(End::Sent);
        }
        return;
    }
    const int index = int(m_nextUpload++);
    const File& file = m_files[std::size_t(index)];
    auto* source = new QFile(file.source);
    if (!source->open(QIODevice::ReadOnly) || source->size() != file.size) {
        delete source;
        fail(End::CannotRead, file.source);
        return;
    }
    QUrl url;
    url.setScheme(m_https ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(m_host);
    url.setPort(m_port);
    url.setPath(QStringLiteral("/api/localsend/v2/upload"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("sessionId"), m_session);
    query.addQueryItem(QStringLiteral("fileId"), QString::number(index));
    query.addQueryItem(QStringLiteral("token"), m_tokens.value(QString::number(index)));
    url.setQuery(query);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/octet-stream"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, file.size);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    if (m_https) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        if (m_identity) {
            tls.setLocalCertificate(m_identity->certificate());
            tls.setPrivateKey(m_identity->privateKey());
        }
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(tls);
    }
    // Streamed from the file: never the whole file in memory.
    QNetworkReply* reply = m_http.post(request, source);
    source->setParent(reply);
    m_uploads.append(reply);
    connect(reply, &QNetworkReply::uploadProgress, this, [this, index](qint64 sent, qint64) {
        m_sent[std::size_t(index)] = sent;
        qint64 done = 0;
        for (const qint64 bytes : m_sent) {
            done += bytes;
        }
        emit progress(done, m_total);
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, index] { uploadDone(reply, index); });
}

void Sender::uploadDone(QNetworkReply* reply, int index) {
    reply->deleteLater();
    m_uploads.removeAll(reply);
    if (m_ended || m_cancelling) {
        return;
    }
    if (reply->property("wrongCertificate").toBool()) {
        fail(End::FingerprintChanged, m_fingerprint);
        return;
    }
    const int code = status(reply);
    if (code != 200) {
        fail(code == 0 ? End::ConnectionError : End::Refused,
             code == 0 ? reply->errorString() : QString::number(code));
        return;
    }
    m_sent[std::size_t(index)] = m_files[std::size_t(index)].size;
    uploadNext();
}

// Ends a send under way: the receiver is told first (so that it hears a cancel, not a
// broken upload), then the uploads still going are dropped and the end is reported.
void Sender::fail(End end, const QString& detail) {
    if (m_ended || m_cancelling) {
        return;
    }
    m_cancelling = true;
    *m_stopHashing = true;
    const auto dropUploads = [this] {
        for (const QPointer<QNetworkReply>& reply : std::as_const(m_uploads)) {
            if (reply) {
                reply->disconnect(this);
                reply->abort();
            }
        }
        m_uploads.clear();
    };
    if (m_session.isEmpty()) {
        dropUploads();
        finish(end, detail);
        return;
    }
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("sessionId"), m_session);
    QNetworkReply* reply = post(QStringLiteral("cancel"), {}, query.toString(QUrl::FullyEncoded));
    connect(reply, &QNetworkReply::finished, this, [this, reply, end, detail, dropUploads] {
        reply->deleteLater();
        dropUploads();
        finish(end, detail);
    });
    QTimer::singleShot(kCancelGraceMs, reply, [reply] { reply->abort(); });
}

void Sender::cancel() {
    if (m_ended) {
        return;
    }
    if (m_session.isEmpty()) {
        // Nothing to tell yet: an offer still waiting is withdrawn by closing it.
        m_cancelling = true;
        *m_stopHashing = true;
        for (const QPointer<QNetworkReply>& reply : m_uploads) {
            if (reply) {
                reply->disconnect(this);
                reply->abort();
            }
        }
        finish(End::Cancelled);
        return;
    }
    fail(End::Cancelled);
}

void Sender::finish(End end, const QString& detail) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    emit ended(end, detail);
}

}  // namespace localsend
