#pragma once

#include <QByteArray>

#include <map>
#include <memory>
#include <optional>
#include <set>

#include "lane/entries/entriessink.h"
#include "lane/entries/manifest.h"

// The receiving session's state for an offer of several entries: the list, the plan it
// made, the proofs, the file being received and what is still owed.
struct LaneReceivingEntries {
    QByteArray list;  // the pieces of the list so far
    entries::Manifest manifest;
    std::unique_ptr<EntriesSink> sink;
    EntriesSink::Plan plan;
    std::map<quint32, qint64> prove;  // file -> the length held here
    std::map<quint32, QByteArray> ownHashes;
    std::map<quint32, QByteArray> proofs;
    std::set<quint32> restart;  // proved files whose proof did not match: from 0, beside
    std::set<quint32> skipped;  // refused or held whole: never sent
    std::optional<quint32> current;
    qint64 lastFile = -1;  // FILE indexes increase
    qint64 received = 0;   // of the current file
    qsizetype filesOwed = 0;
    qsizetype filesTaken = 0;  // done or skipped
    bool failed = false;
    qint64 done = 0;  // of the total: held already, proved, or received
};
