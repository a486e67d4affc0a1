#include "common/settingsstore.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <stdexcept>

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QString iniPath() const { return m_dir.filePath(QStringLiteral("Ruvo/Ruvo.ini")); }

    void writeIni(const QByteArray& data) {
        QDir().mkpath(m_dir.filePath(QStringLiteral("Ruvo")));
        QFile file(iniPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    std::string readError(const char* name) {
        SettingsStore store(m_dir.path());
        try {
            store.readString(QString::fromLatin1(name));
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "no error";
    }

    QTemporaryDir m_dir;
};

TEST_F(SettingsStoreTest, ReadsStringsAndMissingValuesAsEmpty) {
    writeIni("[Software]\nRuvo\\guardaren=/srv/in\nRuvo\\notificar=\n");
    SettingsStore store(m_dir.path());
    ASSERT_TRUE(store.isOpen());
    EXPECT_EQ(store.fileName(), iniPath());
    EXPECT_EQ(store.readString(QStringLiteral("guardaren")), QStringLiteral("/srv/in"));
    EXPECT_EQ(store.readString(QStringLiteral("notificar")), QString());
    EXPECT_EQ(store.readString(QStringLiteral("other")), QString());
}

TEST_F(SettingsStoreTest, AValueThatIsNotAPlainTextIsAnInvalidDataType) {
    writeIni(
        "[Software]\n"
        "Ruvo\\guardaren=/srv/a,b\n"
        "Ruvo\\notificar=@ByteArray(1)\n");
    EXPECT_EQ(readError("guardaren"), "Invalid data type for 'guardaren'");
    EXPECT_EQ(readError("notificar"), "Invalid data type for 'notificar'");
}

TEST_F(SettingsStoreTest, WritesThroughAndReportsAFailedWrite) {
    {
        SettingsStore store(m_dir.path());
        store.writeString(QStringLiteral("guardaren"), QStringLiteral("/srv/in/"));
        // Written at once, not when the store goes away.
        EXPECT_EQ(SettingsStore(m_dir.path()).readString(QStringLiteral("guardaren")),
                  QStringLiteral("/srv/in/"));
    }
    QFile::remove(iniPath());
    ASSERT_TRUE(QDir().mkpath(iniPath()));  // a folder where the file should be
    SettingsStore store(m_dir.path());
    try {
        store.writeString(QStringLiteral("guardaren"), QStringLiteral("/x/"));
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'guardaren'");
    }
}

}  // namespace
