#include "widgets/folderedit.h"

#include "widgets/innerbutton.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// A window with the folder field and a second field that can hold the focus. The chooser
// records where it was opened and whether the field had the focus, and answers with
// `answer` (empty = Cancel).
class FolderEditTest : public ::testing::Test {
protected:
    FolderEditTest() {
        auto* layout = new QVBoxLayout(&window);
        other = new QLineEdit(&window);
        edit = new TFolderEdit(&window);
        layout->addWidget(other);
        layout->addWidget(edit);
        edit->setFolderChooser([this](QWidget* parent, const QString& start) {
            EXPECT_EQ(parent, edit);
            starts.append(start);
            focusedWhileChoosing = edit->hasFocus();
            return answer;
        });
        window.resize(300, 80);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    QString tempPath(const QString& name) const { return temp.filePath(name); }

    void makeFile(const QString& path) const {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    // Drags data onto the field and drops it there, as the desktop would. Returns whether
    // the field took the drop.
    bool dropOnto(const QMimeData& data,
                  Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction) {
        const QPoint point(10, edit->height() / 2);
        QDragEnterEvent enter(point, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit, &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        EXPECT_NE(enter.dropAction(), Qt::MoveAction);
        QDropEvent drop(point, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit, &drop);
        EXPECT_NE(drop.dropAction(), Qt::MoveAction);
        return drop.isAccepted();
    }

    QTemporaryDir temp;
    QWidget window;
    QLineEdit* other = nullptr;
    TFolderEdit* edit = nullptr;
    QStringList starts;
    bool focusedWhileChoosing = false;
    QString answer;
};

TEST_F(FolderEditTest, KeyboardCannotChangeTextButCanSelectAndCopy) {
    edit->setText(QStringLiteral("/srv/recibidos/"));
    QSignalSpy changes(edit, &QLineEdit::textChanged);
    QApplication::clipboard()->setText(QStringLiteral("pegado"));
    edit->setFocus();

    QTest::keyClicks(edit, QStringLiteral("abc"));
    edit->setCursorPosition(3);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete, Qt::ShiftModifier);
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), QStringLiteral("/srv/recibidos/"));
    EXPECT_EQ(changes.count(), 0);

    // Selecting with the keyboard and copying still work.
    edit->setCursorPosition(0);
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(edit, Qt::Key_Right, Qt::ShiftModifier);
    }
    EXPECT_EQ(edit->selectedText(), QStringLiteral("/srv"));
    QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("/srv"));

    // Enter and Escape are left to the window.
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter), int(Qt::Key_Escape)}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(edit, &press);
        EXPECT_FALSE(press.isAccepted()) << key;
    }
    EXPECT_EQ(edit->text(), QStringLiteral("/srv/recibidos/"));
}

TEST_F(FolderEditTest, ChooserOpensAtTheRuleStartAndCancelChangesNothing) {
    const QString folder = temp.path();
    const QString vanished = tempPath(QStringLiteral("gone"));
    struct Case {
        const char* what;
        QString text;
        QString initialDir;
        QString expectedStart;
    };
    const Case cases[] = {
        {"the text", folder + QLatin1Char('/'), QStringLiteral("/usr"), folder + QLatin1Char('/')},
        {"InitialDir when empty", QString(), folder, folder},
        {"cwd when both empty", QString(), QString(), QDir::currentPath()},
        {"cwd for a vanished folder", vanished, folder, QDir::currentPath()},
        {"cwd for a vanished InitialDir", QString(), vanished, QDir::currentPath()},
    };
    const std::pair<const char*, std::function<void()>> triggers[] = {
        {"Alt+Down", [&] { QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier); }},
        {"button", [&] { QTest::mouseClick(edit->Button(), Qt::LeftButton); }},
    };

    for (const auto& [how, trigger] : triggers) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(how) + ": " + c.what);
            edit->setText(c.text);
            edit->SetInitialDir(c.initialDir);
            other->setFocus();
            starts.clear();
            focusedWhileChoosing = false;
            QSignalSpy changes(edit, &QLineEdit::textChanged);

            trigger();

            ASSERT_EQ(starts.size(), 1);
            EXPECT_EQ(starts.first(), c.expectedStart);
            EXPECT_EQ(edit->text(), c.text);
            EXPECT_EQ(edit->InitialDir(), c.initialDir);
            EXPECT_EQ(changes.count(), 0);
            // The field has the focus while choosing (a press on the button gives it) and
            // after.
            if (std::string(how) == "button") {
                EXPECT_TRUE(focusedWhileChoosing);
            }
            EXPECT_TRUE(edit->hasFocus());
        }
    }
}

