// Shows one window state for a screenshot, with Qt's Spanish translations loaded as the
// program loads them, and prints "ready" once it is on the screen:
//
//   ruvo-window-state --config DIR STATE
//
//   configurar  "Configurar" as a first start shows it
//   bandeja     "Configurar" with the tray box checked
//   tooltip     the status bar's tooltip: this copy's name and addresses
//   yes-no      the real question box of a partial file (Qt's Yes/No buttons)
//   open-file   the real file dialog of "Examinar"
//   edit-menu   the context menu of the address field
//
// It listens on a free port and announces nothing; the caller ends it.
#include <QCheckBox>
#include <QCommandLineParser>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolTip>

#include <cstdio>

#include "shell/formruvo.h"
#include "shell/qttranslations.h"
#include "shell/qtuserdialogs.h"
#include "shell/ruvoapplication.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "sound/silenttonedevice.h"

namespace {

void ready() {
    std::printf("ready\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    RuvoApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Configuration folder."), QStringLiteral("dir"));
    parser.addOption(config);
    parser.addPositionalArgument(QStringLiteral("state"), QStringLiteral("The state to show."));
    parser.process(app);
    const QString state = parser.positionalArguments().value(0);
    installSpanishQtTranslations(app);

    QtUserDialogs dialogs;
    SilentToneDevice tones;
    FormOptions options;
    options.listenPort = 0;
    options.configDir = parser.value(config);
    options.dialogs = &dialogs;
    options.tones = &tones;
    TFormruvo window(options);
    window.show();

    // Each state once the window is on the screen; a box or dialog runs its own loop.
    QTimer::singleShot(300, &window, [&] {
        if (state == QLatin1String("configurar") || state == QLatin1String("bandeja")) {
            window.Paginas->setCurrentIndex(2);
            window.Bandeja->setChecked(state == QLatin1String("bandeja"));
            ready();
        } else if (state == QLatin1String("tooltip")) {
            window.UpdateThisCopyText();
            QToolTip::showText(window.BarraEstado->mapToGlobal(QPoint(40, 10)),
                               window.BarraEstado->toolTip(), window.BarraEstado);
            QTimer::singleShot(300, &window, ready);
        } else if (state == QLatin1String("yes-no")) {
            window.Paginas->setCurrentIndex(1);
            QTimer::singleShot(300, &window, ready);
            dialogs.askYesNo(&window, QStringLiteral("¿Continuar con el archivo existente?"));
        } else if (state == QLatin1String("open-file")) {
            QTimer::singleShot(500, &window, ready);
            dialogs.chooseOpenFile(&window, QStringLiteral("/usr/share/doc"));
        } else if (state == QLatin1String("edit-menu")) {
            window.DireccionEnviada->setText(QStringLiteral("192.168.1.20"));
            window.DireccionEnviada->selectAll();
            QMenu* menu = window.DireccionEnviada->createStandardContextMenu();
            menu->popup(window.DireccionEnviada->mapToGlobal(QPoint(20, 15)));
            QTimer::singleShot(300, &window, ready);
        } else {
            std::fprintf(stderr, "unknown state: %s\n", qUtf8Printable(state));
            app.exit(2);
        }
    });
    return app.exec();
}
