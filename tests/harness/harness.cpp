// Runs one real Ruvo window with its ports, configuration folder and answers taken from the
// command line, and acts as its user: for tests and benchmarks that need copies as separate
// processes (killed and started again, pinned to CPUs, in other network namespaces).
//
//   ruvo-harness --listen-port N [--connect-port N] --config DIR --folder DIR
//                [--send FILE [--to ADDRESS]] [--accept] [--answers yes,no,...]
//                [--exit-after-transfer] [--notify] [--discovery] [--lane] [--tick-ms N]
//
// It prints one line per change of what the user would see: "listening <port>", "panel0
// <text>", "panel1 <text>", "offer <name> <size>"; when it exits after a transfer, the
// transfer's time ("transfer-ms <n>", from the click to the end), the longest gap between
// ticks of a timer of --tick-ms (how long the window was unable to handle events), and
// "done". Every box the window shows is printed as "box <kind> <text>" (kind: question,
// message, error, open-file, folder), and a question nobody had an answer for as
// "unexpected <what>". With --discovery the window announces itself and lists the copies
// it finds: each change of its address drop-down prints "entries <label>=<address>|...",
// the label as the drop-down shows it ("<name> (de confianza)" for a trusted copy).
//
// Lines on its standard input act as the user further on:
//   answer yes|no     queue the answer to the next question
//   click NAME        click a button: Recibir, PausarRecepcion, CancelarRecepcion,
//                     PausarEnvio, Enviar
//   send FILE         choose FILE on the "Enviar" page and click "Enviar" (to --to when
//                     given or when the field is empty, else to the address in the field)
//   choose LABEL      choose an entry of the address drop-down
//   drop-down         open the address drop-down
//   page N            bring page N (0 Enviar, 1 Recibir, 2 Configurar) forward
//   status            print "status" and tab-separated key=value pairs of the window's state
//   quit              close the window (as SIGTERM does)
#include <QCheckBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <map>
#include <memory>

#include "common/signalcloser.h"
#include "engine/receivingservice.h"
#include "engine/sendingsession.h"
#include "lane/filesizelimit.h"
#include "lane/largebuffers.h"
#include "net/listener.h"
#include "net/serverendpoint.h"
#include "shell/addresschooser.h"
#include "shell/formruvo.h"
#include "shell/ruvoapplication.h"
#include "shell/scripteduserdialogs.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "sound/silenttonedevice.h"
#include "widgets/folderedit.h"

#include "enablewatcher.h"

namespace {

void say(const QString& line) {
    std::printf("%s\n", qUtf8Printable(line));
    std::fflush(stdout);
}

QString boxKind(ScriptedUserDialogs::Kind kind) {
    switch (kind) {
        case ScriptedUserDialogs::Kind::YesNo:
            return QStringLiteral("question");
        case ScriptedUserDialogs::Kind::Message:
            return QStringLiteral("message");
        case ScriptedUserDialogs::Kind::Error:
            return QStringLiteral("error");
        case ScriptedUserDialogs::Kind::OpenFile:
            return QStringLiteral("open-file");
        case ScriptedUserDialogs::Kind::Folder:
            return QStringLiteral("folder");
    }
    return QString();
}

QString flag(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// One line of the window's state for the "status" command.
QString statusLine(TFormruvo& window) {
    QStringList fields{QStringLiteral("status")};
    const auto field = [&fields](const char* key, const QString& value) {
        fields.append(QLatin1String(key) + QLatin1Char('=') + value);
    };
    field("panel0", window.BarraEstado->PanelText(0));
    field("panel1", window.BarraEstado->PanelText(1));
    field("listening", flag(window.Receiving()->isListening()));
    field("connections", QString::number(window.Receiving()->openConnectionCount()));
    field("served", flag(window.Receiving()->isServing()));
    field("offer", flag(window.Recibir->isEnabled()));
    field("receiving", flag(window.CancelarRecepcion->isEnabled()));
    field("pausarRecepcion", window.PausarRecepcion->text());
    field("pausarRecepcionEnabled", flag(window.PausarRecepcion->isEnabled()));
    field("enviar", window.Enviar->text());
    field("pausarEnvio", window.PausarEnvio->text());
    field("pausarEnvioEnabled", flag(window.PausarEnvio->isEnabled()));
    return fields.join(QLatin1Char('\t'));
}

}  // namespace

int main(int argc, char** argv) {
    keepLargeBuffersInTheHeap();
    failWritesPastTheFileSizeLimit();
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
    const QCommandLineOption discovery(
        QStringLiteral("discovery"),
        QStringLiteral("Announce on the local network and list the copies found there."));
    const QCommandLineOption lane(QStringLiteral("lane"),
                                  QStringLiteral("Offer and take the fast lane."));
    const QCommandLineOption tick(
        QStringLiteral("tick-ms"),
        QStringLiteral("Measure the longest gap between ticks of a timer of this interval."),
        QStringLiteral("ms"), QStringLiteral("10"));
    parser.addOptions({listenPort, connectPort, config, folder, sendFile, address, accept, answers,
                       exitAfter, notify, discovery, lane, tick});
    parser.process(app);

    ScriptedUserDialogs dialogs(0);
    app.setErrorDialogs(&dialogs);
    dialogs.onAsk = [](const ScriptedUserDialogs::Asked& asked) {
        say(QStringLiteral("box %1 %2").arg(boxKind(asked.kind), asked.text));
    };
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
    options.discovery = parser.isSet(discovery);
    options.lane = parser.isSet(lane);
    TFormruvo window(options);
    if (parser.isSet(folder)) {
        window.GuardarEn->setText(parser.value(folder));
    }
    window.Notificar->setChecked(parser.isSet(notify));
    SignalCloser closer([&window] { window.close(); });
    window.show();
    if (window.Receiving()->isListening()) {
        say(QStringLiteral("listening %1").arg(window.Receiving()->listeningPort()));
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
    // The transfer's end as the engine tells the window (the looks below come every 20 ms,
    // too coarse to time a transfer of a few tens of milliseconds by).
    qint64 endedMs = -1;
    const auto ended = [&] {
        if (endedMs < 0 && transferClock.isValid()) {
            endedMs = transferClock.elapsed();
        }
    };
    QObject::connect(window.Receiving(), &ReceivingService::receptionEnded, &window, ended);
    QObject::connect(window.Sending(), &SendingSession::sendingEnded, &window, ended);

    // Watch what the user would see, and act on it as the options say.
    QString panels[2];
    QStringList shownEntries;
    qsizetype failuresSaid = 0;
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
        QStringList entries;
        for (const AddressChooser::Entry& entry : window.Direcciones->entries()) {
            entries.append(AddressChooser::shownText(entry) + QLatin1Char('=') + entry.address);
        }
        if (entries != shownEntries) {
            shownEntries = entries;
            say(QStringLiteral("entries %1").arg(entries.join(QLatin1Char('|'))));
        }
        for (; failuresSaid < dialogs.failures().size(); ++failuresSaid) {
            say(dialogs.failures().at(failuresSaid));
        }
        const bool busy = window.Enviar->text() != QStringLiteral("Enviar") ||
                          window.CancelarRecepcion->isEnabled();
        transferStarted = transferStarted || busy;
        if (parser.isSet(exitAfter) && transferStarted && !busy &&
            panels[0] == QStringLiteral("Desconectado.")) {
            say(QStringLiteral("transfer-ms %1")
                    .arg(endedMs >= 0              ? endedMs
                         : transferClock.isValid() ? transferClock.elapsed()
                                                   : -1));
            say(QStringLiteral("max-tick-gap-ms %1").arg(longestGap));
            say(QStringLiteral("done"));
            window.close();
            app.quit();
        }
    });
    watch.start(20);

