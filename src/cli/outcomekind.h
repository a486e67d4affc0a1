#pragma once

#include <QString>

#include "engine/outcome.h"

// The word scripts read in a JSON outcome ("kind"), beside the user's text: stable,
// English, one per way of ending. ruvo-cli adds its own for what happens before any
// transfer ("usage", "folder", "port-in-use", "no-terminal") and for "declined" and
// "disconnected".
QString outcomeKind(Outcome outcome);
