#include "cli/sendcommand.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "cli/exitcode.h"
#include "cli/localchecks.h"
#include "cli/outcomekind.h"
#include "common/outcometext.h"
#include "discovery/serviceannouncer.h"
#include "engine/laneidentity.h"
#include "identity/fingerprint.h"

namespace {

constexpr int kCancelGraceMs = 3000;

QString skipReason(const entries::Skipped& skipped) {
    switch (skipped.reason) {
        case entries::SkipReason::Link:
            return QStringLiteral("es un enlace (no se sigue)");
        case entries::SkipReason::Special:
            return QStringLiteral("no es un archivo comun ni una carpeta");
        case entries::SkipReason::Missing:
            return QStringLiteral("no existe");
        case entries::SkipReason::Unreadable:
            return QStringLiteral("no se puede leer");
        case entries::SkipReason::Refused:
            break;
    }
    return QStringLiteral("el receptor no lo aceptaria (%1)")
        .arg(QString::fromLatin1(entries::manifestErrorName(skipped.error)));
}

}  // namespace

SendCommand::SendCommand(const CliOptions& options, EventPrinter& printer, QObject* parent)
    : QObject(parent), m_options(options), m_printer(printer), m_session(options.port, nullptr) {
    m_session.setLaneEnabled(!options.classic);
    // One file, several or a text: another identity at a remembered address is taken only
    // when the user said so.
    m_session.setAcceptNewIdentity(options.acceptNewIdentity);
    if (!options.classic) {
        QString error;
        const auto identity =
            LaneIdentity::load(Identity::defaultFolder(), &error, ServiceAnnouncer::defaultName());
        if (!identity) {
            m_printer.info(QStringLiteral("Sin via rapida: %1").arg(error));
        }
        m_session.setLaneIdentity(identity);
    }
    connect(&m_session, &SendingSession::connected, this, [this] {
        m_connected = true;
        m_printer.info(QStringLiteral("Conectado."));
        m_printer.info(QStringLiteral("Esperando respuesta de %1...").arg(m_options.address));
    });
    connect(&m_session, &SendingSession::progress, this, [this](const TransferProgress& p) {
        m_served = true;
        m_printer.progress(p);
    });
    connect(&m_session, &SendingSession::peerPaused, this,
            [this] { m_printer.info(QStringLiteral("Pausa (el receptor ha pausado)")); });
    connect(&m_session, &SendingSession::fileStarted, this,
            [this](const QString& path, qint64 size) { m_printer.fileStarted(path, size); });
    connect(
        &m_session, &SendingSession::fileEnded, this,
        [this](const QString& path, FileVerdict verdict) { m_printer.fileEnded(path, verdict); });
    connect(&m_session, &SendingSession::sendingEnded, this,
            [this](Outcome outcome, bool) { ended(outcome); });
    // The outcome is reported as it comes, and the program ends with it.
}

void SendCommand::start() {
    if (m_options.textGiven) {
        if (!m_session.chooseText(m_options.text)) {
            end(QStringLiteral("No se puede enviar el texto: esta vacio, pasa de 65536 bytes o "
                               "lleva caracteres de control."),
                kExitError, outcomeKind(Outcome::CannotOpen));
            return;
        }
        m_printer.startMany(QStringLiteral("un texto"), m_options.text.toUtf8().size(),
                            m_options.address);
        m_session.start(m_options.address);
        return;
    }
    if (m_options.paths.size() > 1 || QFileInfo(m_options.file).isDir()) {
        startMany();
        return;
    }
    const QString& path = m_options.file;
    QString problem = fileProblem(path);
    if (problem.isEmpty() && !m_session.chooseFile(path)) {
        problem = QStringLiteral("esta bloqueado o no se puede leer");
    }
    if (!problem.isEmpty()) {
        // Arguments given the wrong way round are the likeliest reason for a missing file.
        if (!QFileInfo::exists(path) && QFileInfo(m_options.address).isFile()) {
            problem += QStringLiteral(" (¿archivo y direccion al reves?)");
        }
        end(QStringLiteral("%1: %2: %3")
                .arg(outcomeText(Outcome::CannotOpen, Side::Sending), path, problem),
            kExitError, outcomeKind(Outcome::CannotOpen));
        return;
    }
    m_printer.start(path, m_session.file()->size, m_options.address);
    m_session.start(m_options.address);
}

