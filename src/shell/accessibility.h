#pragma once

// Makes the painted controls readable by assistive technology (through Qt's accessibility,
// which reaches screen readers over AT-SPI): the status bar is reported as a status bar with
// its two panels as text, and the percentage gauge as a progress bar with its value. Safe to
// call more than once.
void installAccessibility();
