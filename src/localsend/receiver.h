#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <functional>

#include "localsend/deviceinfo.h"
#include "localsend/pinguard.h"

namespace localsend {

class Connection;
class Session;
class Upload;
struct HttpRequest;

// The LocalSend API (version 2) a receiver serves, whatever the connection: info, register,
// prepare-upload (with its PIN), upload and cancel. It holds at most one session; another
// sender is told 409, as is anyone while the role serves a transfer of another kind. Uploads
// are taken only from the address (and, over TLS, the certificate) that prepared the
// session, with the token given for that file.
class Receiver : public QObject {
    Q_OBJECT

public:
    // Bodies of register and other small requests.
    static constexpr qsizetype kMostSmallBody = 64 * 1024;

    explicit Receiver(QObject* parent = nullptr);
    ~Receiver() override;

    // What this device says about itself (its fingerprint, port and protocol included).
    void setDevice(const DeviceInfo& device) { m_device = device; }
    const DeviceInfo& device() const { return m_device; }
    // Empty: no PIN.
    void setPin(const QString& pin) { m_pins.setPin(pin); }

    // Takes each new session (its offer checked, its answer held); false refuses it (403).
    // Without a handler every offer is refused: nothing receives here.
    using OfferHandler = std::function<bool(Session*)>;
    void setOfferHandler(OfferHandler handler) { m_offerHandler = std::move(handler); }
    // True while a transfer of another kind is served: offers then get 409.
    void setBusyCheck(std::function<bool()> busy) { m_busy = std::move(busy); }

    // The session served, if any.
    Session* session();
    // Ends the session without a word to anyone.
    void dropSession();

    // What a connection does with a request whose head it has read.
    struct Route {
        enum class Kind {
            Answer,    // answer `status` with `body` (after reading any body)
            ReadJson,  // read the body, at most `limit` bytes, and call handleBody()
            Upload,    // stream the body to `upload`
        };
        Kind kind = Kind::Answer;
        int status = 404;
        QByteArray body;
        qsizetype limit = 0;
        Upload* upload = nullptr;
    };
    Route route(const HttpRequest& request, Connection& connection);
    // A JSON body read whole: the answer goes to `connection` now or later.
    void handleBody(const HttpRequest& request, const QByteArray& body, Connection& connection);

signals:
    // A device told this one about itself (an answer to an announcement, or a scan).
    void registered(const localsend::DeviceInfo& device, const QHostAddress& address);

private:
    void prepareUpload(const QByteArray& body, Connection& connection);
    void registerDevice(const QByteArray& body, Connection& connection);
    Route cancel(const HttpRequest& request, const Connection& connection);
    Route upload(const HttpRequest& request, Connection& connection);

    DeviceInfo m_device;
    PinGuard m_pins;
    OfferHandler m_offerHandler;
    std::function<bool()> m_busy;
    QPointer<Session> m_session;
};

}  // namespace localsend
