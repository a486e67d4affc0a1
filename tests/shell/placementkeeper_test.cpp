#include "shell/placementkeeper.h"

#include <gtest/gtest.h>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <memory>

#include "shell/scripteduserdialogs.h"

// The offscreen platform used by the tests has an 800x800 screen at 96 dots per inch with
// no work-area margins, and gives every window a fake frame of 2 pixels on each side: a
// 252x134 client area is a 256x138 frame.

namespace {

// A window that hands its close and destruction to the keeper, as the main window does.
class KeptWindow : public QWidget {
public:
    KeptWindow(const QString& ini, UserDialogs* dialogs, bool fixedSize = true) {
        if (fixedSize) {
            setFixedSize(252, 134);
        } else {
            resize(252, 134);
        }
        move(182, 224);
        keeper = new TPlacementKeeper(this, ini, dialogs);
    }
    ~KeptWindow() override { keeper->OwnerDestroying(); }

    TPlacementKeeper* keeper;

protected:
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (event->isAccepted()) {
            keeper->OwnerClosed();
        }
    }
};

class PlacementKeeperTest : public ::testing::Test {
protected:
    QString ini() const { return m_dir.filePath(QStringLiteral("Ruvo/ruvo.INI")); }

    void writeIni(const QByteArray& data) {
        QDir().mkpath(m_dir.filePath(QStringLiteral("Ruvo")));
        QFile file(ini());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    std::string readIni() const {
        QFile file(ini());
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    std::unique_ptr<KeptWindow> shown(bool fixedSize = true) {
        auto window = std::make_unique<KeptWindow>(ini(), &m_dialogs, fixedSize);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()) || window->isMinimized());
        return window;
    }

    QTemporaryDir m_dir;
    ScriptedUserDialogs m_dialogs{1};
};

TEST_F(PlacementKeeperTest, FirstRunOpensAtTheDesignedPlaceAndCloseWritesTheNineKeys) {
    auto window = shown();
    EXPECT_TRUE(window->keeper->Restored());
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(182, 224));
    window->move(300, 100);
    QTest::qWait(10);
    window->close();
    EXPECT_TRUE(window->keeper->Saved());
    const std::string expected =
        "[QWidget]\n"
        "FormVersion=0\n"
        "Flags=0\n"
        "ShowCmd=1\n"
        "PixelsPerInch=96\n"
        "MinMaxPos(800x800)=-1,-1,-1,-1\n"
        "MinMaxPos=-1,-1,-1,-1\n"
        "NormPos(800x800)=300,100,556,238\n"
        "NormPos=300,100,556,238\n"
        "Visible=0\n";
    EXPECT_EQ(readIni(), expected);
    // Saved at the close, so not again at destruction.
    window.reset();
    EXPECT_EQ(readIni(), expected);
    EXPECT_TRUE(m_dialogs.asked().empty());

    // The next start opens where the window was left.
    window = shown();
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(300, 100));
}

TEST_F(PlacementKeeperTest, DestructionWithoutACloseSavesWithVisibleOne) {
    auto window = shown();
    window.reset();
    const std::string text = readIni();
    EXPECT_NE(text.find("NormPos=182,224,438,362\nVisible=1\n"), std::string::npos) << text;
}

TEST_F(PlacementKeeperTest, AWindowNeverShownIsNeverSaved) {
    auto window = std::make_unique<KeptWindow>(ini(), &m_dialogs);
    window.reset();
    EXPECT_FALSE(QFile::exists(ini()));
}

