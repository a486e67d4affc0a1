#pragma once

#include <QString>

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "engine/outcome.h"
#include "engine/outgoingentries.h"
#include "lane/entries/entriessource.h"

// The sending session's state for an offer of several entries or a text: what the plan
// said of each file, what is owed and what came back.
struct LaneSendingEntries {
    explicit LaneSendingEntries(std::shared_ptr<const OutgoingEntries> offered)
        : out(std::move(offered)) {}

    QString pathOf(quint32 index) const {
        return QString::fromUtf8(out->manifest.entries[index].path);
    }
    qint64 sizeOf(quint32 index) const { return out->manifest.entries[index].size; }

    std::shared_ptr<const OutgoingEntries> out;
    bool planned = false;
    std::map<quint32, qint64> prove;  // file -> the length the receiver holds
    std::set<quint32> refused;
    qsizetype proofsOwed = 0;
    bool startAwaited = false;
    std::unique_ptr<EntriesSource> source;
    qsizetype filesToSend = 0;
    qsizetype filesSent = 0;  // done or skipped
    std::set<quint32> awaitingResult;
    bool endSent = false;
    bool failed = false;  // some file did not arrive
    qint64 done = 0;      // bytes of the total the receiver has or was sent
    quint32 current = 0;
};
