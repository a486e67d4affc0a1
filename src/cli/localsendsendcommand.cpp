#include "cli/localsendsendcommand.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>

#include "cli/exitcode.h"
#include "common/outcometext.h"
#include "discovery/serviceannouncer.h"
#include "engine/laneidentity.h"
#include "engine/transferprogress.h"
#include "identity/fingerprint.h"
#include "lane/entries/entrycollector.h"
#include "localsend/deviceinfo.h"

namespace {

QString skipReason(const entries::Skipped& skipped) {
    switch (skipped.reason) {
        case entries::SkipReason::Link:
            return QStringLiteral("es un enlace");
        case entries::SkipReason::Special:
            return QStringLiteral("no es un archivo ni una carpeta");
        case entries::SkipReason::Missing:
            return QStringLiteral("no existe");
        case entries::SkipReason::Unreadable:
            return QStringLiteral("no se puede leer");
        case entries::SkipReason::Refused:
            break;
    }
    return QStringLiteral("su nombre no se puede enviar");
}

}  // namespace

LocalSendSendCommand::LocalSendSendCommand(const CliOptions& options, EventPrinter& printer,
                                           QObject* parent)
    : QObject(parent), m_options(options), m_printer(printer), m_clock(this) {}

LocalSendSendCommand::~LocalSendSendCommand() = default;

void LocalSendSendCommand::start() {
    const QUrl url(m_options.address, QUrl::StrictMode);
    const int port = url.port(localsend::kDefaultPort);
    if (!url.isValid() || url.host().isEmpty() || port <= 0 ||
        (!url.path().isEmpty() && url.path() != QLatin1String("/"))) {
        end(outcomeText(Outcome::BadAddress, Side::Sending), kExitError,
            QStringLiteral("bad-address"));
        return;
    }
    m_where = QStringLiteral("%1:%2").arg(url.host()).arg(port);

    // Every file, and every file inside a folder, by its path from the folder given.
    const entries::Collection collected = entries::collectEntries(m_options.paths);
    for (const entries::Skipped& skipped : collected.skipped) {
        m_printer.info(QStringLiteral("Se omite %1: %2").arg(skipped.path, skipReason(skipped)));
    }
    std::vector<localsend::Sender::File> files;
    qint64 total = 0;
    for (std::size_t i = 0; i < collected.manifest.entries.size(); ++i) {
        const entries::Entry& entry = collected.manifest.entries[i];
        if (entry.kind != entries::EntryKind::File) {
            continue;  // LocalSend carries files; a folder arrives with what it holds
        }
        files.push_back(
            {collected.sources.at(qsizetype(i)), QString::fromUtf8(entry.path), entry.size});
        total += entry.size;
    }
    if (files.empty()) {
        end(QStringLiteral("Nada que enviar: ningun archivo."), kExitError,
            QStringLiteral("cannot-open"));
        return;
    }

    QString error;
    const auto identity = LaneIdentity::load(Identity::defaultFolder(), &error);
    localsend::DeviceInfo self;
    self.alias = ServiceAnnouncer::defaultName();
    self.deviceModel = QStringLiteral("Ruvo");
    self.deviceType = QStringLiteral("headless");
    self.port = m_options.localSendPort;
    if (identity) {
        self.fingerprint = identity->identity().fingerprint();
    } else {
        m_printer.info(QStringLiteral("Sin identidad: %1").arg(error));
        self.fingerprint = QStringLiteral("ruvo-%1").arg(QCoreApplication::applicationPid());
    }
    m_sender =
        std::make_unique<localsend::Sender>(self, identity ? &identity->identity() : nullptr);
    connect(m_sender.get(), &localsend::Sender::reached, this, [this] {
        m_printer.info(m_sender->secure()
                           ? QStringLiteral("Conectado por HTTPS (huella %1).")
                                 .arg(fingerprint::shortForm(m_sender->receiverFingerprint()))
                           : QStringLiteral("Conectado por HTTP (sin cifrar)."));
        m_printer.info(
            QStringLiteral("Esperando respuesta de %1...")
                .arg(m_sender->receiverAlias().isEmpty() ? m_where : m_sender->receiverAlias()));
    });
    connect(m_sender.get(), &localsend::Sender::accepted, this, [this] { m_clock.run(); });
    connect(m_sender.get(), &localsend::Sender::progress, this, [this](qint64 done, qint64 all) {
        m_printer.progress(makeProgress(Transfer::Carrier::LocalSend, done, all, 0, m_clock));
    });
    connect(m_sender.get(), &localsend::Sender::ended, this, &LocalSendSendCommand::ended);
    m_printer.start(
        files.size() == 1 ? files.front().source : QStringLiteral("%1 archivos").arg(files.size()),
        total, m_options.address);
    m_sender->start(url.host(), quint16(port), std::move(files), m_options.localSendPin);
}

