#include "cli/eventprinter.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

#include "identity/fingerprint.h"

#include <algorithm>

namespace {

constexpr qint64 kRedrawMs = 100;  // ten times a second at most
constexpr int kBarWidth = 24;

}  // namespace

QString humanBytes(double bytes) {
    if (bytes < 1000) {
        return QStringLiteral("%1 B").arg(static_cast<qint64>(bytes));
    }
    if (bytes < 1000 * 1000) {
        return QStringLiteral("%1 KB").arg(bytes / 1000, 0, 'f', 1);
    }
    if (bytes < 1000.0 * 1000 * 1000) {
        return QStringLiteral("%1 MB").arg(bytes / 1e6, 0, 'f', 1);
    }
    return QStringLiteral("%1 GB").arg(bytes / 1e9, 0, 'f', 2);
}

QString clockText(qint64 seconds) {
    const qint64 h = seconds / 3600;
    const qint64 m = seconds / 60 % 60;
    const qint64 s = seconds % 60;
    const QString ms =
        QStringLiteral("%1:%2").arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return h > 0 ? QStringLiteral("%1:%2").arg(h).arg(ms) : ms;
}

EventPrinter::EventPrinter(Style style, FILE* out) : m_style(style), m_out(out) {}

EventPrinter::Style EventPrinter::styleFor(bool json, FILE* out) {
    if (json) {
        return Style::Json;
    }
    return ::isatty(::fileno(out)) ? Style::Terminal : Style::Lines;
}

void EventPrinter::print(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void EventPrinter::json(const QByteArray& object) {
    std::fwrite(object.constData(), 1, static_cast<size_t>(object.size()), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void EventPrinter::endBar() {
    if (m_barShown) {
        std::fputc('\n', m_out);
        m_barShown = false;
    }
}

void EventPrinter::start(const QString& path, qint64 size, const QString& address) {
    if (m_style == Style::Json) {
        json(QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("start")},
                                       {QStringLiteral("name"), QFileInfo(path).fileName()},
                                       {QStringLiteral("path"), path},
                                       {QStringLiteral("size"), size},
                                       {QStringLiteral("address"), address}})
                 .toJson(QJsonDocument::Compact));
        return;
    }
    print(QStringLiteral("Enviando %1 (%2 bytes, %3) a %4")
              .arg(QFileInfo(path).fileName())
              .arg(size)
              .arg(humanBytes(static_cast<double>(size)), address));
}

QString senderText(const TransferOffer& offer) {
    const QString name = offer.senderName.isEmpty() ? offer.address : offer.senderName;
    return offer.senderTrusted ? QStringLiteral("%1 (de confianza)").arg(name)
                               : QStringLiteral("%1 (sin verificar) %2")
                                     .arg(name, fingerprint::shortForm(offer.senderFingerprint));
}

namespace {

QString verdictName(FileVerdict verdict) {
    switch (verdict) {
        case FileVerdict::Arrived:
            return QStringLiteral("arrived");
        case FileVerdict::AlreadyThere:
            return QStringLiteral("already-there");
        case FileVerdict::Mismatch:
            return QStringLiteral("mismatch");
        case FileVerdict::WriteFailed:
            return QStringLiteral("write-failed");
        case FileVerdict::NotCreated:
            return QStringLiteral("not-created");
        case FileVerdict::Interrupted:
            return QStringLiteral("interrupted");
        case FileVerdict::Unreadable:
            break;
    }
    return QStringLiteral("unreadable");
}

QString verdictText(FileVerdict verdict) {
    switch (verdict) {
        case FileVerdict::Arrived:
        case FileVerdict::AlreadyThere:
            break;
        case FileVerdict::Mismatch:
            return QStringLiteral("no llego: el archivo no coincide");
        case FileVerdict::WriteFailed:
            return QStringLiteral("no llego: no se puede escribir el archivo");
        case FileVerdict::NotCreated:
            return QStringLiteral(
                "no llego: su nombre lo ocupa un enlace, una carpeta u otra cosa");
        case FileVerdict::Interrupted:
            return QStringLiteral("no llego: el envio se corto");
        case FileVerdict::Unreadable:
            break;
    }
    return QStringLiteral("no llego: no se puede leer el archivo");
}

}  // namespace

