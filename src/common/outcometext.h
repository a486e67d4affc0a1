#pragma once

#include <QString>

#include "engine/outcome.h"

// Which end of the transfer speaks: the words for the peer differ.
enum class Side { Sending, Receiving };

// The words both views use for how a transfer ended: the window's status texts ("Enviado!",
// ...), which the command line prints too. Empty for a peer that left without a word.
QString outcomeText(Outcome outcome, Side side);
