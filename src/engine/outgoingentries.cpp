#include "engine/outgoingentries.h"

OutgoingEntries OutgoingEntries::collect(const QStringList& paths) {
    entries::Collection collection = entries::collectEntries(paths);
    OutgoingEntries out;
    out.manifest = std::move(collection.manifest);
    out.sources = std::move(collection.sources);
    out.skipped = std::move(collection.skipped);
    return out;
}

OutgoingEntries OutgoingEntries::ofText(const QString& text) {
    OutgoingEntries out;
    out.isText = true;
    out.text = text;
    return out;
}

bool OutgoingEntries::hasFolder() const {
    for (const entries::Entry& entry : manifest.entries) {
        if (entry.kind == entries::EntryKind::Folder) {
            return true;
        }
    }
    return false;
}
