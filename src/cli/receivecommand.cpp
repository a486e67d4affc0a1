#include "cli/receivecommand.h"

#include <QFileInfo>

#include <utility>

#include "cli/exitcode.h"
#include "common/outcometext.h"

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
    connect(&m_service, &ReceivingService::offerArrived, this, &ReceiveCommand::offered);
    connect(&m_service, &ReceivingService::questionAsked, this, &ReceiveCommand::asked);
    connect(&m_service, &ReceivingService::receptionStarted, this, [this] {
        m_started = true;
        m_printer.started(0);
    });
    connect(&m_service, &ReceivingService::progress, this, [this](const TransferProgress& p) {
        if (!m_started) {
            m_started = true;  // continuing a partial file
            m_printer.started(p.startOffset);
        }
        m_printer.progress(p);
    });
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
    connect(&m_service, &ReceivingService::receptionEnded, this,
            [this](Outcome outcome, bool) { ended(outcome); });
}

bool ReceiveCommand::start() {
    if (!QFileInfo(m_folder).isDir()) {
        m_printer.outcome(QStringLiteral("La carpeta no existe: %1").arg(m_folder), kExitError);
        return false;
    }
    m_service.setLaneEnabled(!m_options.classic);
    if (const std::optional<ReceivingService::ListenError> error = m_service.listen()) {
        m_printer.outcome(QStringLiteral("No se puede escuchar en el puerto %1: %2")
                              .arg(m_options.port)
                              .arg(error->message),
                          kExitError);
        return false;
    }
    const bool lane = m_service.laneListening();
    if (m_options.announce) {
        m_announcer = std::make_unique<ServiceAnnouncer>(
            ServiceAnnouncer::defaultName(), m_service.listeningPort(),
            QList<QByteArray>{lane ? "lane=1" : "lane=0"});
    }
    m_printer.info(
        QStringLiteral("Esperando ofertas en el puerto %1%2; se guardan en %3")
            .arg(m_service.listeningPort())
            .arg(lane ? QStringLiteral(" (via rapida en el %1)").arg(m_service.listeningPort() + 1)
                      : QString())
            .arg(m_folder));
    return true;
}

void ReceiveCommand::cancel() {
    if (m_service.isServing()) {
        m_cancelling = true;
        m_service.cancel();
        return;
    }
    m_printer.outcome(outcomeText(Outcome::Cancelled, Side::Receiving), kExitCancelled);
    emit finished(kExitCancelled);
}

void ReceiveCommand::offered(const ReceivingService::Offer& offer) {
    m_printer.offer(offer.name, offer.size, offer.address);
    m_offered = true;
    m_declined = false;
    m_started = false;
    if (m_options.acceptAll) {
        m_service.acceptOffer(m_folder);
        return;
    }
    const quint64 serial = m_service.offerSerial();
    m_prompt.ask(QStringLiteral("¿Recibir %1?").arg(offer.name), [this, serial](bool yes) {
        if (serial != m_service.offerSerial()) {
            return;  // another offer, or none, by now
        }
        if (yes) {
            m_service.acceptOffer(m_folder);
        } else {
            m_declined = true;
            m_service.decline();
        }
    });
}

void ReceiveCommand::asked(quint64 id, ReceivingService::Question question) {
    if (question == ReceivingService::Question::LowSpace) {
        m_printer.info(QStringLiteral("El espacio libre es menor que el de archivo."));
        if (m_options.acceptAll) {
            // Unattended, a transfer that cannot fit would only wait for space: decline it.
            m_declined = true;
            m_service.answer(id, false);
            m_service.decline();
            return;
        }
        m_prompt.ask(QStringLiteral("¿Continuar?"), [this, id](bool yes) {
            m_service.answer(id, yes);
            if (!yes) {
                m_declined = true;
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
            m_declined = true;
            m_service.answer(id, false);
            return;
        case CliOptions::Answer::Ask:
            m_prompt.ask(QStringLiteral("¿Continuar con el archivo existente?"),
                         [this, id](bool yes) {
                             m_declined = !yes;
                             m_service.answer(id, yes);
                         });
            return;
    }
}

void ReceiveCommand::ended(Outcome outcome) {
    m_retryAfterDiskFull.stop();
    if (!std::exchange(m_offered, false) && !m_cancelling) {
        // A peer that left (or was sent away) without offering anything: no transfer.
        return;
    }
    QString text = outcomeText(outcome, Side::Receiving);
    int code = kExitError;
    switch (outcome) {
        case Outcome::Received:
            code = kExitDone;
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
    m_printer.outcome(text, code);
    if (m_options.once || m_cancelling) {
        emit finished(code);
    }
}
