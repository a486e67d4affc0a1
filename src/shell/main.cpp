// Ruvo: sends one file at a time straight to another copy of the program.

#include <QApplication>

#include "common/signalcloser.h"
#include "lane/filesizelimit.h"
#include "lane/largebuffers.h"
#include "shell/formruvo.h"
#include "shell/qtuserdialogs.h"
#include "shell/ruvoapplication.h"

int main(int argc, char** argv) {
    keepLargeBuffersInTheHeap();
    failWritesPastTheFileSizeLimit();
    RuvoApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ruvo"));
    QApplication::setDesktopFileName(QStringLiteral("ruvo"));

    // Outlives the window, whose destruction may still show a box.
    QtUserDialogs dialogs;
    app.setErrorDialogs(&dialogs);
    FormOptions options;
    options.dialogs = &dialogs;
    options.discovery = true;
    options.lane = true;
    TFormruvo form(options);
    SignalCloser closer([&form] { form.close(); });
    form.show();
    return app.exec();
}
