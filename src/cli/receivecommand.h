#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

#include "cli/clioptions.h"
#include "cli/eventprinter.h"
#include "cli/terminalprompt.h"
#include "discovery/serviceannouncer.h"
#include "engine/laneidentity.h"
#include "engine/outcome.h"
#include "engine/receivingservice.h"
#include "localsend/discovery.h"

// `ruvo-cli receive`: listens, shows each offer, accepts it by flag or by the user's answer
// on the terminal, receives it into the folder and, with --once, ends after one transfer.
class ReceiveCommand : public QObject {
    Q_OBJECT

public:
    ReceiveCommand(const CliOptions& options, const QString& folder, EventPrinter& printer,
                   QObject* parent = nullptr);

    // Starts listening; false (after saying why) when the folder cannot take files or the
    // port cannot be opened. Says where it can be reached, and when the lane is missing.
    bool start();
    // Ctrl+C or SIGTERM: a transfer under way ends, its partial file stays for a later
    // resume, and the command ends as cancelled.
    void cancel();

signals:
    void finished(int exitCode);

private:
    void offered(const ReceivingService::Offer& offer);
    void asked(quint64 id, ReceivingService::Question question);
    void pairingAsked(quint64 serial, const QString& code, const QString& peerName,
                      const QString& peerFingerprint);
    void ended(Outcome outcome);

    const CliOptions& m_options;
    QString m_folder;
    EventPrinter& m_printer;
    TerminalPrompt m_prompt;
    std::shared_ptr<const LaneIdentity> m_identity;
    ReceivingService m_service;
    QTimer m_retryAfterDiskFull;
    std::unique_ptr<ServiceAnnouncer> m_announcer;  // null with --no-announce
    QString m_fingerprint;  // this copy's, announced with the lane; empty without one
    std::unique_ptr<localsend::Discovery> m_localSendDiscovery;  // null without LocalSend
    bool m_offered = false;
    bool m_askingAboutPairing = false;
    bool m_cancelling = false;
};
