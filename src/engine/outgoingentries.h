#pragma once

#include <QString>
#include <QStringList>

#include <vector>

#include "lane/entries/entrycollector.h"
#include "lane/entries/manifest.h"

// What is chosen to send when it is more than one file: the entries of several files and
// folders (collected when chosen, so that the list, its sources and its total never
// disagree), or a short text.
struct OutgoingEntries {
    entries::Manifest manifest;
    QStringList sources;                    // where each entry is here, index for index
    std::vector<entries::Skipped> skipped;  // what collecting left out, and why
    bool isText = false;
    QString text;

    static OutgoingEntries collect(const QStringList& paths);
    static OutgoingEntries ofText(const QString& text);

    qint64 total() const { return isText ? 0 : manifest.total(); }
    qsizetype fileCount() const { return manifest.fileCount(); }
    bool hasFolder() const;
};
