// Ruvo: sends one file at a time straight to another copy of the program.

#include <QApplication>
#include <QDir>

#include <cstdio>

#include "common/signalcloser.h"
#include "lane/filesizelimit.h"
#include "lane/largebuffers.h"
#include "shell/apptitle.h"
#include "shell/formruvo.h"
#include "shell/launchrequest.h"
#include "shell/qttranslations.h"
#include "shell/qtuserdialogs.h"
#include "shell/ruvoapplication.h"

namespace {

QStringList rawArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

// Help and version: printed and done. Anything else is for the window.
bool answered(const LaunchRequest& request) {
    if (request.action == LaunchRequest::Action::Help) {
        std::fputs(qUtf8Printable(launchHelpText()), stdout);
        return true;
    }
    if (request.action == LaunchRequest::Action::Version) {
        std::printf("%s\n", qUtf8Printable(appTitle()));
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer before Qt looks for a display.
    if (answered(parseLaunchArguments(rawArguments(argc, argv), QDir::currentPath()))) {
        return 0;
    }
    keepLargeBuffersInTheHeap();
    failWritesPastTheFileSizeLimit();
    RuvoApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ruvo"));
    QApplication::setDesktopFileName(QStringLiteral("ruvo"));
    // Qt took its own options (-platform, -style, ...) out of the arguments by now.
    const LaunchRequest request =
        parseLaunchArguments(QCoreApplication::arguments(), QDir::currentPath());
    if (request.action == LaunchRequest::Action::UsageError) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(request.error));
        return LaunchRequest::kUsageExitCode;
    }
    if (!request.ignored.isEmpty()) {
        std::fprintf(stderr, "ruvo: se envia un archivo cada vez; elegido %s\n",
                     qUtf8Printable(request.file));
    }
    installSpanishQtTranslations(app);

    // Outlives the window, whose destruction may still show a box.
    QtUserDialogs dialogs;
    app.setErrorDialogs(&dialogs);
    FormOptions options;
    options.dialogs = &dialogs;
    options.discovery = true;
    options.lane = true;
    TFormruvo form(options);
    SignalCloser closer([&form] { form.Quit(); });
    if (!request.file.isEmpty()) {
        form.ChooseFileToSend(request.file);
    }
    form.show();
    return app.exec();
}
