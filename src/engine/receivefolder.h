#pragma once

#include <QString>

// The user's desktop folder, or the home folder where there is none: where files are
// received until the user chooses another folder.
QString desktopFolder();
// The folder with a final "/", as receive folders are kept.
QString withFinalSlash(const QString& folder);
