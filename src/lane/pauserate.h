#pragma once

#include <QElapsedTimer>

// Tells pauses at a person's pace from a flood: more than kMost pauses within one second is
// no person at a button, and closes the peer.
class PauseRate {
public:
    static constexpr int kMost = 5;
    static constexpr qint64 kWindowMs = 1000;

    // Counts one pause; false when there were too many of late.
    bool allow();

private:
    QElapsedTimer m_window;
    int m_count = 0;
};
