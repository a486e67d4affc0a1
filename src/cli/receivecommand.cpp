#include "cli/receivecommand.h"

#include <QFileInfo>

#include <utility>

#include "cli/exitcode.h"
#include "cli/localchecks.h"
#include "cli/outcomekind.h"
#include "common/outcometext.h"
#include "engine/laneidentity.h"
#include "identity/fingerprint.h"
#include "localsend/server.h"

namespace {

constexpr int kDiskFullRetryMs = 5000;

}  // namespace

ReceiveCommand::ReceiveCommand(const CliOptions& options, const QString& folder,
                               EventPrinter& printer, QObject* parent)
    : QObject(parent),
      m_options(options),
      m_folder(folder),
      m_printer(printer),
      m_service(options.port) {
    if (!options.classic || options.localSend) {
        // Without a usable identity the lane stays closed and LocalSend speaks plain HTTP
        // only: the classic port still works.
        QString error;
        m_identity =
            LaneIdentity::load(Identity::defaultFolder(), &error, ServiceAnnouncer::defaultName());
        if (!m_identity) {
            m_printer.info(QStringLiteral("Sin via rapida: %1").arg(error));
        } else {
            m_fingerprint = m_identity->identity().fingerprint();
        }
        m_service.setLaneIdentity(m_identity);
    }
    // Only a person can compare a pairing code: without a terminal, pairing is declined.
    m_service.setPairingAllowed(TerminalPrompt::onTerminal());
    connect(&m_service, &ReceivingService::pairingCodeShown, this, &ReceiveCommand::pairingAsked);
    connect(&m_service, &ReceivingService::pairingEnded, this,
            [this](PairingOutcome outcome, const QString& peer) {
                if (std::exchange(m_askingAboutPairing, false)) {
                    m_prompt.dismiss();  // answered, or over without an answer
                }
                m_printer.info(pairingText(outcome, peer));
                if (m_cancelling) {
                    m_printer.outcome(outcomeText(Outcome::Cancelled, Side::Receiving),
                                      kExitCancelled, outcomeKind(Outcome::Cancelled));
                    emit finished(kExitCancelled);
                }
            });
    connect(&m_service, &ReceivingService::offerArrived, this, &ReceiveCommand::offered);
    connect(
        &m_service, &ReceivingService::fileEnded, this,
        [this](const QString& path, FileVerdict verdict) { m_printer.fileEnded(path, verdict); });
    connect(&m_service, &ReceivingService::fileStarted, this,
            [this](const QString& path, qint64 size) { m_printer.fileStarted(path, size); });
    connect(&m_service, &ReceivingService::questionAsked, this, &ReceiveCommand::asked);
    connect(&m_service, &ReceivingService::progress, this,
            [this](const TransferProgress& p) { m_printer.progress(p); });
    connect(&m_service, &ReceivingService::peerPaused, this,
            [this] { m_printer.info(QStringLiteral("Pausa (el emisor ha pausado)")); });
    connect(&m_service, &ReceivingService::busyPeerDismissed, this,
            [this] { m_printer.info(QStringLiteral("Ocupado")); });
    // Nobody sits at a box here: the transfer waits paused and tries again now and then.
    m_retryAfterDiskFull.setSingleShot(true);
    m_retryAfterDiskFull.setInterval(kDiskFullRetryMs);
    connect(&m_retryAfterDiskFull, &QTimer::timeout, this, [this] { m_service.resumeByUser(); });
    connect(&m_service, &ReceivingService::diskFull, this, [this] {
        if (!m_retryAfterDiskFull.isActive()) {
            m_printer.info(QStringLiteral("Sin espacio en disco."));
        }
        m_retryAfterDiskFull.start();
    });
    connect(&m_service, &ReceivingService::savedUnderOtherName, this, [this](const QString& path) {
        m_printer.info(QStringLiteral("Ya hay otro archivo con ese nombre: se guarda como %1")
                           .arg(QFileInfo(path).fileName()));
    });
    connect(&m_service, &ReceivingService::receptionEnded, this,
            [this](Outcome outcome, bool) { ended(outcome); });
}

