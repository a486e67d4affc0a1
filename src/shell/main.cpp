// Ruvo: sends one file at a time straight to another copy of the program.

#include <QApplication>

#include "shell/formruvo.h"
#include "shell/ruvoapplication.h"
#include "shell/signalcloser.h"

int main(int argc, char** argv) {
    RuvoApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ruvo"));
    QApplication::setDesktopFileName(QStringLiteral("ruvo"));

    TFormruvo form;
    app.setErrorDialogs(form.Dialogs());
    SignalCloser closer([&form] { form.close(); });
    form.show();
    return app.exec();
}
