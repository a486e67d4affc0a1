#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <vector>

#include "lane/lanewire.h"

// Cuts a stream of the fast lane (its greeting, then frames) the way a reader of one end
// does, in the reads `readEnds` gives, and checks what every reader must hold whatever the
// bytes: frames within their type's bounds, the reader's memory within one frame, nothing
// after a refusal. `frame` sees each frame; the result is the frames seen, in order, ended
// by a Bad marker when the reader refused.
struct LaneFrame {
    bool bad = false;
    lanewire::Type type{};
    QByteArray payload;
    bool operator==(const LaneFrame&) const = default;
};

std::vector<LaneFrame> readLaneStream(QByteArrayView stream, const std::vector<qsizetype>& readEnds,
                                      const std::function<void(const LaneFrame&)>& frame);

// The same stream read by FrameReader::readFrom from a device that holds what the reads
// `readEnds` gave so far, at most `budget` bytes per call.
std::vector<LaneFrame> readLaneDevice(QByteArrayView stream, const std::vector<qsizetype>& readEnds,
                                      qint64 budget);

// The three ways a target feeds its input (one read, a byte per read, mixed reads), with the
// frames of each checked by `frame` and the three runs checked against each other and against
// the same input read from a device.
void fuzzLaneStream(QByteArrayView input, const std::function<void(const LaneFrame&)>& frame);
