#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>
#include <vector>

// The list of entries of an offer of several files and folders: what the receiver checks
// in full before it writes anything, and what both ends count the progress against.
namespace entries {

// Bounds a receiver holds a peer to. A path of kMaxDepth components of 255 bytes would be
// longer than kMaxPathBytes: both bounds hold.
constexpr qsizetype kMaxEntries = 100000;
constexpr int kMaxDepth = 64;
constexpr qsizetype kMaxPathBytes = 4096;
// Every entry at its largest is far more than this; a list this long is refused whole.
constexpr qsizetype kMaxManifestBytes = 16 * 1024 * 1024;
// Per entry before its path: kind u8, size u64, modification time u64, path length u16.
constexpr qsizetype kEntryHeaderSize = 1 + 8 + 8 + 2;

enum class EntryKind : quint8 { File = 0, Folder = 1 };

struct Entry {
    EntryKind kind = EntryKind::File;
    // Relative, UTF-8, components joined by "/", as on the wire (not normalised).
    QByteArray path;
    qint64 size = 0;  // 0 for a folder
    // Nanoseconds since 1970-01-01 UTC; a time before that travels as 0.
    qint64 modifiedNs = 0;

    friend bool operator==(const Entry&, const Entry&) = default;
};

struct Manifest {
    std::vector<Entry> entries;

    // The sum of the files' sizes; a valid manifest keeps it within qint64.
    qint64 total() const;
    qsizetype fileCount() const;
};

// Why a manifest was refused.
enum class ManifestError {
    None,
    TooLong,          // more bytes than kMaxManifestBytes
    Truncated,        // ends inside the count or an entry
    TrailingBytes,    // bytes after the last entry
    NoEntries,        //
    TooManyEntries,   // more than kMaxEntries
    BadKind,          // a kind that does not exist, or a folder with a size
    BadTime,          // a time past qint64
    BadPath,          // absolute, "..", an empty or dot-leading component, not a safe name
    TooDeep,          // more than kMaxDepth components
    TooLarge,         // a size, or the sum of the sizes, past qint64
    Duplicate,        // the same path twice
    UnicodeTwin,      // two names that differ only in their Unicode form
    FileFolderClash,  // a file where a folder is, or the other way round
};

const char* manifestErrorName(ManifestError error);

struct ManifestProblem {
    ManifestError error = ManifestError::None;
    // The entry the error is about, -1 when it is about the whole list.
    qsizetype entry = -1;
};

struct ParsedManifest {
    std::optional<Manifest> manifest;  // only when there is no problem
    ManifestProblem problem;
};

// The payload: entry count u32, then each entry (kind, size, time, path length, path), all
// big-endian. A valid manifest has one encoding, so parseManifest(encodeManifest(m)) gives m
// back and a payload that parses encodes to the same bytes.
QByteArray encodeManifest(const Manifest& manifest);
// Decodes and checks every rule; a pure function.
ParsedManifest parseManifest(QByteArrayView payload);
// The same rules for a manifest built here, before it is offered.
ManifestProblem checkManifest(const Manifest& manifest);

}  // namespace entries
