#include "readends.h"

#include <algorithm>
#include <cstdint>

namespace {

// splitmix64: small, fast and good enough to spread read lengths.
std::uint64_t nextRandom(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t fnv1a(QByteArrayView bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    }
    return hash;
}

}  // namespace

std::vector<qsizetype> singleRead(qsizetype size) {
    return {size};
}

std::vector<qsizetype> oneByteReads(qsizetype size) {
    std::vector<qsizetype> ends;
    ends.reserve(static_cast<std::size_t>(size));
    for (qsizetype end = 1; end <= size; ++end) {
        ends.push_back(end);
    }
    return ends;
}

std::vector<qsizetype> hashedReads(QByteArrayView input) {
    std::uint64_t state = fnv1a(input);
    std::vector<qsizetype> ends;
    qsizetype end = 0;
    while (end < input.size()) {
        const std::uint64_t draw = nextRandom(state);
        // Lengths up to 4, up to 64 and up to 3000 (past a whole block message) in turn.
        static constexpr std::uint64_t kLongest[] = {4, 64, 3000};
        const std::uint64_t longest = kLongest[(draw >> 32) % 3];
        end = std::min(input.size(), end + 1 + static_cast<qsizetype>(draw % longest));
        ends.push_back(end);
    }
    if (ends.empty()) {
        ends.push_back(0);
    }
    return ends;
}

qint64 hashedNumber(QByteArrayView input, qint64 most) {
    std::uint64_t state = fnv1a(input) ^ 0x5DEECE66DULL;
    const std::uint64_t draw = nextRandom(state);
    const std::uint64_t scaled = draw >> (nextRandom(state) % 64);
    return static_cast<qint64>(scaled % (static_cast<std::uint64_t>(most) + 1));
}

bool isReadEnd(const std::vector<qsizetype>& readEnds, qsizetype position) {
    return std::binary_search(readEnds.begin(), readEnds.end(), position);
}
