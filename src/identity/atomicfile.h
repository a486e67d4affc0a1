#pragma once

#include <QByteArrayView>
#include <QString>

// Replaces the file at `path` with `bytes` so that a reader (or the next start after a
// crash) finds either the old content or the new one, never a mix: the bytes go to a new
// file beside it, created with `mode` from the start (a key is never readable by others,
// not even for a moment), flushed to disk, then renamed over the old one. False with a
// reason in `error` on failure; the old file is then untouched.
bool writeFileAtomically(const QString& path, QByteArrayView bytes, unsigned mode, QString* error);

// The same, but only when no file exists at `path` yet: two processes making the same file
// at the same moment cannot overwrite each other's. False with `*exists` set when one does.
bool createFileAtomically(const QString& path, QByteArrayView bytes, unsigned mode, QString* error,
                          bool* exists);