    // Every offer, as "Recibir" becomes enabled for it; the user looks (and clicks) once the
    // handler that showed it has returned.
    EnableWatcher offers(window.Recibir, [&] {
        QTimer::singleShot(0, &window, [&] {
            if (!window.Recibir->isEnabled()) {
                return;
            }
            say(QStringLiteral("offer %1 %2")
                    .arg(window.FicheroRecibido->text(), window.TamanoRecibido->text()));
            if (parser.isSet(accept)) {
                transferClock.start();
                window.Recibir->click();
                transferStarted = true;  // even if it is over before the next look
            }
        });
    });

    const auto startSending = [&] {
        window.Examinar->click();
        if (parser.isSet(address) || window.DireccionEnviada->text().isEmpty()) {
            window.DireccionEnviada->setText(parser.value(address));
        }
        transferClock.start();
        window.Enviar->click();
        transferStarted = true;  // even if it is over before the next look
    };
    if (parser.isSet(sendFile)) {
        QTimer::singleShot(0, &window, startSending);
    }

    // Commands on standard input, one per line.
    const std::map<QString, QPushButton*> buttons{
        {QStringLiteral("Recibir"), window.Recibir},
        {QStringLiteral("PausarRecepcion"), window.PausarRecepcion},
        {QStringLiteral("CancelarRecepcion"), window.CancelarRecepcion},
        {QStringLiteral("PausarEnvio"), window.PausarEnvio},
        {QStringLiteral("Enviar"), window.Enviar},
    };
    const auto runCommand = [&](const QString& line) {
        const QString verb = line.section(u' ', 0, 0);
        const QString rest = line.section(u' ', 1);
        if (verb == QStringLiteral("answer")) {
            dialogs.queueYesNo(rest == QStringLiteral("yes"));
        } else if (verb == QStringLiteral("click") && buttons.count(rest) != 0) {
            buttons.at(rest)->click();
        } else if (verb == QStringLiteral("send")) {
            dialogs.queueOpenFile(rest);
            startSending();
        } else if (verb == QStringLiteral("choose")) {
            if (!window.Direcciones->choose(rest)) {
                say(QStringLiteral("unexpected choose %1").arg(rest));
            }
        } else if (verb == QStringLiteral("page")) {
            window.Paginas->setCurrentIndex(rest.toInt());
        } else if (verb == QStringLiteral("drop-down")) {
            window.Direcciones->popup();
        } else if (verb == QStringLiteral("status")) {
            say(statusLine(window));
        } else if (verb == QStringLiteral("quit")) {
            window.close();
        } else {
            say(QStringLiteral("unknown-command %1").arg(line));
        }
    };
    QByteArray input;
    std::unique_ptr<QSocketNotifier> stdinNotifier;
    if (::fcntl(STDIN_FILENO, F_GETFD) != -1) {
        stdinNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(stdinNotifier.get(), &QSocketNotifier::activated, [&] {
            char buffer[4096];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                // End of input (or an error): nothing more will come, and a notifier left
                // on would fire for ever.
                stdinNotifier->setEnabled(false);
                return;
            }
            input.append(buffer, n);
            for (qsizetype end = input.indexOf('\n'); end >= 0; end = input.indexOf('\n')) {
                const QString line = QString::fromUtf8(input.left(end)).trimmed();
                input.remove(0, end + 1);
                if (!line.isEmpty()) {
                    runCommand(line);
                }
            }
        });
    }
    return app.exec();
}
