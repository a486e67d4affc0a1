#include "localsend/receiver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include "localsend/connection.h"
#include "localsend/httprequest.h"
#include "localsend/session.h"
#include "localsend/uploadoffer.h"

namespace localsend {

namespace {

constexpr QByteArrayView kInfo = "/api/localsend/v2/info";
constexpr QByteArrayView kOldInfo = "/api/localsend/v1/info";
constexpr QByteArrayView kRegister = "/api/localsend/v2/register";
constexpr QByteArrayView kPrepareUpload = "/api/localsend/v2/prepare-upload";
constexpr QByteArrayView kUpload = "/api/localsend/v2/upload";
constexpr QByteArrayView kCancel = "/api/localsend/v2/cancel";

Receiver::Route answer(int status, const QByteArray& body = {}) {
    Receiver::Route route;
    route.kind = Receiver::Route::Kind::Answer;
    route.status = status;
    route.body = body;
    return route;
}

Receiver::Route readJson(qsizetype limit) {
    Receiver::Route route;
    route.kind = Receiver::Route::Kind::ReadJson;
    route.limit = limit;
    return route;
}

bool sameAddress(const QHostAddress& a, const QHostAddress& b) {
    return a.isEqual(b, QHostAddress::TolerantConversion);
}

}  // namespace

Receiver::Receiver(QObject* parent) : QObject(parent) {}

Receiver::~Receiver() {
    dropSession();
}

Session* Receiver::session() {
    if (m_session && m_session->isEnded()) {
        m_session->deleteLater();
        m_session = nullptr;
    }
    return m_session;
}

void Receiver::dropSession() {
    if (Session* session = m_session) {
        m_session = nullptr;
        session->abandon();
        session->deleteLater();
    }
}

Receiver::Route Receiver::route(const HttpRequest& request, Connection& connection) {
    const QByteArray& path = request.path;
    const bool post = request.method == "POST";
    if (path == kInfo || path == kOldInfo) {
        if (!post && request.method != "GET") {
            return answer(405);
        }
        return answer(
            200,
            QJsonDocument(m_device.toJson(DeviceInfo::Form::Info)).toJson(QJsonDocument::Compact));
    }
    const bool known =
        path == kRegister || path == kPrepareUpload || path == kUpload || path == kCancel;
    if (!known) {
        return answer(404);
    }
    if (!post) {
        return answer(405);
    }
    if (path == kRegister) {
        return readJson(kMostSmallBody);
    }
    if (path == kCancel) {
        return cancel(request, connection);
    }
    if (path == kUpload) {
        return upload(request, connection);
    }
    // prepare-upload: the PIN before anything of the offer is read.
    const std::optional<QByteArray> pin = request.queryValue("pin");
    const PinGuard::Verdict verdict =
        m_pins.check(connection.peerAddress().toString(),
                     pin ? std::optional<QString>(QString::fromUtf8(*pin)) : std::nullopt);
    switch (verdict) {
        case PinGuard::Verdict::Blocked:
            return answer(429);
        case PinGuard::Verdict::Missing:
        case PinGuard::Verdict::Wrong:
            return answer(401);
        case PinGuard::Verdict::Ok:
            break;
    }
    return readJson(kMaxOfferBytes);
}

Receiver::Route Receiver::cancel(const HttpRequest& request, const Connection& connection) {
    Session* current = session();
    if (current == nullptr) {
        return answer(200);  // nothing to cancel (any more)
    }
    const std::optional<QByteArray> id = request.queryValue("sessionId");
    if (!sameAddress(connection.peerAddress(), current->peer().address) ||
        (id && QString::fromUtf8(*id) != current->id())) {
        return answer(403);
    }
    current->cancelByPeer();
    return answer(200);
}

Receiver::Route Receiver::upload(const HttpRequest& request, Connection& connection) {
    const std::optional<QByteArray> id = request.queryValue("sessionId");
    if (!id || !request.queryValue("fileId") || !request.queryValue("token")) {
        return answer(400);
    }
    Session* current = session();
    if (current == nullptr) {
        return answer(403);
    }
    // Another address learns nothing, not even which session is served.
    if (!sameAddress(connection.peerAddress(), current->peer().address)) {
        return answer(403);
    }
    if (QString::fromUtf8(*id) != current->id()) {
        return answer(409);
    }
    const Session::UploadStart start = current->startUpload(request, connection);
    if (start.upload == nullptr) {
        return answer(start.status);
    }
    Route route;
    route.kind = Route::Kind::Upload;
    route.upload = start.upload;
    return route;
}

void Receiver::handleBody(const HttpRequest& request, const QByteArray& body,
                          Connection& connection) {
    if (request.path == kRegister) {
        registerDevice(body, connection);
    } else {
        prepareUpload(body, connection);
    }
}

void Receiver::registerDevice(const QByteArray& body, Connection& connection) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    const std::optional<DeviceInfo> device =
        document.isObject() ? DeviceInfo::fromJson(document.object()) : std::nullopt;
    if (!device) {
        connection.respond(400);
        return;
    }
    // Over TLS with a certificate, the device is who the certificate says: a claim of
    // another fingerprint is not listed.
    const bool proved = !connection.clientFingerprint().isEmpty();
    const bool honest = !proved || device->fingerprint == connection.clientFingerprint();
    const QHostAddress address = connection.peerAddress();
    const DeviceInfo registered = *device;
    connection.respond(
        200, QJsonDocument(m_device.toJson(DeviceInfo::Form::Info)).toJson(QJsonDocument::Compact));
    if (honest && registered.fingerprint != m_device.fingerprint) {
        emit this->registered(registered, address);
    }
}

void Receiver::prepareUpload(const QByteArray& body, Connection& connection) {
    ParsedOffer parsed = parseUploadOffer(body);
    if (!parsed.offer) {
        connection.respond(parsed.status);
        return;
    }
    if (session() != nullptr || (m_busy && m_busy())) {
        connection.respond(409);
        return;
    }
    if (!m_offerHandler) {
        connection.respond(403);
        return;
    }
    Session::Peer peer{connection.peerAddress(), connection.secure(),
                       connection.clientFingerprint()};
    auto* created = new Session(std::move(*parsed.offer), std::move(peer), &connection, this);
    m_session = created;
    if (!m_offerHandler(created)) {
        m_session = nullptr;
        created->abandon();  // answers 403
        created->deleteLater();
    }
}

}  // namespace localsend