void EventPrinter::startMany(const QString& what, qint64 size, const QString& address) {
    if (m_style == Style::Json) {
        json(QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("start")},
                                       {QStringLiteral("name"), what},
                                       {QStringLiteral("size"), size},
                                       {QStringLiteral("address"), address}})
                 .toJson(QJsonDocument::Compact));
        return;
    }
    print(QStringLiteral("Enviando %1 (%2 bytes, %3) a %4")
              .arg(what)
              .arg(size)
              .arg(humanBytes(static_cast<double>(size)), address));
}

void EventPrinter::fileStarted(const QString& path, qint64 size) {
    if (m_style == Style::Json) {
        json(QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("file-start")},
                                       {QStringLiteral("path"), path},
                                       {QStringLiteral("size"), size}})
                 .toJson(QJsonDocument::Compact));
    }
    // On a terminal or in a log the bar and each file's end say enough.
}

void EventPrinter::fileEnded(const QString& path, FileVerdict verdict) {
    if (m_style == Style::Json) {
        json(QJsonDocument(
                 QJsonObject{{QStringLiteral("event"), QStringLiteral("file-end")},
                             {QStringLiteral("path"), path},
                             {QStringLiteral("result"), verdictName(verdict)},
                             {QStringLiteral("ok"), verdict == FileVerdict::Arrived ||
                                                        verdict == FileVerdict::AlreadyThere}})
                 .toJson(QJsonDocument::Compact));
        return;
    }
    if (verdict == FileVerdict::Arrived || verdict == FileVerdict::AlreadyThere) {
        return;  // for people, the files that did not arrive; the outcome says the rest
    }
    endBar();
    print(QStringLiteral("%1: %2").arg(path, verdictText(verdict)));
}

void EventPrinter::text(const QString& text) {
    if (m_style == Style::Json) {
        json(QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("text")},
                                       {QStringLiteral("text"), text}})
                 .toJson(QJsonDocument::Compact));
        return;
    }
    endBar();
    print(QStringLiteral("Texto recibido:"));
    print(text);
}

void EventPrinter::offer(const TransferOffer& offer) {
    const QString kind = offer.kind == TransferOffer::Kind::Text      ? QStringLiteral("text")
                         : offer.kind == TransferOffer::Kind::Entries ? QStringLiteral("entries")
                                                                      : QStringLiteral("file");
    if (m_style == Style::Json) {
        QJsonObject event{{QStringLiteral("event"), QStringLiteral("offer")},
                          {QStringLiteral("kind"), kind},
                          {QStringLiteral("name"), offer.name},
                          {QStringLiteral("size"), offer.size},
                          {QStringLiteral("address"), offer.address},
                          {QStringLiteral("senderName"), offer.senderName},
                          {QStringLiteral("fingerprint"), offer.senderFingerprint},
                          {QStringLiteral("sender"), offer.senderFingerprint},
                          {QStringLiteral("trusted"), offer.senderTrusted}};
        if (offer.kind == TransferOffer::Kind::Entries) {
            event.insert(QStringLiteral("files"), offer.fileCount);
            event.insert(QStringLiteral("folders"), offer.folderCount);
        }
        if (offer.viaLocalSend) {
            event.insert(QStringLiteral("localsend"), true);
            event.insert(QStringLiteral("count"), offer.fileCount);
            event.insert(QStringLiteral("alias"), offer.senderName);
            event.insert(QStringLiteral("model"), offer.senderModel);
        }
        json(QJsonDocument(event).toJson(QJsonDocument::Compact));
        return;
    }
    endBar();
    // A LocalSend sender says who it is; its address follows in brackets.
    const QString from =
        !offer.viaLocalSend
            ? offer.address
            : QStringLiteral("%1 (%2%3, LocalSend)")
                  .arg(offer.senderName,
                       offer.senderModel.isEmpty() ? QString()
                                                   : offer.senderModel + QStringLiteral(", "),
                       offer.address);
    if (offer.kind == TransferOffer::Kind::Text) {
        print(QStringLiteral("Oferta de %1: un texto (%2 caracteres)")
                  .arg(from)
                  .arg(offer.text.size()));
    } else if (offer.kind == TransferOffer::Kind::Entries) {
        print(QStringLiteral("Oferta de %1: %2 (%3 archivos, %4 carpetas; %5 bytes, %6)")
                  .arg(from, offer.name)
                  .arg(offer.fileCount)
                  .arg(offer.folderCount)
                  .arg(offer.size)
                  .arg(humanBytes(static_cast<double>(offer.size))));
    } else {
        print(QStringLiteral("Oferta de %1: %2 (%3 bytes, %4)")
                  .arg(from, offer.name)
                  .arg(offer.size)
                  .arg(humanBytes(static_cast<double>(offer.size))));
    }
    if (!offer.senderFingerprint.isEmpty()) {
        print(QStringLiteral("Remitente: %1").arg(senderText(offer)));
    }
}

