#pragma once

#include <QString>

#include "engine/outcome.h"
#include "engine/pairingoutcome.h"

// Which end of the transfer speaks: the words for the peer differ.
enum class Side { Sending, Receiving };

// The words both views use for how a transfer ended: the window's status texts ("Enviado!",
// ...), which the command line prints too. Empty for a peer that left without a word.
QString outcomeText(Outcome outcome, Side side);

// The whole story of an IdentityChanged send: who, and both identities (in their short form,
// fingerprint::shortForm).
QString identityChangedText(const QString& address, const QString& was, const QString& now);
// The question after a LaneUnanswered send.
QString laneUnansweredText(const QString& address, quint16 classicPort);

// How a pairing ended, for either end: "Emparejado con NAME." or "Emparejamiento cancelado."
// (with the reason when it is not a person's no).
QString pairingText(PairingOutcome outcome, const QString& peerName);