TEST_F(FolderEditTest, OkSetsTextAndInitialDirOfAnExistingFolder) {
    // The window adds the final "/" in its change handler.
    QStringList seen;
    QObject::connect(edit, &QLineEdit::textChanged, edit, [&](const QString& text) {
        seen.append(text);
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('/'))) {
            edit->setText(text + QLatin1Char('/'));
        }
    });
    const QString chosen = tempPath(QStringLiteral("Recibidos"));
    ASSERT_TRUE(QDir().mkdir(chosen));

    answer = chosen;
    QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(seen, QStringList({chosen, chosen + QLatin1Char('/')}));
    EXPECT_EQ(edit->text(), chosen + QLatin1Char('/'));
    EXPECT_EQ(edit->InitialDir(), chosen);

    // A chosen folder that is gone by now still becomes the text, but not InitialDir.
    seen.clear();
    answer = tempPath(QStringLiteral("gone"));
    QTest::mouseClick(edit->Button(), Qt::LeftButton);
    EXPECT_EQ(edit->text(), answer + QLatin1Char('/'));
    EXPECT_EQ(edit->InitialDir(), chosen);

    // The root keeps its single "/".
    seen.clear();
    answer = QStringLiteral("/");
    QTest::mouseClick(edit->Button(), Qt::LeftButton);
    EXPECT_EQ(seen, QStringList({QStringLiteral("/")}));
    EXPECT_EQ(edit->InitialDir(), QStringLiteral("/"));
}

TEST_F(FolderEditTest, NoChooserWhileReadOnlyOrWithoutButton) {
    edit->SetReadOnly(true);
    QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
    QTest::mouseClick(edit->Button(), Qt::LeftButton);
    EXPECT_TRUE(starts.isEmpty());

    edit->SetReadOnly(false);
    edit->SetButtonWidth(0);
    EXPECT_FALSE(edit->Button()->isVisible());
    QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
    EXPECT_TRUE(starts.isEmpty());

    edit->SetButtonWidth(20);
    edit->SetClickKey(QKeySequence(Qt::Key_F4));
    QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
    EXPECT_TRUE(starts.isEmpty());
    QTest::keyClick(edit, Qt::Key_F4);
    EXPECT_EQ(starts.size(), 1);
}

TEST_F(FolderEditTest, ButtonFillsTheRightEndOfTheInside) {
    edit->resize(225, 20);
    EXPECT_EQ(edit->Button()->geometry(), QRect(225 - 2 - 20, 2, 20, 16));
    EXPECT_TRUE(edit->Button()->isVisible());
    EXPECT_EQ(edit->Button()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(TInnerButton::folderPicture().size(), QSize(14, 12));
}

TEST_F(FolderEditTest, DropTakesTheFirstItem) {
    const QString folder = tempPath(QStringLiteral("carpeta"));
    const QString file = tempPath(QStringLiteral("carpeta/nota.txt"));
    const QString second = tempPath(QStringLiteral("otra"));
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_TRUE(QDir().mkdir(second));
    makeFile(file);
    // Far longer than 254 characters: taken whole.
    QString deep = temp.path();
    for (int i = 0; i < 5; ++i) {
        deep += QLatin1Char('/') + QString(60, QLatin1Char('a' + i));
    }
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString deepFile = deep + QStringLiteral("/f");
    makeFile(deepFile);

    const auto local = [](const QString& path) { return QUrl::fromLocalFile(path); };
    struct Case {
        const char* what;
        QList<QUrl> urls;
        QString expected;
    };
    const Case cases[] = {
        {"a file gives its folder", {local(file)}, folder + QLatin1Char('/')},
        {"a folder as it is", {local(folder)}, folder},
        {"a vanished path as it is",
         {local(tempPath(QStringLiteral("no")))},
         tempPath(QStringLiteral("no"))},
        {"several items: the first", {local(second), local(file)}, second},
        {"a long path whole", {local(deepFile)}, deep + QLatin1Char('/')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        edit->setText(QStringLiteral("/previo/"));
        QSignalSpy changes(edit, &QLineEdit::textChanged);
        QMimeData data;
        data.setUrls(c.urls);
        EXPECT_TRUE(dropOnto(data));
        EXPECT_EQ(edit->text(), c.expected);
        EXPECT_EQ(changes.count(), 1);
    }
    EXPECT_GT(deep.size(), 254);
}

TEST_F(FolderEditTest, RefusesWhatIsNoLocalFileOrFolder) {
    const QString folder = temp.path();
    QMimeData text;
    text.setText(folder);
    QMimeData remote;
    remote.setUrls({QUrl(QStringLiteral("https://example.org/x")), QUrl::fromLocalFile(folder)});
    QMimeData local;
    local.setUrls({QUrl::fromLocalFile(folder)});

    edit->setText(QStringLiteral("/previo/"));
    QSignalSpy changes(edit, &QLineEdit::textChanged);
    EXPECT_FALSE(dropOnto(text));
    EXPECT_FALSE(dropOnto(remote));
    EXPECT_FALSE(dropOnto(local, Qt::MoveAction));  // only a move offered
    edit->SetAcceptFiles(false);
    EXPECT_FALSE(dropOnto(local));
    EXPECT_EQ(edit->text(), QStringLiteral("/previo/"));
    EXPECT_EQ(changes.count(), 0);
}

}  // namespace
