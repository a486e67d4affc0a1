#pragma once

#include <QJsonArray>
#include <QString>

#include <functional>

// Small lists kept as a JSON array in one file of the configuration folder (trusted
// computers, pinned identities). The window and ruvo-cli may change the same list at the same
// time, so a change is read-modify-write under a lock on the folder: one never undoes the
// other's change with a list it read earlier.
namespace jsonfile {

// The array in `path`; a missing file is an empty array. False with a reason when the file
// cannot be read or is not a JSON array.
bool readArray(const QString& path, QJsonArray* array, QString* error);

// Reads the array (as readArray), lets `change` modify it, and writes it back atomically
// when `change` returns true. `change` returning false (with its reason) writes nothing.
// A file that cannot be read is never overwritten. `result` receives the array as written
// (or as read when nothing was written).
bool update(const QString& path, const std::function<bool(QJsonArray&, QString*)>& change,
            QJsonArray* result, QString* error);

}  // namespace jsonfile
