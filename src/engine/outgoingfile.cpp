#include "engine/outgoingfile.h"

#include <QFileInfo>

#include "transfer/fileaccess.h"

std::optional<OutgoingFile> OutgoingFile::open(const QString& path) {
    const std::optional<qint64> length = FileAccess().fileLength(path);
    if (!length) {
        return std::nullopt;
    }
    return OutgoingFile{path, QFileInfo(path).fileName(), *length};
}
