#pragma once

#include <QObject>

#include "cli/clioptions.h"
#include "cli/eventprinter.h"
#include "engine/outcome.h"
#include "engine/sendingsession.h"

// `ruvo-cli send FILE ADDRESS`: offers the file, serves its blocks, shows the progress and
// ends with the outcome's exit code.
class SendCommand : public QObject {
    Q_OBJECT

public:
    SendCommand(const CliOptions& options, EventPrinter& printer, QObject* parent = nullptr);

    // Starts the send; false (after saying why) when the file cannot be opened.
    bool start();
    // Ctrl+C or SIGTERM: the send ends, the receiver keeps what it has.
    void cancel();

signals:
    void finished(int exitCode);

private:
    void ended(Outcome outcome);

    const CliOptions& m_options;
    EventPrinter& m_printer;
    SendingSession m_session;
    bool m_served = false;
};
