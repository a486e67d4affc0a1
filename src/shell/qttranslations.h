#pragma once

class QCoreApplication;

// Puts Qt's own texts (the buttons of the boxes, the file dialog, the edit fields' context
// menu) in Spanish, as the window's own texts are, whatever the user's locale. They come from
// Debian's Qt translations package; without it they stay in English. True when loaded.
bool installSpanishQtTranslations(QCoreApplication& app);
