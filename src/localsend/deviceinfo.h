#pragma once

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

#include <optional>

// What a LocalSend device says about itself in announcements, registrations, offers and
// its info answer.
namespace localsend {

constexpr quint16 kDefaultPort = 53317;
constexpr const char* kMulticastGroup = "224.0.0.167";
// The protocol's version this implementation follows (major.minor).
constexpr const char* kProtocolVersion = "2.1";

struct DeviceInfo {
    QString alias;
    QString version = QString::fromLatin1(kProtocolVersion);
    QString deviceModel;  // empty travels as null
    // mobile, desktop, web, headless or server; anything else is read as desktop.
    QString deviceType = QStringLiteral("desktop");
    // With HTTPS the SHA-256 of the certificate's DER form; with HTTP any string.
    QString fingerprint;
    quint16 port = kDefaultPort;
    bool https = true;
    bool download = false;

    enum class Form {
        Info,      // the info and register answers: no port, no protocol
        Register,  // a register request and an offer's "info": with port and protocol
        Announce,  // a multicast message: with port, protocol and "announce"
    };
    QJsonObject toJson(Form form, bool announce = true) const;
    // Nothing when the object is not a device's description or its texts are too long.
    static std::optional<DeviceInfo> fromJson(const QJsonObject& json);
};

// An alias or model as it may be shown: control, format and separator characters (which
// could fake a line or reorder the text) become spaces, and it is cut to 64 characters.
QString printable(const QString& text);

}  // namespace localsend
