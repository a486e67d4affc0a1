#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace localsend {

// Removes a file this receiver made and could not finish (a size that lied, a hash that did
// not match, a transfer cancelled), so that nothing half-written is left looking whole. It
// is reached from the receive folder `root` component by component without following a
// link, and removed only while it is still the file made (`device`, `inode`): whatever
// else has taken its name since stays. False when nothing was removed.
bool discardFile(const QString& root, const QByteArray& relativePath, dev_t device, ino_t inode);

}  // namespace localsend
