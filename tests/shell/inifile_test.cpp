#include "shell/inifile.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("sub/ruvo.INI")); }

    void writeFile(const QByteArray& data) {
        QDir().mkpath(m_dir.filePath(QStringLiteral("sub")));
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    std::string readFile() const {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    QTemporaryDir m_dir;
};

TEST_F(IniFileTest, ParsesIntegersOfSingleNumberKeys) {
    struct Case {
        const char* text;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"12", 12},         {" 7 ", 7},   {"-3", -3},   {"0x1A", 26},       {"0X1a", 26},
        {"0x", {}},         {"0x-1", {}}, {"0x 1", {}}, {"0xFFFFFFFF", -1}, {"0x1FFFFFFFF", {}},
        {"2147483648", {}}, {"abc", {}},  {"", {}},     {"1 2", {}},        {"12abc", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IniFile::parseInteger(QString::fromLatin1(c.text)), c.expected) << c.text;
    }
}

TEST_F(IniFileTest, LooksUpSectionsAndKeysWithoutCase) {
    writeFile(
        "; comment\n"
        "[Other]\n"
        "Visible=7\n"
        "[tformruvo]\n"
        "  showcmd  =  3  \n"
        "NormPos=\"1, 2\"\n"
        "Empty=\n"
        "Flags=0x10\n"
        "[TFormruvo]\n"
        "Late=1\n");
    const IniFile ini(path());
    const QString s = QStringLiteral("TFormruvo");
    EXPECT_EQ(ini.readInteger(s, QStringLiteral("ShowCmd"), 0), 3);
    EXPECT_EQ(ini.readString(s, QStringLiteral("NORMPOS")), QStringLiteral("1, 2"));
    EXPECT_EQ(ini.value(s, QStringLiteral("Empty")), QString());
    EXPECT_EQ(ini.value(s, QStringLiteral("Missing")), std::nullopt);
    EXPECT_EQ(ini.readInteger(s, QStringLiteral("Empty"), 5), 5);
    EXPECT_EQ(ini.readInteger(s, QStringLiteral("Flags"), 5), 16);
    // Only the first section of a name counts; other sections' keys are not seen.
    EXPECT_EQ(ini.value(s, QStringLiteral("Late")), std::nullopt);
    EXPECT_EQ(ini.value(s, QStringLiteral("Visible")), std::nullopt);
}

TEST_F(IniFileTest, UpdatesInPlaceAppendsNewKeysToTheirSectionAndKeepsTheRest) {
    writeFile(
        "[TFormruvo]\n"
        "ShowCmd=1\n"
        "NormPos(1024x768)=1,2,3,4\n"
        "\n"
        "; other program\n"
        "[Other]\n"
        "key=value\n");
    IniFile ini(path());
    ini.writeInteger(QStringLiteral("tformruvo"), QStringLiteral("showcmd"), 2);
    ini.writeString(QStringLiteral("TFormruvo"), QStringLiteral("Visible"), QStringLiteral("0"));
    ini.writeString(QStringLiteral("New"), QStringLiteral("a"), QStringLiteral("b"));
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(readFile(),
              "[TFormruvo]\n"
              "showcmd=2\n"
              "NormPos(1024x768)=1,2,3,4\n"
              "Visible=0\n"
              "\n"
              "; other program\n"
              "[Other]\n"
              "key=value\n"
              "\n"
              "[New]\n"
              "a=b\n");
}

TEST_F(IniFileTest, CreatesTheFileAndItsFolderAndKeepsCrLfLineEnds) {
    {
        IniFile ini(path());
        ini.writeInteger(QStringLiteral("S"), QStringLiteral("A"), 1);
        ini.writeInteger(QStringLiteral("S"), QStringLiteral("B"), 2);
        ASSERT_TRUE(ini.save());
        EXPECT_EQ(readFile(), "[S]\nA=1\nB=2\n");
    }
    writeFile("[S]\r\nA=1\r\n");
    IniFile ini(path());
    ini.writeInteger(QStringLiteral("S"), QStringLiteral("B"), 2);
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(readFile(), "[S]\r\nA=1\r\nB=2\r\n");
}

TEST_F(IniFileTest, SaveFailsWhenTheFileCannotBeWritten) {
    // A folder in the file's place cannot be replaced by a file, even by root.
    ASSERT_TRUE(QDir().mkpath(path()));
    IniFile ini(path());
    ini.writeInteger(QStringLiteral("S"), QStringLiteral("A"), 1);
    EXPECT_FALSE(ini.save());
}

}  // namespace
