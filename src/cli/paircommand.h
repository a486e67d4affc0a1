#pragma once

#include <QObject>

#include <memory>

#include "cli/clioptions.h"
#include "cli/eventprinter.h"
#include "cli/terminalprompt.h"
#include "engine/pairingoutcome.h"

class PairingRequest;

// `ruvo-cli pair ADDRESS`: asks the copy at ADDRESS for pairing, shows the code both
// computers show, asks whether it is the same (on the terminal, or one answer line from the
// input), and ends with "Emparejado con NAME." once both users confirmed, or "Emparejamiento
// cancelado.". Emits finished() exactly once.
class PairCommand : public QObject {
    Q_OBJECT

public:
    PairCommand(const CliOptions& options, EventPrinter& printer, QObject* parent = nullptr);
    ~PairCommand() override;

    // Run it from the event loop, as SendCommand::start.
    void start();
    // Ctrl+C or SIGTERM: the other end is told no.
    void cancel();

signals:
    void finished(int exitCode);

private:
    void ended(PairingOutcome outcome, const QString& peer);

    const CliOptions& m_options;
    EventPrinter& m_printer;
    TerminalPrompt m_prompt;
    std::unique_ptr<PairingRequest> m_request;
    bool m_ended = false;
    bool m_cancelling = false;
};
