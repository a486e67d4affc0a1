#include "common/outcometext.h"

#include <gtest/gtest.h>

namespace {

// The window's own words, which both views print: a change here is a change users see.
TEST(OutcomeText, TheWindowsWordsForEachEnd) {
    struct Case {
        Outcome outcome;
        Side side;
        const char* text;
    };
    const Case cases[] = {
        {Outcome::Sent, Side::Sending, "Enviado!"},
        {Outcome::Received, Side::Receiving, "Recibido!"},
        {Outcome::Busy, Side::Sending, "Destino Ocupado."},
        {Outcome::ConnectionError, Side::Receiving, "Error en la conexion."},
        {Outcome::Cancelled, Side::Receiving, "Cancelado."},
        {Outcome::BadAddress, Side::Sending, "Direccion Erronea."},
        {Outcome::CannotOpen, Side::Sending, "No se puede abrir el archivo"},
        {Outcome::CannotWrite, Side::Receiving, "No se puede escribir el archivo"},
        {Outcome::PartialDiffers, Side::Receiving, "El archivo parcial es otro"},
        {Outcome::Corrupted, Side::Sending, "El archivo no coincide"},
        {Outcome::Declined, Side::Sending, "Oferta rechazada."},
        {Outcome::CancelledByPeer, Side::Sending, "Cancelado por el receptor."},
        {Outcome::CancelledByPeer, Side::Receiving, "Cancelado por el emisor."},
        {Outcome::PeerLeft, Side::Receiving, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outcomeText(c.outcome, c.side), QString::fromUtf8(c.text)) << c.text;
    }
}

}  // namespace