void EventPrinter::pairing(const QString& code, const QString& peerName,
                           const QString& peerFingerprint) {
    if (m_style == Style::Json) {
        json(QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("pairing")},
                                       {QStringLiteral("code"), code},
                                       {QStringLiteral("name"), peerName},
                                       {QStringLiteral("fingerprint"), peerFingerprint}})
                 .toJson(QJsonDocument::Compact));
        return;
    }
    endBar();
    print(QStringLiteral("Emparejamiento con %1 (%2)")
              .arg(peerName.isEmpty() ? QStringLiteral("un equipo sin nombre") : peerName,
                   fingerprint::shortForm(peerFingerprint)));
}

void EventPrinter::progress(const TransferProgress& p) {
    const bool last = p.bytesDone >= p.total;
    if (m_sinceDraw.isValid() && m_sinceDraw.elapsed() < kRedrawMs && !last) {
        return;
    }
    const int percent = p.total > 0 ? static_cast<int>(p.bytesDone * 100 / p.total) : 100;
    if (m_style == Style::Lines && percent / 10 == m_lastPercentLine) {
        return;  // a line per tenth of the way, so that a log stays short (and 100% once)
    }
    m_sinceDraw.start();
    const double rate = static_cast<double>(p.bytesPerSecond);
    const QString left = p.secondsLeft >= 0 ? clockText(p.secondsLeft) : QStringLiteral("--:--");
    switch (m_style) {
        case Style::Json: {
            QJsonObject event{{QStringLiteral("event"), QStringLiteral("progress")},
                              {QStringLiteral("bytes"), p.bytesDone},
                              {QStringLiteral("total"), p.total},
                              {QStringLiteral("percent"), percent},
                              {QStringLiteral("rate"), p.bytesPerSecond},
                              {QStringLiteral("elapsed"), p.movingMs / 1000}};
            if (p.secondsLeft >= 0) {
                event.insert(QStringLiteral("left"), p.secondsLeft);
            }
            json(QJsonDocument(event).toJson(QJsonDocument::Compact));
            return;
        }
        case Style::Lines:
            m_lastPercentLine = percent / 10;
            print(QStringLiteral("%1% %2 de %3, %4/s")
                      .arg(percent)
                      .arg(humanBytes(static_cast<double>(p.bytesDone)),
                           humanBytes(static_cast<double>(p.total)), humanBytes(rate)));
            return;
        case Style::Terminal: {
            const int filled = percent * kBarWidth / 100;
            const QString bar =
                QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('.'));
            const QString line = QStringLiteral("\r[%1] %2% %3 de %4  %5/s  %6  quedan %7  ")
                                     .arg(bar)
                                     .arg(percent, 3)
                                     .arg(humanBytes(static_cast<double>(p.bytesDone)),
                                          humanBytes(static_cast<double>(p.total)),
                                          humanBytes(rate), clockText(p.movingMs / 1000), left);
            std::fputs(line.toLocal8Bit().constData(), m_out);
            std::fflush(m_out);
            m_barShown = true;
            return;
        }
    }
}

void EventPrinter::info(const QString& text) {
    if (m_style == Style::Json) {
        json(QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("info")},
                                       {QStringLiteral("text"), text}})
                 .toJson(QJsonDocument::Compact));
        return;
    }
    endBar();
    print(text);
}

void EventPrinter::outcome(const QString& text, int exitCode, const QString& kind,
                           const QString& path) {
    m_sinceDraw.invalidate();
    m_lastPercentLine = -1;
    if (m_style == Style::Json) {
        QJsonObject event{{QStringLiteral("event"), QStringLiteral("outcome")},
                          {QStringLiteral("text"), text},
                          {QStringLiteral("kind"), kind},
                          {QStringLiteral("code"), exitCode}};
        if (!path.isEmpty()) {
            event.insert(QStringLiteral("path"), path);
        }
        json(QJsonDocument(event).toJson(QJsonDocument::Compact));
        return;
    }
    endBar();
    print(path.isEmpty() ? text : QStringLiteral("%1 Guardado en %2").arg(text, path));
}