void LocalSendSendCommand::cancel() {
    if (m_ended) {
        emit finished(m_exitCode);  // a signal always ends the program
        return;
    }
    if (m_sender) {
        m_sender->cancel();  // ends through ended()
        return;
    }
    end(outcomeText(Outcome::Cancelled, Side::Sending), kExitCancelled,
        QStringLiteral("cancelled"));
}

void LocalSendSendCommand::ended(localsend::Sender::End end, const QString& detail) {
    m_clock.hold();
    using End = localsend::Sender::End;
    switch (end) {
        case End::Sent:
            this->end(outcomeText(Outcome::Sent, Side::Sending), kExitDone, QStringLiteral("sent"));
            return;
        case End::NothingToSend:
            this->end(QStringLiteral("Nada que enviar: el receptor ya tiene los archivos."),
                      kExitDone, QStringLiteral("nothing-to-send"));
            return;
        case End::PinRequired:
            this->end(QStringLiteral("El receptor pide un PIN: indiquelo con --localsend-pin."),
                      kExitError, QStringLiteral("pin-required"));
            return;
        case End::WrongPin:
            this->end(QStringLiteral("PIN incorrecto."), kExitError, QStringLiteral("wrong-pin"));
            return;
        case End::Declined:
            this->end(outcomeText(Outcome::Declined, Side::Sending), kExitRefused,
                      QStringLiteral("declined"));
            return;
        case End::Busy:
            this->end(outcomeText(Outcome::Busy, Side::Sending), kExitRefused,
                      QStringLiteral("busy"));
            return;
        case End::TooManyTries:
            this->end(QStringLiteral("Demasiados intentos: el receptor no acepta mas por ahora."),
                      kExitError, QStringLiteral("too-many-tries"));
            return;
        case End::Refused:
            this->end(QStringLiteral("El receptor respondio con el codigo %1.").arg(detail),
                      kExitError, QStringLiteral("refused"));
            return;
        case End::FingerprintChanged:
            this->end(QStringLiteral("El receptor no presenta el certificado esperado: no se "
                                     "envia nada."),
                      kExitError, QStringLiteral("fingerprint"));
            return;
        case End::ConnectionError:
            this->end(QStringLiteral("%1 No se pudo conectar con %2.")
                          .arg(outcomeText(Outcome::ConnectionError, Side::Sending), m_where),
                      kExitError, QStringLiteral("connection"));
            return;
        case End::CannotRead:
            this->end(QStringLiteral("%1: %2").arg(outcomeText(Outcome::CannotRead, Side::Sending),
                                                   detail),
                      kExitError, QStringLiteral("cannot-read"));
            return;
        case End::Cancelled:
            break;
    }
    this->end(outcomeText(Outcome::Cancelled, Side::Sending), kExitCancelled,
              QStringLiteral("cancelled"));
}

void LocalSendSendCommand::end(const QString& text, int code, const QString& kind) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_exitCode = code;
    m_printer.outcome(text, code, kind);
    emit finished(code);
}
