#include "localsend/deviceinfo.h"

#include <QJsonValue>

namespace localsend {

namespace {

constexpr qsizetype kMaxText = 256;
constexpr qsizetype kMaxShown = 64;

// A string field: nothing when absent or null, false in `ok` when it is something else or
// too long.
QString textField(const QJsonObject& json, const QString& key, bool& ok) {
    const QJsonValue value = json.value(key);
    if (value.isUndefined() || value.isNull()) {
        return {};
    }
    if (!value.isString() || value.toString().size() > kMaxText) {
        ok = false;
        return {};
    }
    return value.toString();
}

}  // namespace

QJsonObject DeviceInfo::toJson(Form form, bool announce) const {
    QJsonObject json{
        {QStringLiteral("alias"), alias},
        {QStringLiteral("version"), version},
        {QStringLiteral("deviceModel"),
         deviceModel.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(deviceModel)},
        {QStringLiteral("deviceType"), deviceType},
        {QStringLiteral("fingerprint"), fingerprint},
        {QStringLiteral("download"), download},
    };
    if (form != Form::Info) {
        json.insert(QStringLiteral("port"), int(port));
        json.insert(QStringLiteral("protocol"),
                    https ? QStringLiteral("https") : QStringLiteral("http"));
    }
    if (form == Form::Announce) {
        json.insert(QStringLiteral("announce"), announce);
    }
    return json;
}

std::optional<DeviceInfo> DeviceInfo::fromJson(const QJsonObject& json) {
    bool ok = true;
    DeviceInfo info;
    const QJsonValue alias = json.value(QStringLiteral("alias"));
    if (!alias.isString()) {
        return std::nullopt;
    }
    info.alias = textField(json, QStringLiteral("alias"), ok);
    info.version = textField(json, QStringLiteral("version"), ok);
    info.deviceModel = textField(json, QStringLiteral("deviceModel"), ok);
    info.fingerprint = textField(json, QStringLiteral("fingerprint"), ok);
    const QString type = textField(json, QStringLiteral("deviceType"), ok);
    static const QStringList kTypes = {QStringLiteral("mobile"), QStringLiteral("desktop"),
                                       QStringLiteral("web"), QStringLiteral("headless"),
                                       QStringLiteral("server")};
    info.deviceType = kTypes.contains(type) ? type : QStringLiteral("desktop");
    const QJsonValue port = json.value(QStringLiteral("port"));
    if (port.isDouble()) {
        const qint64 number = port.toInteger(-1);
        if (number < 1 || number > 65535 || double(number) != port.toDouble()) {
            return std::nullopt;
        }
        info.port = quint16(number);
    } else if (!port.isUndefined() && !port.isNull()) {
        return std::nullopt;
    }
    const QString protocol = textField(json, QStringLiteral("protocol"), ok);
    info.https = protocol != QLatin1String("http");
    info.download = json.value(QStringLiteral("download")).toBool(false);
    if (!ok) {
        return std::nullopt;
    }
    return info;
}

QString printable(const QString& text) {
    QString shown;
    for (const uint u : text.toUcs4()) {
        const auto category = QChar::category(char32_t(u));
        const bool hidden =
            u < 0x20 || (u >= 0x7F && u <= 0x9F) || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph ||
            category == QChar::Other_Surrogate || category == QChar::Other_NotAssigned;
        const char32_t c = hidden ? U' ' : char32_t(u);
        shown += QString::fromUcs4(&c, 1);
        if (shown.size() >= kMaxShown) {
            break;
        }
    }
    return shown.trimmed();
}

}  // namespace localsend
