// What a prepare-upload body must be before its offer is shown: a table of bodies.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "localsend/uploadoffer.h"

namespace {

QJsonObject info() {
    return QJsonObject{{QStringLiteral("alias"), QStringLiteral("Nice Orange")},
                       {QStringLiteral("version"), QStringLiteral("2.0")},
                       {QStringLiteral("deviceModel"), QJsonValue::Null},
                       {QStringLiteral("deviceType"), QStringLiteral("toaster")},
                       {QStringLiteral("fingerprint"), QStringLiteral("random")},
                       {QStringLiteral("port"), 53317},
                       {QStringLiteral("protocol"), QStringLiteral("https")}};
}

QByteArray body(const QJsonObject& files) {
    return QJsonDocument(
               QJsonObject{{QStringLiteral("info"), info()}, {QStringLiteral("files"), files}})
        .toJson();
}

QJsonObject file(const char* id, const QString& name, const QJsonValue& size,
                 const QJsonValue& sha256 = QJsonValue::Undefined) {
    QJsonObject entry{{QStringLiteral("id"), QString::fromLatin1(id)},
                      {QStringLiteral("fileName"), name},
                      {QStringLiteral("size"), size},
                      {QStringLiteral("fileType"), QStringLiteral("image/jpeg")}};
    if (!sha256.isUndefined()) {
        entry.insert(QStringLiteral("sha256"), sha256);
    }
    return QJsonObject{{QString::fromLatin1(id), entry}};
}

void add(QJsonObject& files, const QJsonObject& more) {
    for (auto it = more.begin(); it != more.end(); ++it) {
        files.insert(it.key(), it.value());
    }
}

TEST(UploadOffer, TakesAnOfferOfFilesAndFolders) {
    QJsonObject files = file("a", QStringLiteral("Fotos/2024/playa.jpg"), 1000,
                             QStringLiteral("E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA4959"
                                            "91B7852B855"));
    add(files, file("b", QStringLiteral("Fotos/notas.txt"), 24));
    add(files, file("c", QStringLiteral("vacío"), 0, QJsonValue::Null));
    const localsend::ParsedOffer parsed = localsend::parseUploadOffer(body(files));
    ASSERT_TRUE(parsed.offer) << parsed.problem.toStdString();
    EXPECT_EQ(parsed.offer->sender.alias, QStringLiteral("Nice Orange"));
    EXPECT_EQ(parsed.offer->sender.deviceType, QStringLiteral("desktop"));  // unknown type
    ASSERT_EQ(parsed.offer->files.size(), 3u);
    EXPECT_EQ(parsed.offer->total, 1024);
    EXPECT_EQ(parsed.offer->files[0].path, "Fotos/2024/playa.jpg");
    EXPECT_EQ(parsed.offer->files[0].sha256,
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_TRUE(parsed.offer->files[2].sha256.isEmpty());
}

TEST(UploadOffer, RefusesEveryBodyThatBreaksARule) {
    QJsonObject twins = file("a", QStringLiteral("caf\u00e9"), 1);
    add(twins, file("b", QStringLiteral("cafe\u0301"), 1));
    QJsonObject clash = file("a", QStringLiteral("x"), 1);
    add(clash, file("b", QStringLiteral("x/y"), 1));
    QJsonObject huge = file("a", QStringLiteral("a"), double(qint64(1) << 52));
    add(huge, file("b", QStringLiteral("b"), double(qint64(1) << 52)));
    struct Case {
        const char* what;
        QByteArray body;
        int status;
    };
    const Case cases[] = {
        {"no files", body({}), 204},
        {"not JSON", "{", 400},
        {"no info",
         QJsonDocument(QJsonObject{{QStringLiteral("files"), file("a", QStringLiteral("a"), 1)}})
             .toJson(),
         400},
        {"parent", body(file("a", QStringLiteral("../a"), 1)), 400},
        {"absolute", body(file("a", QStringLiteral("/etc/passwd"), 1)), 400},
        {"hidden", body(file("a", QStringLiteral("a/.ssh"), 1)), 400},
        {"backslash", body(file("a", QStringLiteral("..\\a"), 1)), 400},
        {"control", body(file("a", QStringLiteral("a\tb"), 1)), 400},
        {"twins", body(twins), 400},
        {"file and folder", body(clash), 400},
        {"negative", body(file("a", QStringLiteral("a"), -5)), 400},
        {"fraction", body(file("a", QStringLiteral("a"), 0.5)), 400},
        {"past 2^53", body(file("a", QStringLiteral("a"), 1e17)), 400},
        {"string size", body(file("a", QStringLiteral("a"), QStringLiteral("5"))), 400},
        {"bad hash", body(file("a", QStringLiteral("a"), 1, QStringLiteral("abc"))), 400},
        {"too large together", body(huge), 200},
        {"too large body", QByteArray(localsend::kMaxOfferBytes + 1, ' '), 413},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(localsend::parseUploadOffer(c.body).status, c.status);
    }
    QJsonObject many;
    for (int i = 0; i <= localsend::kMaxOfferFiles; ++i) {
        add(many, file(QByteArray::number(i).constData(), QString::number(i), 1));
    }
    EXPECT_EQ(localsend::parseUploadOffer(body(many)).status, 413);
}

}  // namespace
