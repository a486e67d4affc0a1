#include "common/outcometext.h"

QString outcomeText(Outcome outcome, Side side) {
    switch (outcome) {
        case Outcome::Sent:
            return QStringLiteral("Enviado!");
        case Outcome::Received:
            return QStringLiteral("Recibido!");
        case Outcome::Declined:
            return QStringLiteral("Oferta rechazada.");
        case Outcome::Cancelled:
            return QStringLiteral("Cancelado.");
        case Outcome::CancelledByPeer:
            return side == Side::Sending ? QStringLiteral("Cancelado por el receptor.")
                                         : QStringLiteral("Cancelado por el emisor.");
        case Outcome::PeerLeft:
            return {};
        case Outcome::Busy:
            return QStringLiteral("Destino Ocupado.");
        case Outcome::ConnectionError:
            return QStringLiteral("Error en la conexion.");
        case Outcome::BadAddress:
            return QStringLiteral("Direccion Erronea.");
        case Outcome::CannotOpen:
            return QStringLiteral("No se puede abrir el archivo");
        case Outcome::CannotRead:
            return QStringLiteral("No se puede leer el archivo");
        case Outcome::CannotWrite:
            return QStringLiteral("No se puede escribir el archivo");
        case Outcome::BadName:
            return QStringLiteral("Nombre de archivo no valido");
        case Outcome::PartialDiffers:
            return QStringLiteral("El archivo parcial es otro");
        case Outcome::Corrupted:
            return QStringLiteral("El archivo no coincide");
        case Outcome::IdentityChanged:
            return QStringLiteral("Identidad cambiada.");
        case Outcome::LaneUnanswered:
            return QStringLiteral("Sin via rapida.");
        case Outcome::Incomplete:
            return QStringLiteral("Algunos archivos no llegaron");
        case Outcome::NeedsLane:
            return QStringLiteral(
                "El receptor solo acepta un archivo por envio: no recibe carpetas ni textos.");
    }
    return {};
}

QString identityChangedText(const QString& address, const QString& was, const QString& now) {
    return QStringLiteral("La identidad de %1 cambio: era %2, ahora es %3. No se ha enviado nada.")
        .arg(address, was, now);
}

QString laneUnansweredText(const QString& address, quint16 classicPort) {
    return QStringLiteral("%1 no responde por la via rapida. ¿Enviar sin cifrar por el puerto %2?")
        .arg(address)
        .arg(classicPort);
}

QString pairingText(PairingOutcome outcome, const QString& peerName) {
    switch (outcome) {
        case PairingOutcome::Paired:
            return QStringLiteral("Emparejado con %1.").arg(peerName);
        case PairingOutcome::Busy:
            return QStringLiteral("Emparejamiento cancelado: el otro equipo esta ocupado.");
        case PairingOutcome::NotOffered:
            return QStringLiteral(
                "Emparejamiento cancelado: el otro equipo no puede emparejarse ahora.");
        case PairingOutcome::NoLane:
            return QStringLiteral(
                "Emparejamiento cancelado: el otro equipo no responde por la "
                "via rapida.");
        case PairingOutcome::BadAddress:
            return QStringLiteral("Direccion Erronea.");
        case PairingOutcome::TimedOut:
            return QStringLiteral("Emparejamiento cancelado: nadie respondio a tiempo.");
        case PairingOutcome::TrustNotSaved:
            return QStringLiteral(
                "Emparejamiento cancelado: no se pudo guardar el equipo de confianza.");
        case PairingOutcome::Refused:
        case PairingOutcome::RefusedByPeer:
        case PairingOutcome::Broken:
            break;
    }
    return QStringLiteral("Emparejamiento cancelado.");
}
