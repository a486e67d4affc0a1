#pragma once

#include "lane/entries/manifest.h"
#include "lane/entries/manifestchecker.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace entries {

// Why something was left out of the entries collected.
enum class SkipReason {
    Link,        // a symbolic link inside a folder: never followed
    Special,     // neither a file nor a folder (a FIFO, a socket, a device)
    Missing,     // a path given that does not exist
    Unreadable,  // its details or its folder's listing could not be read
    Refused,     // its name or place breaks a rule of the list (see `error`)
};

struct Skipped {
    QString path;  // as given for a path given that is missing, else absolute
    SkipReason reason = SkipReason::Link;
    ManifestError error = ManifestError::None;  // for Refused
    int systemError = 0;                        // errno, for Missing and Unreadable
    bool given = false;                         // one of the paths given, not inside one
};

struct Collection {
    Manifest manifest;
    // Where each entry of the manifest is on this computer, index for index.
    QStringList sources;
    std::vector<Skipped> skipped;
};

// Collects the entries of the files and folders at `paths`, in the order given, each folder
// followed by its content sorted by name. An entry's path is relative to the parent of the
// path it came from, and every folder is listed, so empty folders travel too. A link given
// as a path is followed, as the user named it; a link inside a folder is skipped and
// reported, never followed. Whatever the receiver would refuse (a hidden or unsafe name,
// names that differ only in their Unicode form, too deep a folder, too many entries) is
// skipped and reported too, so the manifest collected always passes checkManifest() unless
// it is empty.
Collection collectEntries(const QStringList& paths);

}  // namespace entries
