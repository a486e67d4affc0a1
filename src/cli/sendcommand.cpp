#include "cli/sendcommand.h"

#include "cli/exitcode.h"
#include "common/outcometext.h"

SendCommand::SendCommand(const CliOptions& options, EventPrinter& printer, QObject* parent)
    : QObject(parent), m_options(options), m_printer(printer), m_session(options.port, nullptr) {
    m_session.setLaneEnabled(!options.classic);
    connect(&m_session, &SendingSession::connected, this,
            [this] { m_printer.info(QStringLiteral("Conectado.")); });
    connect(&m_session, &SendingSession::progress, this, [this](const TransferProgress& p) {
        if (!m_served) {
            m_served = true;
            m_printer.started(p.startOffset);
        }
        m_printer.progress(p);
    });
    connect(&m_session, &SendingSession::peerPaused, this,
            [this] { m_printer.info(QStringLiteral("Pausa (el receptor ha pausado)")); });
    connect(&m_session, &SendingSession::sendingEnded, this,
            [this](Outcome outcome, bool) { ended(outcome); });
}

bool SendCommand::start() {
    if (!m_session.chooseFile(m_options.file)) {
        m_printer.outcome(outcomeText(Outcome::CannotOpen, Side::Sending), kExitError);
        return false;
    }
    m_session.start(m_options.address);
    return true;
}

void SendCommand::cancel() {
    m_session.cancel();
}

void SendCommand::ended(Outcome outcome) {
    QString text = outcomeText(outcome, Side::Sending);
    int code = kExitError;
    switch (outcome) {
        case Outcome::Sent:
            code = kExitDone;
            break;
        case Outcome::Busy:
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
    emit finished(code);
}
