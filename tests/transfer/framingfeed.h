#pragma once

// Feeding an input framing the way a read handler does, for the tests of both framings.

#include <QByteArray>

#include <algorithm>
#include <string>
#include <vector>

// Feeds the reads one by one, taking every complete message after each, and stops at the
// first bad one; `describe` writes each message as text. Every second read goes straight
// into the input, as from a socket, into more room than it fills.
template <typename Input, typename Describe>
std::vector<std::string> feedReads(Input& input, const std::vector<QByteArray>& reads,
                                   Describe describe) {
    using Kind = typename Input::Kind;
    std::vector<std::string> messages;
    bool straight = false;
    for (const QByteArray& read : reads) {
        if (straight) {
            char* room = input.appendSpace(read.size() + 16);
            std::copy(read.begin(), read.end(), room);
            input.commitAppend(read.size());
        } else {
            input.append(read);
        }
        straight = !straight;
        for (;;) {
            const typename Input::Message message = input.next();
            if (message.kind == Kind::NeedMore) {
                break;
            }
            messages.push_back(describe(message));
            if (message.kind == Kind::Bad) {
                return messages;
            }
        }
    }
    return messages;
}

inline std::vector<QByteArray> oneByteReads(const QByteArray& bytes) {
    std::vector<QByteArray> reads;
    for (const char c : bytes) {
        reads.emplace_back(1, c);
    }
    return reads;
}
