#include "cli/sendcommand.h"

#include "cli/exitcode.h"

SendCommand::SendCommand(const CliOptions& options, EventPrinter& printer, QObject* parent)
    : QObject(parent),
      m_options(options),
      m_printer(printer),
      m_elapsed(1000),
      m_session(options.port, &m_elapsed, nullptr) {
    m_session.setLaneEnabled(!options.classic);
    connect(&m_elapsed, &QTimer::timeout, this, [this] { ++m_elapsed.Tag; });
    connect(&m_session, &SendingSession::connected, this, [this] {
        m_connected = true;
        m_printer.info(QStringLiteral("Conectado."));
    });
    connect(&m_session, &SendingSession::progress, this, [this](const TransferProgress& p) {
        if (!m_served) {
            m_served = true;
            m_printer.started(std::max<qint64>(0, p.bytesDone - 2048));
        }
        m_printer.progress(p);
    });
    connect(&m_session, &SendingSession::peerPaused, this,
            [this] { m_printer.info(QStringLiteral("Pausa (el receptor ha pausado)")); });
    connect(&m_session, &SendingSession::sendingEnded, this,
            [this](Outcome outcome, bool) { ended(outcome); });
    connect(&m_session, &SendingSession::outcomeAmended, this,
            [this](Outcome outcome) { ended(outcome); });
}

bool SendCommand::start() {
    if (!m_session.chooseFile(m_options.file)) {
        m_printer.outcome(outcomeText(Outcome::CannotOpen), kExitError);
        return false;
    }
    m_session.start(m_options.address);
    return true;
}

void SendCommand::cancel() {
    m_session.cancel();
}

void SendCommand::ended(Outcome outcome) {
    int code = kExitError;
    QString text = outcomeText(outcome);
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
            // Nobody took the connection at all: refused, or nothing there.
            if (!m_connected) {
                text = QStringLiteral("Conexion rechazada.");
                code = kExitRefused;
            }
            break;
        case Outcome::None:
            // The receiver closed: before asking for anything it declined the offer.
            text = m_served ? QStringLiteral("Desconectado.") : QStringLiteral("Oferta rechazada.");
            code = m_served ? kExitError : kExitRefused;
            break;
        default:
            break;
    }
    m_printer.outcome(text, code);
    emit finished(code);
}
