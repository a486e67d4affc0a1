#pragma once

#include <QIcon>

// The pictures of the three page tabs (16x16), of the program and of a sender's trust,
// drawn in code.
QIcon sendTabIcon();      // a blue arrow curving upwards
QIcon receiveTabIcon();   // a red arrow curving downwards
QIcon settingsTabIcon();  // a small grey tool
QIcon programIcon();      // both arrows, for the window and the desktop
QIcon trustedIcon();      // a green shield with a tick: a computer the user trusts
QIcon unverifiedIcon();   // a grey shield with a question mark: a sender nobody vouched for
// For a button that is on or off: the shield with a tick, grey while off, green while on.
QIcon trustedToggleIcon();
