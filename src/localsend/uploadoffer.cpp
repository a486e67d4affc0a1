#include "localsend/uploadoffer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include "lane/entries/manifestchecker.h"

namespace localsend {

namespace {

// The largest integer a JSON number holds exactly.
constexpr qint64 kMaxExactInteger = qint64(1) << 53;
constexpr qsizetype kMaxIdLength = 256;

ParsedOffer refused(int status, const QString& problem) {
    ParsedOffer parsed;
    parsed.status = status;
    parsed.problem = problem;
    return parsed;
}

bool isHex(QByteArrayView text) {
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

ParsedOffer parseUploadOffer(QByteArrayView body) {
    if (body.size() > kMaxOfferBytes) {
        return refused(413, QStringLiteral("body too large"));
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return refused(400, QStringLiteral("not a JSON object"));
    }
    const QJsonObject root = document.object();
    const QJsonValue info = root.value(QStringLiteral("info"));
    const QJsonValue files = root.value(QStringLiteral("files"));
    if (!info.isObject() || !files.isObject()) {
        return refused(400, QStringLiteral("no info or no files"));
    }
    std::optional<DeviceInfo> sender = DeviceInfo::fromJson(info.toObject());
    if (!sender) {
        return refused(400, QStringLiteral("bad info"));
    }
    const QJsonObject list = files.toObject();
    if (list.isEmpty()) {
        return refused(204, QStringLiteral("no files"));
    }
    if (list.size() > kMaxOfferFiles) {
        return refused(413, QStringLiteral("too many files"));
    }
    UploadOffer offer;
    offer.sender = std::move(*sender);
    offer.files.reserve(std::size_t(list.size()));
    entries::ManifestChecker checker;
    for (auto it = list.begin(); it != list.end(); ++it) {
        const QString id = it.key();
        if (id.isEmpty() || id.size() > kMaxIdLength || !it.value().isObject()) {
            return refused(400, QStringLiteral("bad file id"));
        }
        const QJsonObject file = it.value().toObject();
        const QJsonValue innerId = file.value(QStringLiteral("id"));
        if (!innerId.isUndefined() && innerId.toString() != id) {
            return refused(400, QStringLiteral("file id differs from its key"));
        }
        const QJsonValue name = file.value(QStringLiteral("fileName"));
        const QJsonValue size = file.value(QStringLiteral("size"));
        if (!name.isString() || !size.isDouble()) {
            return refused(400, QStringLiteral("no fileName or size"));
        }
        const double number = size.toDouble();
        if (!(number >= 0 && number <= double(kMaxExactInteger)) ||
            double(qint64(number)) != number) {
            return refused(400, QStringLiteral("bad size"));
        }
        OfferedFile offered;
        offered.id = id;
        offered.path = name.toString().toUtf8();
        offered.size = qint64(number);
        offered.fileType = file.value(QStringLiteral("fileType")).toString().left(kMaxIdLength);
        const QJsonValue sha256 = file.value(QStringLiteral("sha256"));
        if (sha256.isString()) {
            const QByteArray hex = sha256.toString().toLatin1();
            if (hex.size() != 64 || !isHex(hex)) {
                return refused(400, QStringLiteral("bad sha256"));
            }
            offered.sha256 = hex.toLower();
        } else if (!sha256.isUndefined() && !sha256.isNull()) {
            return refused(400, QStringLiteral("bad sha256"));
        }
        entries::Entry entry;
        entry.kind = entries::EntryKind::File;
        entry.path = offered.path;
        entry.size = offered.size;
        if (const entries::ManifestError problem = checker.add(entry);
            problem != entries::ManifestError::None) {
            return refused(400,
                           QStringLiteral("file %1: %2")
                               .arg(id, QString::fromLatin1(entries::manifestErrorName(problem))));
        }
        offer.files.push_back(std::move(offered));
    }
    offer.total = checker.total();
    ParsedOffer parsed;
    parsed.offer = std::move(offer);
    parsed.status = 200;
    return parsed;
}

}  // namespace localsend