TEST_F(PlacementKeeperTest, RestoresPositionAndStateWithTheFallbacks) {
    struct Case {
        const char* name;
        const char* data;
        QPoint position;
        Qt::WindowStates state;
    };
    const Case cases[] = {
        {"stored size ignored", "[QWidget]\nNormPos=10,20,900,900\n", {10, 20}, {}},
        {"two words with blanks", "[QWidget]\nNormPos=10 , 20\n", {10, 20}, {}},
        {"screen-size key first",
         "[QWidget]\nNormPos(800x800)=30,40,0,0\nNormPos=10,20,0,0\n",
         {30, 40},
         {}},
        {"other screen size: plain key",
         "[QWidget]\nNormPos(1024x768)=30,40,0,0\nNormPos=10,20,0,0\n",
         {10, 20},
         {}},
        {"empty screen-size key", "[qwidget]\nnormpos(800x800)=\nNORMPOS=10,20\n", {10, 20}, {}},
        {"non-numeric words", "[QWidget]\nNormPos=x,20,,\n", {182, 20}, {}},
        {"no hex in words", "[QWidget]\nNormPos=0x10,20\n", {182, 20}, {}},
        {"hex pixels per inch", "[QWidget]\nPixelsPerInch=0x60\nNormPos=10,20\n", {10, 20}, {}},
        {"other pixels per inch: state only",
         "[QWidget]\nPixelsPerInch=120\nShowCmd=2\nNormPos=10,20\n",
         {182, 224},
         Qt::WindowMinimized},
        {"older version: nothing",
         "[QWidget]\nFormVersion=-1\nShowCmd=2\nNormPos=10,20\n",
         {182, 224},
         {}},
        {"minimized", "[QWidget]\nShowCmd=2\n", {182, 224}, Qt::WindowMinimized},
        {"minimized 7", "[QWidget]\nShowCmd=7\n", {182, 224}, Qt::WindowMinimized},
        {"maximized", "[QWidget]\nShowCmd=3\n", {182, 224}, Qt::WindowMaximized},
        {"0 is normal", "[QWidget]\nShowCmd=0\n", {182, 224}, {}},
        {"4 is normal", "[QWidget]\nShowCmd=4\n", {182, 224}, {}},
        {"other section", "[Other]\nNormPos=10,20\nShowCmd=2\n", {182, 224}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeIni(c.data);
        auto window = shown();
        EXPECT_TRUE(window->keeper->Restored());
        EXPECT_EQ(window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), c.state);
        if (!(c.state & Qt::WindowMaximized)) {
            EXPECT_EQ(window->frameGeometry().topLeft(), c.position);
            EXPECT_EQ(window->size(), QSize(252, 134));
        }
        window->keeper->Active = false;  // keep the next case's file as written
    }
}

TEST_F(PlacementKeeperTest, MinimizedStateIsWrittenAsShowCmdTwoWithTheNormalRectangle) {
    writeIni("[QWidget]\nShowCmd=2\nNormPos=10,20\n");
    auto window = shown();
    ASSERT_TRUE(window->isMinimized());
    window.reset();
    const std::string text = readIni();
    EXPECT_NE(text.find("ShowCmd=2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("NormPos=10,20,266,158\n"), std::string::npos) << text;
}

TEST_F(PlacementKeeperTest, AResizableWindowTakesTheStoredSizeUnlessRightIsNotPastLeft) {
    writeIni("[QWidget]\nNormPos=10,20,310,170\n");
    auto window = shown(false);
    EXPECT_EQ(window->frameGeometry(), QRect(10, 20, 300, 150));
    window->keeper->Active = false;
    window.reset();

    writeIni("[QWidget]\nNormPos=10,20,10,170\n");
    window = shown(false);
    EXPECT_EQ(window->frameGeometry(), QRect(182, 224, 256, 138));
}

TEST_F(PlacementKeeperTest, AFailedWriteIsReportedAndTriedAgainAtDestruction) {
    ASSERT_TRUE(QDir().mkpath(ini()));  // a folder where the file should be
    auto window = shown();
    window->close();
    EXPECT_FALSE(window->keeper->Saved());
    window.reset();
    const QString message = QStringLiteral("Unable to write to %1").arg(ini());
    EXPECT_EQ(m_dialogs.texts(ScriptedUserDialogs::Kind::Error), (QStringList{message, message}));
}

}  // namespace
