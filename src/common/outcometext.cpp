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
        case Outcome::Incomplete:
            return QStringLiteral("Algunos archivos no llegaron");
        case Outcome::NeedsLane:
            return QStringLiteral(
                "El receptor solo acepta un archivo por envio: no recibe carpetas ni textos.");
    }
    return {};
}