void SendCommand::startMany() {
    for (const QString& path : m_options.paths) {
        if (!QFileInfo::exists(path)) {
            end(QStringLiteral("%1: %2: no existe")
                    .arg(outcomeText(Outcome::CannotOpen, Side::Sending), path),
                kExitError, outcomeKind(Outcome::CannotOpen));
            return;
        }
    }
    const bool chosen = m_session.chooseFiles(m_options.paths);
    // What collecting left out is said, one line each, before anything is offered.
    if (const auto& entries = m_session.entries()) {
        for (const entries::Skipped& skipped : entries->skipped) {
            m_printer.info(
                QStringLiteral("Se omite %1: %2").arg(skipped.path, skipReason(skipped)));
        }
    }
    if (!chosen) {
        end(QStringLiteral("%1: no hay nada que enviar")
                .arg(outcomeText(Outcome::CannotOpen, Side::Sending)),
            kExitError, outcomeKind(Outcome::CannotOpen));
        return;
    }
    QString what;
    if (m_session.file()) {
        what = m_session.file()->name;
    } else {
        const auto& list = m_session.entries()->manifest;
        what = m_options.paths.size() == 1
                   ? QFileInfo(QDir::cleanPath(m_options.paths.front())).fileName()
                   : QStringLiteral("%1 archivos").arg(list.fileCount());
    }
    m_printer.startMany(what, m_session.chosenSize(), m_options.address);
    m_session.start(m_options.address);
}

void SendCommand::cancel() {
    if (m_ended) {
        emit finished(m_exitCode);  // a signal always ends the program
        return;
    }
    if (m_session.state() != SendingSession::State::Idle) {
        m_session.cancel();  // ends through sendingEnded
        // Should the session not end by itself (a lane that never answers the cancel),
        // the command ends all the same.
        QTimer::singleShot(kCancelGraceMs, this, [this] { ended(Outcome::Cancelled); });
        return;
    }
    ended(Outcome::Cancelled);
}

void SendCommand::ended(Outcome outcome) {
    int code = kExitError;
    QString text = outcomeText(outcome, Side::Sending);
    QString kind = outcomeKind(outcome);
    switch (outcome) {
        case Outcome::Sent:
            code = kExitDone;
            break;
        case Outcome::Busy:
            code = kExitRefused;
            break;
        case Outcome::Cancelled:
            code = kExitCancelled;
            break;
        case Outcome::ConnectionError:
            if (!m_connected) {
                text += QStringLiteral(" No se pudo conectar con %1.").arg(m_options.address);
            }
            break;
        case Outcome::Declined:
        case Outcome::CancelledByPeer:
            code = kExitRefused;
            break;
        case Outcome::PeerLeft:
            text = QStringLiteral("Desconectado.");
            break;
        case Outcome::IdentityChanged: {
            const SendingSession::IdentityChange& change = m_session.identityChange();
            text = identityChangedText(m_options.address, fingerprint::shortForm(change.was),
                                       fingerprint::shortForm(change.now)) +
                   QStringLiteral(
                       " Si el cambio es esperado (otra instalacion en ese equipo), "
                       "envie con --accept-new-identity.");
            break;
        }
        case Outcome::LaneUnanswered:
            text = QStringLiteral(
                       "%1 no responde por la via rapida: no se envia sin cifrar a un "
                       "equipo conocido. Para enviar por el puerto %2 sin cifrar, use "
                       "--classic.")
                       .arg(m_options.address)
                       .arg(m_session.classicPort());
            break;
        default:
            break;
    }
    end(text, code, kind);
}

void SendCommand::end(const QString& text, int code, const QString& kind) {
    if (m_ended) {
        return;  // one outcome per send
    }
    m_ended = true;
    m_exitCode = code;
    m_printer.outcome(text, code, kind);
    emit finished(code);
}
