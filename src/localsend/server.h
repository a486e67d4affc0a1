#pragma once

#include <QSslConfiguration>
#include <QTcpServer>

#include <optional>

#include "identity/identity.h"
#include "localsend/receiver.h"

namespace localsend {

// The LocalSend server: one TCP port that speaks HTTPS (with this copy's identity) and plain
// HTTP alike, told apart by the first byte a client sends (0x16 opens a TLS handshake). Over
// TLS a client certificate is asked for but not required; the fingerprint of one presented
// is kept with the connection. Each connection is served by the receiver, which holds the
// API's rules.
class Server : public QTcpServer {
    Q_OBJECT

public:
    // Connections open at once (waiting for a first byte, in a handshake or served); more are
    // closed as they come.
    static constexpr int kMostConnections = 64;
    // A client that has sent nothing, or not finished its handshake, by then is closed.
    static constexpr int kFirstBytesMs = 10 * 1000;

    // Without an identity only plain HTTP is served.
    explicit Server(const Identity* identity, QObject* parent = nullptr);
    // Closes every connection without answering; the session ends without a word.
    ~Server() override;

    Receiver& receiver() { return m_receiver; }
    bool secure() const { return m_identity.has_value(); }
    // The fingerprint a LocalSend peer knows this server by: the certificate's, or (plain
    // HTTP only) a random text made once.
    QString fingerprint() const;
    // Stops listening and closes every connection; the session ends without a word.
    void closeAll();
    int connectionCount() const { return m_open; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void serveTls(qintptr descriptor);
    void servePlain(qintptr descriptor);
    void track(QObject* object);

    std::optional<Identity> m_identity;
    QSslConfiguration m_tls;
    QString m_randomFingerprint;
    Receiver m_receiver;
    int m_open = 0;
};

}  // namespace localsend
