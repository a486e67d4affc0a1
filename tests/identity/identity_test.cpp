#include "identity/identity.h"
#include "identity/fingerprint.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <array>
#include <thread>
#include <vector>

namespace {

QString identityFile(const QTemporaryDir& dir) {
    return dir.filePath(QString::fromLatin1(Identity::kFileName));
}

unsigned modeOf(const QString& path) {
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    return st.st_mode & 07777;
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

std::optional<Identity> load(const QString& folder, QString* error) {
    return Identity::loadOrCreate(folder, error);
}

TEST(Identity, MadeAtFirstStartThenReloadedWithTheSameFingerprint) {
    QTemporaryDir dir;
    QString error;
    // A umask that would leave the file open to everyone: the key must stay private anyway.
    const mode_t oldMask = ::umask(0);
    const std::optional<Identity> made = load(dir.path(), &error);
    ::umask(oldMask);
    ASSERT_TRUE(made) << error.toStdString();
    EXPECT_EQ(modeOf(identityFile(dir)), 0600u);
    // Nothing but the identity in the folder: no temporary file left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QString::fromLatin1(Identity::kFileName)});

    const std::optional<Identity> again = load(dir.path(), &error);
    ASSERT_TRUE(again) << error.toStdString();
    EXPECT_EQ(again->fingerprint(), made->fingerprint());
    EXPECT_FALSE(again->privateKey().isNull());

    // LocalSend's form: SHA-256 of the certificate's DER form, 64 uppercase hex digits.
    const QByteArray der = made->certificate().toDer();
    EXPECT_EQ(made->fingerprint(),
              QString::fromLatin1(
                  QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex().toUpper()));
    const QString shortForm = made->shortFingerprint();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{4}( [0-9A-F]{4}){3}$"))
                    .match(shortForm)
                    .hasMatch())
        << shortForm.toStdString();
    EXPECT_TRUE(made->fingerprint().startsWith(QString(shortForm).remove(QLatin1Char(' '))));
}

TEST(Identity, TwoCopiesHaveDifferentIdentities) {
    QTemporaryDir a;
    QTemporaryDir b;
    QString error;
    EXPECT_NE(load(a.path(), &error)->fingerprint(), load(b.path(), &error)->fingerprint());
}

// Two copies starting at the same moment on a new folder end with one identity, the one on
// disk, never each with its own.
TEST(Identity, CopiesStartingTogetherShareTheIdentityOnDisk) {
    QTemporaryDir dir;
    constexpr int kCopies = 4;
    std::array<QString, kCopies> seen;
    std::vector<std::thread> copies;
    for (int i = 0; i < kCopies; ++i) {
        copies.emplace_back([&, i] {
            QString error;
            const std::optional<Identity> identity = Identity::loadOrCreate(dir.path(), &error);
            seen[i] = identity ? identity->fingerprint() : error;
        });
    }
    for (std::thread& copy : copies) {
        copy.join();
    }
    QString error;
    const QString onDisk = load(dir.path(), &error)->fingerprint();
    for (const QString& fingerprint : seen) {
        EXPECT_EQ(fingerprint, onDisk);
    }
}

TEST(Identity, KeyFileOpenToOthersIsMadePrivateAgain) {
    QTemporaryDir dir;
    QString error;
    const QString fingerprint = load(dir.path(), &error)->fingerprint();
    ASSERT_EQ(::chmod(QFile::encodeName(identityFile(dir)).constData(), 0644), 0);
    const std::optional<Identity> again = load(dir.path(), &error);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->fingerprint(), fingerprint);
    EXPECT_EQ(modeOf(identityFile(dir)), 0600u);
}

// A damaged identity is reported and left as it is, never replaced by a new one.
TEST(Identity, BrokenFileIsReportedAndKept) {
    QTemporaryDir other;
    QString error;
    ASSERT_TRUE(load(other.path(), &error));
    const QByteArray otherPem = contentOf(identityFile(other));
    const qsizetype split = otherPem.indexOf("-----BEGIN CERTIFICATE-----");
    const QByteArray otherKey = otherPem.left(split);
    const QByteArray otherCert = otherPem.mid(split);

    QTemporaryDir mine;
    ASSERT_TRUE(load(mine.path(), &error));
    const QByteArray minePem = contentOf(identityFile(mine));
    const QByteArray mineCert = minePem.mid(minePem.indexOf("-----BEGIN CERTIFICATE-----"));

    const struct {
        const char* name;
        QByteArray content;
    } cases[] = {
        {"empty", QByteArray()},
        {"not PEM", QByteArray("hola\n")},
        {"certificate only", otherCert},
        {"key only", otherKey},
        {"truncated", otherPem.left(otherPem.size() / 2)},
        {"key of another certificate", otherKey + mineCert},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        writeFile(identityFile(dir), c.content);
        error.clear();
        EXPECT_FALSE(load(dir.path(), &error));
        EXPECT_TRUE(error.contains(identityFile(dir))) << error.toStdString();
        EXPECT_EQ(contentOf(identityFile(dir)), c.content);
    }
}

TEST(Identity, LinkToNowhereIsReportedNotWrittenThrough) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("elsewhere.pem"));
    ASSERT_TRUE(QFile::link(target, identityFile(dir)));
    QString error;
    EXPECT_FALSE(load(dir.path(), &error));
    EXPECT_TRUE(error.contains(identityFile(dir))) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(target));
}

TEST(Identity, FolderThatCannotBeMadeIsReported) {
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("file")), "x");
    QString error;
    EXPECT_FALSE(load(dir.filePath(QStringLiteral("file/Ruvo")), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(Fingerprint, TypedFormsAreNormalized) {
    const QString canonical = QStringLiteral(
        "00112233445566778899AABBCCDDEEFF"
        "00112233445566778899AABBCCDDEEFF");
    const struct {
        const char* typed;
        bool valid;
    } cases[] = {
        {"00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF", true},
        {"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff", true},
        {"00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:"
         "CC:DD:EE:FF",
         true},
        {"0011 2233 4455 6677 8899 AABB CCDD EEFF-0011 2233 4455 6677 8899 AABB CCDD EEFF", true},
        {"00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEF", false},    // 63
        {"00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF0", false},  // 65
        {"00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFG", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(fingerprint::normalized(QString::fromLatin1(c.typed)),
                  c.valid ? canonical : QString());
    }
    EXPECT_EQ(fingerprint::shortForm(canonical), QStringLiteral("0011 2233 4455 6677"));
}

}  // namespace
