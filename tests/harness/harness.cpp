// Runs one real Ruvo window with its ports, configuration folder and answers taken from the
// command line, and acts as its user: for tests and benchmarks that need copies as separate
// processes (killed and started again, pinned to CPUs, in other network namespaces).
//
//   ruvo-harness --listen-port N [--connect-port N] --config DIR --folder DIR
//                [--send FILE [--to ADDRESS]] [--accept] [--answers yes,no,...]
//                [--exit-after-transfer] [--notify] [--tick-ms N]
//
// It prints one line per change of what the user would see: "listening <port>", "panel0
// <text>", "panel1 <text>", "offer <name> <size>"; when it exits after a transfer, the
// transfer's time ("transfer-ms <n>", from the click to the end), the longest gap between
// ticks of a timer of --tick-ms (how long the window was unable to handle events), and
// "done".
#include <QCheckBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

#include "net/listener.h"
#include "net/serverendpoint.h"
#include "shell/formruvo.h"
#include "shell/ruvoapplication.h"
#include "shell/scripteduserdialogs.h"
#include "shell/tstatusbar.h"
#include "transfer/silenttonedevice.h"
#include "widgets/folderedit.h"

namespace {

void say(const QString& line) {
    std::printf("%s\n", qUtf8Printable(line));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    RuvoApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption listenPort(QStringLiteral("listen-port"),
                                        QStringLiteral("Port to listen on (0: any)."),
                                        QStringLiteral("port"), QStringLiteral("9950"));
    const QCommandLineOption connectPort(QStringLiteral("connect-port"),
                                         QStringLiteral("Port sends go to."),
                                         QStringLiteral("port"), QStringLiteral("9950"));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Configuration folder."), QStringLiteral("dir"));
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("Receive folder."),
                                    QStringLiteral("dir"));
    const QCommandLineOption sendFile(
        QStringLiteral("send"), QStringLiteral("File to send at start."), QStringLiteral("file"));
    const QCommandLineOption address(QStringLiteral("to"), QStringLiteral("Address to send to."),
                                     QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption accept(QStringLiteral("accept"),
                                    QStringLiteral("Accept every offer."));
    const QCommandLineOption answers(QStringLiteral("answers"),
                                     QStringLiteral("Answers to the questions, in order."),
                                     QStringLiteral("yes,no,..."));
    const QCommandLineOption exitAfter(QStringLiteral("exit-after-transfer"),
                                       QStringLiteral("Exit when the first transfer has ended."));
    const QCommandLineOption notify(
        QStringLiteral("notify"),
        QStringLiteral("Check \"Notificar con sonidos\" (silent device)."));
    const QCommandLineOption tick(
        QStringLiteral("tick-ms"),
        QStringLiteral("Measure the longest gap between ticks of a timer of this interval."),
        QStringLiteral("ms"), QStringLiteral("10"));
    parser.addOptions({listenPort, connectPort, config, folder, sendFile, address, accept, answers,
                       exitAfter, notify, tick});
    parser.process(app);

    ScriptedUserDialogs dialogs(0);
    for (const QString& answer : parser.value(answers).split(u',', Qt::SkipEmptyParts)) {
        dialogs.queueYesNo(answer.compare(QStringLiteral("yes"), Qt::CaseInsensitive) == 0);
    }
    if (parser.isSet(sendFile)) {
        dialogs.queueOpenFile(parser.value(sendFile));
    }
    SilentToneDevice tones;
    FormOptions options;
    options.listenPort = static_cast<quint16>(parser.value(listenPort).toUInt());
    options.connectPort = static_cast<quint16>(parser.value(connectPort).toUInt());
    options.configDir = parser.value(config);
    options.dialogs = &dialogs;
    options.tones = &tones;
    TFormruvo window(options);
    if (parser.isSet(folder)) {
        window.GuardarEn->setText(parser.value(folder));
    }
    window.Notificar->setChecked(parser.isSet(notify));
    window.show();
    if (window.Servidor->Active()) {
        say(QStringLiteral("listening %1").arg(window.Servidor->Listener()->LocalPort()));
    }

    // A timer that should tick every few milliseconds: the longest gap between two ticks is
    // the longest time the window could not handle events.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (sinceTick.isValid()) {
            longestGap = std::max(longestGap, sinceTick.elapsed());
        }
        sinceTick.start();
    });
    ticker.start(parser.value(tick).toInt());
    QElapsedTimer transferClock;

    // Watch what the user would see, and act on it as the options say.
    QString panels[2];
    bool offerSeen = false;
    bool transferStarted = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (int i = 0; i < 2; ++i) {
            const QString text = window.BarraEstado->PanelText(i);
            if (text != panels[i]) {
                panels[i] = text;
                say(QStringLiteral("panel%1 %2").arg(i).arg(text));
            }
        }
        const bool offered = window.Recibir->isEnabled();
        if (offered && !offerSeen) {
            say(QStringLiteral("offer %1 %2")
                    .arg(window.FicheroRecibido->text(), window.TamanoRecibido->text()));
            if (parser.isSet(accept)) {
                transferClock.start();
                window.Recibir->click();
                transferStarted = true;  // even if it is over before the next look
            }
        }
        offerSeen = offered;
        const bool busy = window.Enviar->text() != QStringLiteral("Enviar") ||
                          window.CancelarRecepcion->isEnabled();
        transferStarted = transferStarted || busy;
        if (parser.isSet(exitAfter) && transferStarted && !busy &&
            panels[0] == QStringLiteral("Desconectado.")) {
            say(QStringLiteral("transfer-ms %1")
                    .arg(transferClock.isValid() ? transferClock.elapsed() : -1));
            say(QStringLiteral("max-tick-gap-ms %1").arg(longestGap));
            say(QStringLiteral("done"));
            window.close();
            app.quit();
        }
    });
    watch.start(20);

    if (parser.isSet(sendFile)) {
        QTimer::singleShot(0, &window, [&] {
            window.Examinar->click();
            window.DireccionEnviada->setText(parser.value(address));
            transferClock.start();
            window.Enviar->click();
            transferStarted = true;  // even if it is over before the next look
        });
    }
    return app.exec();
}
