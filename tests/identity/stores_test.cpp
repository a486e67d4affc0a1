#include "identity/pinstore.h"
#include "identity/truststore.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString kA =
    QStringLiteral("AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111");
const QString kB =
    QStringLiteral("BBBB2222BBBB2222BBBB2222BBBB2222BBBB2222BBBB2222BBBB2222BBBB2222");

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

TEST(TrustStore, RoundTripThroughTheFile) {
    QTemporaryDir dir;
    QString error;
    TrustStore store(dir.path());
    ASSERT_TRUE(store.load(&error)) << error.toStdString();  // no file yet: empty
    EXPECT_TRUE(store.list().isEmpty());
    const QDateTime first(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    ASSERT_TRUE(store.add(kA.toLower(), QStringLiteral("Portátil de Ana"), &error, first));
    ASSERT_TRUE(store.add(kB, QStringLiteral("oficina"), &error));
    // Trusting again renames and keeps the date it was first trusted.
    ASSERT_TRUE(store.add(kA, QStringLiteral("Ana"), &error, first.addDays(9)));

    TrustStore reloaded(dir.path());
    ASSERT_TRUE(reloaded.load(&error)) << error.toStdString();
    ASSERT_EQ(reloaded.list().size(), 2);
    const TrustedComputer* a = reloaded.find(QStringLiteral("aa:aa:11:11") + kA.mid(8));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->fingerprint, kA);
    EXPECT_EQ(a->name, QStringLiteral("Ana"));
    EXPECT_EQ(a->added, first);
    EXPECT_TRUE(reloaded.isTrusted(kB));

    ASSERT_TRUE(reloaded.remove(kA, &error));
    EXPECT_FALSE(reloaded.isTrusted(kA));
    EXPECT_FALSE(reloaded.remove(kA, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(reloaded.add(QStringLiteral("ABC"), QString(), &error));
    ASSERT_TRUE(store.load(&error));
    EXPECT_EQ(store.list().size(), 1);
}

// The window and ruvo-cli each hold a store of the same folder: neither undoes the other.
TEST(TrustStore, ChangesFromTwoHoldersAreBothKept) {
    QTemporaryDir dir;
    QString error;
    TrustStore window(dir.path());
    TrustStore cli(dir.path());
    ASSERT_TRUE(window.load(&error));
    ASSERT_TRUE(cli.load(&error));
    ASSERT_TRUE(cli.add(kA, QStringLiteral("a"), &error));
    ASSERT_TRUE(window.add(kB, QStringLiteral("b"), &error));
    EXPECT_TRUE(window.isTrusted(kA));
    TrustStore reloaded(dir.path());
    ASSERT_TRUE(reloaded.load(&error));
    EXPECT_EQ(reloaded.list().size(), 2);
}

TEST(TrustStore, BrokenFileIsReportedAndNeverOverwritten) {
    const char* broken[] = {
        "{",
        "{\"fingerprint\": \"x\"}",
        "[{\"fingerprint\": \"1234\", \"name\": \"a\", \"added\": \"2026-01-01T00:00:00Z\"}]",
        "[{\"name\": \"a\", \"added\": \"2026-01-01T00:00:00Z\"}]",
        "[{\"fingerprint\": \"AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111\", "
        "\"name\": \"a\", \"added\": \"ayer\"}]",
    };
    for (const char* content : broken) {
        SCOPED_TRACE(content);
        QTemporaryDir dir;
        const QString path = dir.filePath(QString::fromLatin1(TrustStore::kFileName));
        writeFile(path, content);
        TrustStore store(dir.path());
        QString error;
        EXPECT_FALSE(store.load(&error));
        EXPECT_TRUE(error.contains(path)) << error.toStdString();
        EXPECT_FALSE(store.add(kA, QStringLiteral("a"), &error));
        EXPECT_FALSE(store.remove(kA, &error));
        EXPECT_EQ(contentOf(path), QByteArray(content));
    }
}

TEST(PinStore, RemembersWhichIdentityAnsweredWhere) {
    QTemporaryDir dir;
    QString error;
    PinStore pins(dir.path());
    ASSERT_TRUE(pins.load(&error));
    EXPECT_EQ(pins.check(QStringLiteral("192.168.1.7"), kA), PinStore::Verdict::New);
    ASSERT_TRUE(pins.remember(QStringLiteral("192.168.1.7"), kA, &error));
    ASSERT_TRUE(pins.remember(QStringLiteral(" Oficina.local "), kB, &error));

    PinStore reloaded(dir.path());
    ASSERT_TRUE(reloaded.load(&error)) << error.toStdString();
    EXPECT_EQ(reloaded.check(QStringLiteral("192.168.1.7"), kA.toLower()), PinStore::Verdict::Same);
    EXPECT_EQ(reloaded.check(QStringLiteral("192.168.1.7"), kB), PinStore::Verdict::Changed);
    EXPECT_EQ(reloaded.check(QStringLiteral("oficina.LOCAL"), kB), PinStore::Verdict::Same);
    EXPECT_EQ(reloaded.check(QStringLiteral("192.168.1.7:9960"), kA), PinStore::Verdict::New);

    // Once the user accepts the new identity it replaces the old one.
    ASSERT_TRUE(reloaded.remember(QStringLiteral("192.168.1.7"), kB, &error));
    EXPECT_EQ(reloaded.pinned(QStringLiteral("192.168.1.7")), kB);
    EXPECT_EQ(reloaded.list().size(), 2);
    ASSERT_TRUE(reloaded.forget(QStringLiteral("oficina.local"), &error));
    EXPECT_FALSE(reloaded.forget(QStringLiteral("oficina.local"), &error));
    EXPECT_EQ(reloaded.list().size(), 1);

    struct stat st {};
    ASSERT_EQ(
        ::stat(
            QFile::encodeName(dir.filePath(QString::fromLatin1(PinStore::kFileName))).constData(),
            &st),
        0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(PinStore, BrokenFileIsReportedAndNeverOverwritten) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(PinStore::kFileName));
    const QByteArray content = "[{\"address\": \"a\", \"fingerprint\": \"nope\"}]";
    writeFile(path, content);
    PinStore pins(dir.path());
    QString error;
    EXPECT_FALSE(pins.load(&error));
    EXPECT_FALSE(pins.remember(QStringLiteral("a"), kA, &error));
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_EQ(contentOf(path), content);
}

}  // namespace
