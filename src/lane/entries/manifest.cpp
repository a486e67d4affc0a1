#include "lane/entries/manifest.h"

#include "lane/entries/manifestchecker.h"

#include <QtEndian>

#include <limits>

namespace entries {

namespace {

template <typename T>
void appendBig(QByteArray& out, T value) {
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

template <typename T>
T readBig(const char* at) {
    return qFromBigEndian<T>(at);
}

}  // namespace

qint64 Manifest::total() const {
    qint64 sum = 0;
    for (const Entry& entry : entries) {
        sum += entry.size;
    }
    return sum;
}

qsizetype Manifest::fileCount() const {
    qsizetype count = 0;
    for (const Entry& entry : entries) {
        count += entry.kind == EntryKind::File ? 1 : 0;
    }
    return count;
}

const char* manifestErrorName(ManifestError error) {
    switch (error) {
        case ManifestError::None:
            return "None";
        case ManifestError::TooLong:
            return "TooLong";
        case ManifestError::Truncated:
            return "Truncated";
        case ManifestError::TrailingBytes:
            return "TrailingBytes";
        case ManifestError::NoEntries:
            return "NoEntries";
        case ManifestError::TooManyEntries:
            return "TooManyEntries";
        case ManifestError::BadKind:
            return "BadKind";
        case ManifestError::BadTime:
            return "BadTime";
        case ManifestError::BadPath:
            return "BadPath";
        case ManifestError::TooDeep:
            return "TooDeep";
        case ManifestError::TooLarge:
            return "TooLarge";
        case ManifestError::Duplicate:
            return "Duplicate";
        case ManifestError::UnicodeTwin:
            return "UnicodeTwin";
        case ManifestError::FileFolderClash:
            return "FileFolderClash";
    }
    return "?";
}

QByteArray encodeManifest(const Manifest& manifest) {
    QByteArray out;
    qsizetype size = 4;
    for (const Entry& entry : manifest.entries) {
        size += kEntryHeaderSize + entry.path.size();
    }
    out.reserve(size);
    appendBig(out, quint32(manifest.entries.size()));
    for (const Entry& entry : manifest.entries) {
        appendBig(out, quint8(entry.kind));
        appendBig(out, quint64(entry.size));
        appendBig(out, quint64(entry.modifiedNs));
        appendBig(out, quint16(entry.path.size()));
        out.append(entry.path);
    }
    return out;
}

ParsedManifest parseManifest(QByteArrayView payload) {
    const auto refuse = [](ManifestError error, qsizetype entry = -1) {
        return ParsedManifest{std::nullopt, {error, entry}};
    };
    if (payload.size() > kMaxManifestBytes) {
        return refuse(ManifestError::TooLong);
    }
    if (payload.size() < 4) {
        return refuse(ManifestError::Truncated);
    }
    const quint32 count = readBig<quint32>(payload.data());
    if (count == 0) {
        return refuse(ManifestError::NoEntries);
    }
    if (count > quint32(kMaxEntries)) {
        return refuse(ManifestError::TooManyEntries);
    }
    // Every entry takes at least its header: a count that cannot fit
    // is refused before anything is reserved for it.
    if (qsizetype(count) * kEntryHeaderSize > payload.size() - 4) {
        return refuse(ManifestError::Truncated);
    }

    Manifest manifest;
    manifest.entries.reserve(count);
    ManifestChecker checker;
    qsizetype at = 4;
    for (qsizetype i = 0; i < qsizetype(count); ++i) {
        if (payload.size() - at < kEntryHeaderSize) {
            return refuse(ManifestError::Truncated, i);
        }
        const char* header = payload.data() + at;
        const quint8 kind = readBig<quint8>(header);
        const quint64 size = readBig<quint64>(header + 1);
        const quint64 modified = readBig<quint64>(header + 9);
        const quint16 pathLength = readBig<quint16>(header + 17);
        at += kEntryHeaderSize;
        if (payload.size() - at < pathLength) {
            return refuse(ManifestError::Truncated, i);
        }
        if (kind > quint8(EntryKind::Folder)) {
            return refuse(ManifestError::BadKind, i);
        }
        constexpr auto kMost = quint64(std::numeric_limits<qint64>::max());
        if (modified > kMost) {
            return refuse(ManifestError::BadTime, i);
        }
        if (size > kMost) {
            return refuse(ManifestError::TooLarge, i);
        }
        Entry entry;
        entry.kind = EntryKind(kind);
        entry.size = qint64(size);
        entry.modifiedNs = qint64(modified);
        entry.path = payload.sliced(at, pathLength).toByteArray();
        at += pathLength;
        if (const ManifestError error = checker.add(entry); error != ManifestError::None) {
            return refuse(error, i);
        }
        manifest.entries.push_back(std::move(entry));
    }
    if (at != payload.size()) {
        return refuse(ManifestError::TrailingBytes);
    }
    return ParsedManifest{std::move(manifest), {}};
}

ManifestProblem checkManifest(const Manifest& manifest) {
    if (manifest.entries.empty()) {
        return {ManifestError::NoEntries, -1};
    }
    ManifestChecker checker;
    for (std::size_t i = 0; i < manifest.entries.size(); ++i) {
        if (const ManifestError error = checker.add(manifest.entries[i]);
            error != ManifestError::None) {
            return {error, qsizetype(i)};
        }
    }
    return {};
}

}  // namespace entries
