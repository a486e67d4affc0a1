// ruvo-cli: sends and receives files as the window does, from a terminal or a script, with
// no display.

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "cli/clioptions.h"
#include "cli/eventprinter.h"
#include "cli/exitcode.h"
#include "cli/identitycommands.h"
#include "cli/listcommand.h"
#include "cli/localsendsendcommand.h"
#include "cli/paircommand.h"
#include "cli/receivecommand.h"
#include "cli/sendcommand.h"
#include "common/settingsstore.h"
#include "common/signalcloser.h"
#include "engine/receivefolder.h"
#include "lane/filesizelimit.h"
#include "lane/largebuffers.h"

namespace {

// The window's receive folder when it has one, else the desktop folder, else home.
QString defaultReceiveFolder() {
    try {
        const SettingsStore settings{QString()};
        if (settings.isOpen()) {
            const QString folder = settings.readString(QStringLiteral("guardaren"));
            if (!folder.isEmpty()) {
                return withFinalSlash(folder);
            }
        }
    } catch (const std::exception&) {
        // A damaged setting is the window's business; the desktop folder will do.
    }
    return withFinalSlash(desktopFolder());
}

// A mistake in the command line: one line that names it, and where the help is.
int usageError(const QString& error) {
    std::fprintf(stderr, "ruvo-cli: %s (ayuda: ruvo-cli --help)\n",
                 error.toLocal8Bit().constData());
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    keepLargeBuffersInTheHeap();
    failWritesPastTheFileSizeLimit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ruvo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    const CliOptions options = parseCliOptions(QCoreApplication::arguments());
    switch (options.command) {
        case CliOptions::Command::Help:
            std::fputs(cliUsage(options.helpFor).toLocal8Bit().constData(), stdout);
            return kExitDone;
        case CliOptions::Command::Version:
            std::printf("ruvo-cli %s\n", PROJECT_VERSION);
            return kExitDone;
        case CliOptions::Command::None:
            return usageError(options.error);
        case CliOptions::Command::Id:
        case CliOptions::Command::Trust:
        case CliOptions::Command::Untrust:
            return runIdentityCommand(options);
        default:
            break;
    }
    if (options.command == CliOptions::Command::Receive && !options.acceptAll &&
        !options.acceptTrusted && !options.askGiven && !::isatty(STDIN_FILENO)) {
        // Nobody could answer: every offer would be declined without a word.
        return usageError(QStringLiteral(
            "receive sin terminal no puede preguntar: use --accept o --accept-trusted, o --ask "
            "para leer las respuestas de la entrada"));
    }

    EventPrinter printer(EventPrinter::styleFor(options.json));
    int exitCode = kExitError;
    std::unique_ptr<SendCommand> send;
    std::unique_ptr<LocalSendSendCommand> localSend;
    std::unique_ptr<ReceiveCommand> receive;
    std::unique_ptr<ListCommand> list;
    std::unique_ptr<PairCommand> pair;
    std::unique_ptr<SignalCloser> closer;
    const auto finish = [&exitCode](int code) {
        exitCode = code;
        QCoreApplication::exit(code);
    };
    // The commands start from the event loop: an outcome that comes at once (a wrong
    // address) then ends the loop as any later one does.
    if (options.command == CliOptions::Command::Send && options.toLocalSend()) {
        localSend = std::make_unique<LocalSendSendCommand>(options, printer);
        QObject::connect(localSend.get(), &LocalSendSendCommand::finished, &app, finish);
        closer = std::make_unique<SignalCloser>([&localSend] { localSend->cancel(); });
        QMetaObject::invokeMethod(localSend.get(), &LocalSendSendCommand::start,
                                  Qt::QueuedConnection);
    } else if (options.command == CliOptions::Command::Send) {
        send = std::make_unique<SendCommand>(options, printer);
        QObject::connect(send.get(), &SendCommand::finished, &app, finish);
        closer = std::make_unique<SignalCloser>([&send] { send->cancel(); });
        QMetaObject::invokeMethod(send.get(), &SendCommand::start, Qt::QueuedConnection);
    } else if (options.command == CliOptions::Command::Receive) {
        const QString folder =
            options.folder.isEmpty() ? defaultReceiveFolder() : withFinalSlash(options.folder);
        receive = std::make_unique<ReceiveCommand>(options, folder, printer);
        QObject::connect(receive.get(), &ReceiveCommand::finished, &app, finish);
        closer = std::make_unique<SignalCloser>([&receive] { receive->cancel(); });
        if (!receive->start()) {
            return kExitError;
        }
    } else if (options.command == CliOptions::Command::Pair) {
        pair = std::make_unique<PairCommand>(options, printer);
        QObject::connect(pair.get(), &PairCommand::finished, &app, finish);
        closer = std::make_unique<SignalCloser>([&pair] { pair->cancel(); });
        QMetaObject::invokeMethod(pair.get(), &PairCommand::start, Qt::QueuedConnection);
    } else {
        list = std::make_unique<ListCommand>(options.json, options.waitMs, options.localSend);
        QObject::connect(list.get(), &ListCommand::finished, &app, finish);
        list->start();
    }
    app.exec();
    return exitCode;
}
