#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The file chosen to send: its path, the name offered for it and its size, taken together
// when it is chosen so that they never disagree.
struct OutgoingFile {
    QString path;
    QString name;
    qint64 size = 0;

    // The file at `path` when it can be opened and measured; nullopt otherwise.
    static std::optional<OutgoingFile> open(const QString& path);
};
