// The command line of `ruvo`: what it asks for, and the real program answering --help,
// --version and a mistake without a display.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTranslator>

#include "shell/apptitle.h"
#include "shell/launchrequest.h"
#include "shell/qttranslations.h"

namespace {

using Action = LaunchRequest::Action;

TEST(LaunchArguments, AskForTheWindowAFileHelpVersionOrNameAMistake) {
    struct Case {
        QStringList args;  // after the program's name
        Action action;
        QString file;
        QStringList ignored;
        QString error;
    };
    const QString none;
    const Case cases[] = {
        {{}, Action::Open, none, {}, none},
        {{QStringLiteral("video.mkv")},
         Action::Open,
         QStringLiteral("/home/ana/video.mkv"),
         {},
         none},
        {{QStringLiteral("/srv/a b.txt")}, Action::Open, QStringLiteral("/srv/a b.txt"), {}, none},
        {{QStringLiteral("../x/./y")}, Action::Open, QStringLiteral("/home/x/y"), {}, none},
        {{QStringLiteral("file:///tmp/con%20espacio.pdf")},
         Action::Open,
         QStringLiteral("/tmp/con espacio.pdf"),
         {},
         none},
        // A file manager passes every file chosen; one is sent at a time.
        {{QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c")},
         Action::Open,
         QStringLiteral("/a"),
         {QStringLiteral("/b"), QStringLiteral("/c")},
         none},
        {{QStringLiteral("--help")}, Action::Help, none, {}, none},
        {{QStringLiteral("-h")}, Action::Help, none, {}, none},
        {{QStringLiteral("--version")}, Action::Version, none, {}, none},
        // Help and version win over a mistake anywhere before "--".
        {{QStringLiteral("--bogus"), QStringLiteral("--version")}, Action::Version, none, {}, none},
        {{QStringLiteral("--bogus")},
         Action::UsageError,
         none,
         {},
         QStringLiteral("ruvo: opcion desconocida: --bogus (ruvo --help muestra la ayuda)")},
        {{QStringLiteral("a"), QStringLiteral("-x")},
         Action::UsageError,
         none,
         {},
         QStringLiteral("ruvo: opcion desconocida: -x (ruvo --help muestra la ayuda)")},
        // After "--" everything is a file, even one named like an option.
        {{QStringLiteral("--"), QStringLiteral("--help")},
         Action::Open,
         QStringLiteral("/home/ana/--help"),
         {},
         none},
        {{QStringLiteral("-")}, Action::Open, QStringLiteral("/home/ana/-"), {}, none},
        {{QString(), QStringLiteral("b")}, Action::Open, QStringLiteral("/home/ana/b"), {}, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const LaunchRequest r = parseLaunchArguments(QStringList{QStringLiteral("ruvo")} + c.args,
                                                     QStringLiteral("/home/ana"));
        EXPECT_EQ(r.action, c.action);
        EXPECT_EQ(r.file, c.file);
        EXPECT_EQ(r.ignored, c.ignored);
        EXPECT_EQ(r.error, c.error);
    }
}

// The program itself, with no display at all: help and version must not need one.
TEST(LaunchArguments, TheProgramAnswersWithoutADisplay) {
    struct Case {
        QStringList args;
        int exitCode;
        QString out;  // expected start of standard output
        QString err;  // expected end of standard error (Qt may warn before it)
    };
    const Case cases[] = {
        {{QStringLiteral("--version")}, 0, appTitle() + QLatin1Char('\n'), QString()},
        {{QStringLiteral("--help")}, 0, QStringLiteral("Uso: ruvo [ARCHIVO]\n"), QString()},
        {{QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--nada")},
         LaunchRequest::kUsageExitCode,
         QString(),
         QStringLiteral("ruvo: opcion desconocida: --nada (ruvo --help muestra la ayuda)\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        QProcess ruvo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            env.remove(QString::fromLatin1(name));
        }
        ruvo.setProcessEnvironment(env);
        ruvo.start(QStringLiteral(RUVO_PROGRAM), c.args);
        ASSERT_TRUE(ruvo.waitForFinished(30000));
        EXPECT_EQ(ruvo.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(ruvo.exitCode(), c.exitCode);
        EXPECT_TRUE(QString::fromUtf8(ruvo.readAllStandardOutput()).startsWith(c.out));
        EXPECT_TRUE(QString::fromUtf8(ruvo.readAllStandardError()).endsWith(c.err));
    }
}

// Qt's own texts (the boxes' buttons among them) in Spanish, from Debian's package.
TEST(QtTranslations, TheBoxesButtonsSpeakSpanish) {
    QCoreApplication& app = *QCoreApplication::instance();
    ASSERT_TRUE(installSpanishQtTranslations(app))
        << "qtbase_es.qm not found: is qt6-translations-l10n installed?";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Sí"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("&No"));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Open"), QStringLiteral("Abrir"));
    // The other tests see Qt in English again.
    for (QTranslator* translator : app.findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Yes"));
}

}  // namespace
