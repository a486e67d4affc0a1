#pragma once

#include <QIcon>

// The pictures of the three page tabs (16x16) and of the program, drawn in code.
QIcon sendTabIcon();      // a blue arrow curving upwards
QIcon receiveTabIcon();   // a red arrow curving downwards
QIcon settingsTabIcon();  // a small grey tool
QIcon programIcon();      // both arrows, for the window and the desktop