bool ReceiveCommand::start() {
    if (const QString problem = folderProblem(m_folder); !problem.isEmpty()) {
        m_printer.outcome(QStringLiteral("Carpeta de recepcion %1: %2").arg(m_folder, problem),
                          kExitError, QStringLiteral("folder"));
        return false;
    }
    const QString name = ServiceAnnouncer::defaultName();
    m_service.setLocalSendDevice(name, QStringLiteral("headless"), m_options.localSendPin);
    m_service.setLocalSendEnabled(m_options.localSend, m_options.localSendPort);
    if (const std::optional<ReceivingService::ListenError> error = m_service.listen()) {
        QString problem = portProblem(m_options.port);
        if (problem.isEmpty()) {
            problem = error->message;
        }
        m_printer.outcome(QStringLiteral("El puerto %1 %2.").arg(m_options.port).arg(problem),
                          kExitError, QStringLiteral("port-in-use"));
        return false;
    }
    m_service.setLaneEnabled(!m_options.classic);
    const bool lane = m_service.laneListening();
    const quint16 port = m_service.listeningPort();
    if (!m_options.classic && !lane) {
        const quint16 lanePort = static_cast<quint16>(port + 1);
        QString problem = portProblem(lanePort);
        if (problem.isEmpty()) {
            problem = QStringLiteral("no se puede abrir");
        }
        m_printer.info(QStringLiteral("Sin via rapida: el puerto %1 %2; solo el protocolo clasico.")
                           .arg(lanePort)
                           .arg(problem));
    }
    if (m_options.localSend) {
        const localsend::Server* localSend = m_service.localSendServer();
        if (m_service.localSendListening()) {
            m_printer.info(QStringLiteral("LocalSend en el puerto %1 (%2)%3")
                               .arg(localSend->serverPort())
                               .arg(localSend->secure() ? QStringLiteral("HTTPS y HTTP")
                                                        : QStringLiteral("solo HTTP"))
                               .arg(m_options.localSendPin.isEmpty()
                                        ? QString()
                                        : QStringLiteral(", con PIN")));
        } else {
            QString problem = portProblem(m_options.localSendPort);
            if (problem.isEmpty()) {
                problem = QStringLiteral("no se puede abrir");
            }
            m_printer.info(QStringLiteral("Sin LocalSend: el puerto %1 %2.")
                               .arg(m_options.localSendPort)
                               .arg(problem));
        }
    }
    if (m_options.announce && m_service.localSendListening()) {
        // Phones see this copy when it announces itself and when it answers them.
        localsend::Server* localSend = m_service.localSendServer();
        m_localSendDiscovery = std::make_unique<localsend::Discovery>(
            localSend->receiver().device(), m_identity ? &m_identity->identity() : nullptr);
        connect(&localSend->receiver(), &localsend::Receiver::registered,
                m_localSendDiscovery.get(), &localsend::Discovery::addRegistered);
        if (!m_localSendDiscovery->start(true)) {
            m_printer.info(
                QStringLiteral("LocalSend sin anuncios: el puerto UDP %1 no se puede abrir.")
                    .arg(localsend::Discovery::kMulticastPort));
        }
    }
    if (m_options.announce) {
        m_announcer = std::make_unique<ServiceAnnouncer>(
            name, port, ServiceAnnouncer::txtRecord(lane, m_fingerprint));
    }
    m_printer.info(
        QStringLiteral("Esperando ofertas en el puerto %1%2; se guardan en %3")
            .arg(port)
            .arg(lane ? QStringLiteral(" (via rapida en el %1)").arg(port + 1) : QString())
            .arg(m_folder));
    const QStringList addresses = reachableAddresses();
    m_printer.info(QStringLiteral("Direcciones de esta computadora: %1%2")
                       .arg(addresses.isEmpty()
                                ? QStringLiteral("ninguna en la red (solo 127.0.0.1)")
                                : addresses.join(QStringLiteral(", ")))
                       .arg(port == 9950 ? QString() : QStringLiteral(" (con :%1)").arg(port)));
    m_printer.info(m_options.announce
                       ? QStringLiteral("Visible en la red local como %1").arg(name)
                       : QStringLiteral("No visible en la red local (--no-announce)"));
    return true;
}

