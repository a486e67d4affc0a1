#pragma once

#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "identity/identity.h"
#include "localsend/deviceinfo.h"

class QNetworkReply;

namespace localsend {

// Sends files to a LocalSend receiver as version 2 of the protocol says: it finds out
// whether the receiver speaks HTTPS (presenting this copy's identity) or only HTTP by
// registering with it, offers the files (with their SHA-256) by prepare-upload, and uploads
// them two at a time, streamed from disk. Over HTTPS every request must meet the certificate
// first seen (or the one given as known): another one ends the send before any byte of a
// file leaves.
class Sender : public QObject {
    Q_OBJECT

public:
    enum class End {
        Sent,
        NothingToSend,       // 204: the receiver needs none of the files
        PinRequired,         // 401 without a PIN
        WrongPin,            // 401 with one
        Declined,            // 403 to the offer
        Busy,                // 409 to the offer
        TooManyTries,        // 429
        Refused,             // another answer (`detail` gives the status)
        FingerprintChanged,  // not the certificate known for the receiver
        ConnectionError,
        CannotRead,  // a file could not be read, or changed size
        Cancelled,
    };
    struct File {
        QString source;  // on this computer
        QString name;    // as offered: a relative path, "/" between folders
        qint64 size = 0;
    };
    static constexpr int kParallelUploads = 2;

    // `self` is how this device introduces itself; `identity` is presented over HTTPS.
    Sender(const DeviceInfo& self, const Identity* identity, QObject* parent = nullptr);
    ~Sender() override;

    // `knownFingerprint`, when given, is the certificate the receiver must show.
    void start(const QString& host, quint16 port, std::vector<File> files,
               const QString& pin = QString(), const QString& knownFingerprint = QString());
    // Ends the send; the receiver is told so. ended(Cancelled) follows.
    void cancel();

    bool secure() const { return m_https; }
    const QString& receiverFingerprint() const { return m_fingerprint; }
    const QString& receiverAlias() const { return m_alias; }

signals:
    // The receiver answered: the offer goes out now.
    void reached();
    // It accepted: uploads begin.
    void accepted();
    void progress(qint64 done, qint64 total);
    // Exactly once. `detail` is the HTTP status for Refused, the file for CannotRead.
    void ended(localsend::Sender::End end, const QString& detail);

private:
    QNetworkReply* post(const QString& path, const QByteArray& body, const QString& query = {});
    void hashed(const std::vector<QByteArray>& hashes, int failed);
    void probe(bool https);
    void prepare();
    void uploadNext();
    void uploadDone(QNetworkReply* reply, int index);
    void fail(End end, const QString& detail = QString());
    void finish(End end, const QString& detail = QString());
    void checkCertificate(QNetworkReply* reply);
    static int status(QNetworkReply* reply);

    DeviceInfo m_self;
    std::optional<Identity> m_identity;
    QNetworkAccessManager m_http;
    QString m_host;
    quint16 m_port = 0;
    std::vector<File> m_files;
    std::vector<QByteArray> m_hashes;
    QString m_pin;
    QString m_fingerprint;  // the receiver's, once seen (or as given)
    QString m_alias;
    bool m_https = true;
    QString m_session;
    QHash<QString, QString> m_tokens;
    std::size_t m_nextUpload = 0;
    QList<QPointer<QNetworkReply>> m_uploads;
    std::vector<qint64> m_sent;
    qint64 m_total = 0;
    bool m_ended = false;
    bool m_cancelling = false;
    std::shared_ptr<std::atomic_bool> m_stopHashing;
};

}  // namespace localsend
