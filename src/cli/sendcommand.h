#pragma once

#include <QObject>

#include "cli/clioptions.h"
#include "cli/eventprinter.h"
#include "engine/outcome.h"
#include "engine/sendingsession.h"

// `ruvo-cli send FILE ADDRESS`: offers the file, serves its blocks, shows the progress and
// ends with the outcome's exit code. It reports exactly one outcome and emits finished()
// exactly once, however the send ends.
class SendCommand : public QObject {
    Q_OBJECT

public:
    SendCommand(const CliOptions& options, EventPrinter& printer, QObject* parent = nullptr);

    // Starts the send. A file that cannot be sent ends it at once, saying which and why.
    // Run it from the event loop: the outcome may come before start() returns.
    void start();
    // Ctrl+C or SIGTERM: the send ends, the receiver keeps what it has. Ends the command
    // in any state.
    void cancel();

signals:
    void finished(int exitCode);

private:
    // Several files and folders, or one folder: one offer of entries.
    void startMany();
    void ended(Outcome outcome);
    void end(const QString& text, int code, const QString& kind);

    const CliOptions& m_options;
    EventPrinter& m_printer;
    SendingSession m_session;
    bool m_connected = false;
    bool m_served = false;
    bool m_ended = false;
    int m_exitCode = 0;
};
