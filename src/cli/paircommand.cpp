#include "cli/paircommand.h"

#include "cli/exitcode.h"
#include "common/outcometext.h"
#include "discovery/serviceannouncer.h"
#include "engine/laneidentity.h"
#include "engine/pairingrequest.h"

PairCommand::PairCommand(const CliOptions& options, EventPrinter& printer, QObject* parent)
    : QObject(parent), m_options(options), m_printer(printer) {
    QString error;
    const auto identity =
        LaneIdentity::load(Identity::defaultFolder(), &error, ServiceAnnouncer::defaultName());
    if (!identity) {
        m_printer.info(QStringLiteral("Sin via rapida: %1").arg(error));
    }
    m_request = std::make_unique<PairingRequest>(options.port, identity);
    connect(m_request.get(), &PairingRequest::codeReady, this,
            [this](const QString& code, const QString& name, const QString& fingerprint) {
                m_printer.pairing(code, name, fingerprint);
                m_prompt.ask(QStringLiteral("Codigo de emparejamiento: %1. ¿Es el mismo en el otro "
                                            "equipo?")
                                 .arg(code),
                             [this](bool yes) {
                                 if (yes) {
                                     m_printer.info(QStringLiteral("Esperando al otro equipo..."));
                                 }
                                 m_request->confirm(yes);
                             });
            });
    connect(m_request.get(), &PairingRequest::ended, this, &PairCommand::ended);
}

PairCommand::~PairCommand() = default;

void PairCommand::start() {
    m_printer.info(QStringLiteral("Pidiendo emparejamiento a %1...").arg(m_options.address));
    m_request->start(m_options.address);
}

void PairCommand::cancel() {
    if (m_ended) {
        emit finished(kExitCancelled);
        return;
    }
    m_cancelling = true;
    if (m_request->isActive()) {
        m_request->cancel();  // ends it, through ended()
        return;
    }
    ended(PairingOutcome::Refused, QString());
}

void PairCommand::ended(PairingOutcome outcome, const QString& peer) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_prompt.dismiss();  // the other end ended it before our user answered
    int code = kExitError;
    QString kind = QStringLiteral("pairing-failed");
    switch (outcome) {
        case PairingOutcome::Paired:
            code = kExitDone;
            kind = QStringLiteral("paired");
            break;
        case PairingOutcome::Refused:
        case PairingOutcome::RefusedByPeer:
        case PairingOutcome::Busy:
        case PairingOutcome::NotOffered:
            code = kExitRefused;
            kind = QStringLiteral("pairing-refused");
            break;
        default:
            break;
    }
    if (m_cancelling && outcome != PairingOutcome::Paired) {
        code = kExitCancelled;
        kind = QStringLiteral("cancelled");
    }
    m_printer.outcome(pairingText(outcome, peer), code, kind);
    emit finished(code);
}
