#pragma once

#include <QString>

#include <optional>

// The window's two blinks, tick by tick.

// One tick of the blinking "Pausa": advances `tag` (0 to 4) and returns the text for
// status panel 1, or nullopt when panel 1 stays as it is.
std::optional<QString> pauseBlinkStep(int& tag);

// One tick of the blinking "Recibir" tab, for when that page is not in front (the window
// handles the page in front itself): advances `tag` and says what to do.
enum class Highlight { On, Off, Unchanged };
struct TabBlinkStep {
    Highlight highlight = Highlight::Unchanged;
    bool stopTimer = false;
};
TabBlinkStep tabBlinkStep(int& tag);