void ReceiveCommand::cancel() {
    if (m_service.isServing()) {
        m_cancelling = true;
        m_service.cancel();
        return;
    }
    m_printer.outcome(outcomeText(Outcome::Cancelled, Side::Receiving), kExitCancelled,
                      outcomeKind(Outcome::Cancelled));
    emit finished(kExitCancelled);
}

void ReceiveCommand::offered(const ReceivingService::Offer& offer) {
    m_printer.offer(offer);
    m_offered = true;
    if (m_options.acceptAll || (m_options.acceptTrusted && offer.senderTrusted)) {
        m_service.acceptOffer(m_folder);
        return;
    }
    if (m_options.acceptTrusted && !m_options.askGiven && !TerminalPrompt::onTerminal()) {
        // Nobody to ask: a sender this copy does not trust is declined.
        m_printer.info(QStringLiteral("Remitente sin verificar: se rechaza."));
        m_service.decline();
        return;
    }
    const quint64 serial = m_service.offerSerial();
    const QString what = offer.kind == TransferOffer::Kind::Text ? QStringLiteral("el texto")
                         : offer.kind == TransferOffer::Kind::Entries
                             ? QStringLiteral("%1 archivos").arg(offer.fileCount)
                             : offer.name;
    m_prompt.ask(QStringLiteral("¿Recibir %1?").arg(what), [this, serial](bool yes) {
        if (serial != m_service.offerSerial()) {
            return;  // another offer, or none, by now
        }
        if (yes) {
            m_service.acceptOffer(m_folder);
        } else {
            m_service.decline();
        }
    });
}

void ReceiveCommand::pairingAsked(quint64 serial, const QString& code, const QString& peerName,
                                  const QString& peerFingerprint) {
    m_printer.pairing(code, peerName, peerFingerprint);
    m_askingAboutPairing = true;
    m_prompt.ask(
        QStringLiteral("Codigo de emparejamiento: %1. ¿Es el mismo en el otro equipo?").arg(code),
        [this, serial](bool yes) {
            m_askingAboutPairing = false;
            m_service.answerPairing(serial, yes);
        });
}

void ReceiveCommand::asked(quint64 id, ReceivingService::Question question) {
    if (question == ReceivingService::Question::LowSpace) {
        m_printer.info(QStringLiteral("El espacio libre es menor que el de archivo."));
        if (m_options.acceptAll) {
            // Unattended, a transfer that cannot fit would only wait for space: decline it.
            m_service.answer(id, false);
            m_service.decline();
            return;
        }
        m_prompt.ask(QStringLiteral("¿Continuar?"), [this, id](bool yes) {
            m_service.answer(id, yes);
            if (!yes) {
                m_service.decline();
            }
        });
        return;
    }
    switch (m_options.continueExisting) {
        case CliOptions::Answer::Yes:
            m_service.answer(id, true);
            return;
        case CliOptions::Answer::No:
            m_service.answer(id, false);
            return;
        case CliOptions::Answer::Ask:
            m_prompt.ask(QStringLiteral("¿Continuar con el archivo existente?"),
                         [this, id](bool yes) { m_service.answer(id, yes); });
            return;
    }
}

void ReceiveCommand::ended(Outcome outcome) {
    m_retryAfterDiskFull.stop();
    if (!std::exchange(m_offered, false) && !m_cancelling) {
        // A peer that left (or was sent away) without offering anything: no transfer.
        return;
    }
    if (m_cancelling) {
        outcome = Outcome::Cancelled;
    }
    int code = kExitError;
    QString text = outcomeText(outcome, Side::Receiving);
    QString path;
    switch (outcome) {
        case Outcome::Received:
            code = kExitDone;
            if (m_service.offer().kind == TransferOffer::Kind::Text) {
                m_printer.text(m_service.offer().text);
            } else {
                path = m_service.targetPath();
            }
            break;
        case Outcome::Declined:
        case Outcome::CancelledByPeer:
            code = kExitRefused;
            break;
        case Outcome::Cancelled:
            code = kExitCancelled;
            break;
        case Outcome::PeerLeft:
            text = QStringLiteral("Desconectado.");
            break;
        default:
            break;
    }
    const QString kind = outcomeKind(outcome);
    m_printer.outcome(text, code, kind, path);
    if (m_options.once || m_cancelling) {
        emit finished(code);
    }
}
