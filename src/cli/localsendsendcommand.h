#pragma once

#include <QObject>

#include <memory>

#include "cli/clioptions.h"
#include "cli/eventprinter.h"
#include "engine/transferclock.h"
#include "localsend/sender.h"

// `ruvo-cli send PATH... localsend://HOST[:PORT]`: offers the files (folders with what they
// hold) to a LocalSend device, uploads them and ends with the outcome's exit code, saying in
// words why a device refused. It reports exactly one outcome and emits finished() once.
class LocalSendSendCommand : public QObject {
    Q_OBJECT

public:
    LocalSendSendCommand(const CliOptions& options, EventPrinter& printer,
                         QObject* parent = nullptr);
    ~LocalSendSendCommand() override;

    // Run it from the event loop: the outcome may come before start() returns.
    void start();
    // Ctrl+C or SIGTERM: the device is told, and the command ends as cancelled.
    void cancel();

signals:
    void finished(int exitCode);

private:
    void ended(localsend::Sender::End end, const QString& detail);
    void end(const QString& text, int code, const QString& kind);

    const CliOptions& m_options;
    EventPrinter& m_printer;
    std::unique_ptr<localsend::Sender> m_sender;
    TransferClock m_clock;
    QString m_where;
    bool m_ended = false;
    int m_exitCode = 0;
};
