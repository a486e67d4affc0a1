// The list of entries on the wire: its exact bytes, and every rule a hostile list breaks.

#include "lane/entries/manifest.h"
#include "lane/entries/manifestchecker.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <limits>

namespace entries {

void PrintTo(ManifestError error, std::ostream* out) {
    *out << manifestErrorName(error);
}

namespace {

constexpr qint64 kMost = std::numeric_limits<qint64>::max();

Entry file(const char* path, qint64 size = 1, qint64 modifiedNs = 0) {
    return {EntryKind::File, QByteArray(path), size, modifiedNs};
}

Entry folder(const char* path) {
    return {EntryKind::Folder, QByteArray(path), 0, 0};
}

QByteArray nested(int depth) {
    QByteArray path = "d";
    for (int i = 1; i < depth; ++i) {
        path += "/d";
    }
    return path;
}

// A list of `count` files "f0", "f1", ... as encodeManifest writes it.
Manifest flatList(qsizetype count) {
    Manifest manifest;
    manifest.entries.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        manifest.entries.push_back({EntryKind::File, "f" + QByteArray::number(i), 0, 0});
    }
    return manifest;
}

TEST(Manifest, EncodesBigEndianAndParsesBack) {
    Manifest manifest;
    manifest.entries = {
        folder("Álbum"),
        file("Álbum/año 2024/foto\xcc\x81.jpg", 0x0102030405060708, 1700000000123456789),
        file("Álbum/vacío", 0), folder("Álbum/empty"), file("notas.txt", 5)};
    const QByteArray bytes = encodeManifest(manifest);

    const QByteArray first = QByteArray::fromHex("00000005") + QByteArray::fromHex("01") +
                             QByteArray(16, '\0') + QByteArray::fromHex("0006") + "Álbum";
    EXPECT_EQ(bytes.first(first.size()), first);
    const QByteArray second = QByteArray::fromHex(
        "00"
        "0102030405060708"
        "17979cfe3d85cd15");
    EXPECT_EQ(bytes.sliced(first.size(), second.size()), second);

    const ParsedManifest parsed = parseManifest(bytes);
    ASSERT_EQ(parsed.problem.error, ManifestError::None);
    ASSERT_TRUE(parsed.manifest);
    EXPECT_EQ(parsed.manifest->entries, manifest.entries);
    EXPECT_EQ(parsed.manifest->total(), 0x0102030405060708 + 5);
    EXPECT_EQ(parsed.manifest->fileCount(), 3);
    EXPECT_EQ(encodeManifest(*parsed.manifest), bytes);
}

struct HostileList {
    const char* what;
    std::vector<Entry> entries;
    ManifestError error;
    qsizetype entry;  // the entry refused
};

class HostileManifest : public testing::TestWithParam<HostileList> {};

// Built as entries and encoded, so each case breaks one rule and nothing else; the sender's
// own check refuses the same list for the same reason.
TEST_P(HostileManifest, IsRefusedForItsReason) {
    Manifest manifest;
    manifest.entries = GetParam().entries;
    const ParsedManifest parsed = parseManifest(encodeManifest(manifest));
    EXPECT_EQ(parsed.problem.error, GetParam().error);
    EXPECT_EQ(parsed.problem.entry, GetParam().entry);
    EXPECT_FALSE(parsed.manifest);
    const ManifestProblem checked = checkManifest(manifest);
    EXPECT_EQ(checked.error, GetParam().error);
    EXPECT_EQ(checked.entry, GetParam().entry);
}

const QByteArray kTooLongPath = "a/" + QByteArray(kMaxPathBytes - 1, 'b');

INSTANTIATE_TEST_SUITE_P(
    Entries, HostileManifest,
    testing::Values(
        HostileList{"parent", {file("ok"), file("../x")}, ManifestError::BadPath, 1},
        HostileList{"parent inside", {file("a/../../x")}, ManifestError::BadPath, 0},
        HostileList{"absolute", {file("/etc/x")}, ManifestError::BadPath, 0},
        HostileList{"empty component", {file("a//b")}, ManifestError::BadPath, 0},
        HostileList{"final slash", {folder("a/")}, ManifestError::BadPath, 0},
        HostileList{"hidden folder", {file(".ssh/x")}, ManifestError::BadPath, 0},
        HostileList{"hidden inside", {file("a/.bashrc")}, ManifestError::BadPath, 0},
        HostileList{"dot", {folder("a/.")}, ManifestError::BadPath, 0},
        HostileList{"empty path", {file("")}, ManifestError::BadPath, 0},
        HostileList{"backslash", {file("a\\..\\x")}, ManifestError::BadPath, 0},
        HostileList{"control character", {file("a/b\x1b[2J")}, ManifestError::BadPath, 0},
        HostileList{"not UTF-8", {file("a/\xff")}, ManifestError::BadPath, 0},
        HostileList{"component of 256 bytes",
                    {{EntryKind::File, QByteArray(256, 'n'), 0, 0}},
                    ManifestError::BadPath,
                    0},
        HostileList{
            "path too long", {{EntryKind::File, kTooLongPath, 0, 0}}, ManifestError::BadPath, 0},
        HostileList{"too deep",
                    {{EntryKind::File, nested(kMaxDepth + 1), 0, 0}},
                    ManifestError::TooDeep,
                    0},
        HostileList{"NFC and NFD files",
                    {file("caf\xc3\xa9.txt"), file("cafe\xcc\x81.txt")},
                    ManifestError::UnicodeTwin,
                    1},
        HostileList{"NFD and NFC folders",
                    {file("cafe\xcc\x81/a"), file("caf\xc3\xa9/b")},
                    ManifestError::UnicodeTwin,
                    1},
        HostileList{"file and folder", {file("a"), folder("a")}, ManifestError::FileFolderClash, 1},
        HostileList{
            "file, then a file in it", {file("a"), file("a/b")}, ManifestError::FileFolderClash, 1},
        HostileList{"file in a folder, then the folder as a file",
                    {file("a/b/c"), file("a/b")},
                    ManifestError::FileFolderClash,
                    1},
        HostileList{"same file twice", {file("a/b"), file("a/b")}, ManifestError::Duplicate, 1},
        HostileList{"same folder twice", {folder("a"), folder("a")}, ManifestError::Duplicate, 1},
        HostileList{
            "folder with a size", {{EntryKind::Folder, "a", 1, 0}}, ManifestError::BadKind, 0},
        HostileList{"sizes summing past 2^64",
                    {file("a", kMost), file("b", kMost), file("c", 2)},
                    ManifestError::TooLarge,
                    1},
        HostileList{
            "sizes summing to 2^63", {file("a", kMost), file("b", 1)}, ManifestError::TooLarge, 1}),
    [](const testing::TestParamInfo<HostileList>& info) {
        std::string name = info.param.what;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

TEST(Manifest, TakesWhatIsJustWithinTheRules) {
    Manifest manifest;
    manifest.entries = {// A folder known first as a parent, then listed itself, in either order.
                        file("a/b"),
                        folder("a"),
                        folder("c"),
                        file("c/d"),
                        // Names that are alike but not the same.
                        file("x"),
                        file("X"),
                        file("x.txt"),
                        file("x y"),
                        {EntryKind::File, nested(kMaxDepth), 1, kMost},
                        {EntryKind::File, "e/" + QByteArray(255, 'n'), kMost - 7, 0}};
    const ParsedManifest parsed = parseManifest(encodeManifest(manifest));
    EXPECT_EQ(parsed.problem.error, ManifestError::None);
    ASSERT_TRUE(parsed.manifest);
    EXPECT_EQ(parsed.manifest->total(), kMost);
}

// What can only be said in bytes: a value no entry can hold, a count that lies, bytes cut
// short or left over.
TEST(Manifest, RefusesMalformedBytes) {
    const QByteArray one = encodeManifest(Manifest{{file("a", 3, 4)}});
    const auto withByte = [&](qsizetype at, char value) {
        QByteArray bytes = one;
        bytes[at] = value;
        return bytes;
    };
    const auto withU64 = [&](qsizetype at, quint64 value) {
        QByteArray bytes = one;
        qToBigEndian(value, bytes.data() + at);
        return bytes;
    };
    const struct {
        const char* what;
        QByteArray bytes;
        ManifestError error;
    } cases[] = {
        {"nothing", {}, ManifestError::Truncated},
        {"no entry", QByteArray::fromHex("00000000"), ManifestError::NoEntries},
        {"count past the entries", withByte(3, 2), ManifestError::Truncated},
        {"count of a million", withU64(0, quint64(1000000) << 32), ManifestError::TooManyEntries},
        {"cut in a header", one.first(10), ManifestError::Truncated},
        {"cut in a path", one.first(one.size() - 1), ManifestError::Truncated},
        {"a byte left over", one + 'x', ManifestError::TrailingBytes},
        {"kind 2", withByte(4, 2), ManifestError::BadKind},
        {"size 2^64 - 1", withU64(5, ~quint64(0)), ManifestError::TooLarge},
        {"size 2^63", withU64(5, quint64(1) << 63), ManifestError::TooLarge},
        {"time 2^63", withU64(13, quint64(1) << 63), ManifestError::BadTime},
        {"path length past the end", withByte(22, 2), ManifestError::Truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ParsedManifest parsed = parseManifest(c.bytes);
        EXPECT_EQ(parsed.problem.error, c.error);
        EXPECT_FALSE(parsed.manifest);
    }
}

TEST(Manifest, BoundsTheNumberOfEntries) {
    const ParsedManifest most = parseManifest(encodeManifest(flatList(kMaxEntries)));
    EXPECT_EQ(most.problem.error, ManifestError::None);
    EXPECT_EQ(parseManifest(encodeManifest(flatList(kMaxEntries + 1))).problem.error,
              ManifestError::TooManyEntries);
    // A million real entries is more bytes than any list may take.
    EXPECT_EQ(parseManifest(encodeManifest(flatList(1000000))).problem.error,
              ManifestError::TooLong);
}

// A refused entry leaves the checker as it was: the sender skips it and goes on.
TEST(ManifestChecker, RefusalChangesNothing) {
    ManifestChecker checker;
    ASSERT_EQ(checker.add(file("a/b", 5)), ManifestError::None);
    EXPECT_EQ(checker.add(file("a/b/c/d", 7)), ManifestError::FileFolderClash);
    EXPECT_EQ(checker.add(file("A/b", kMost)), ManifestError::TooLarge);
    EXPECT_EQ(checker.count(), 1);
    EXPECT_EQ(checker.total(), 5);
    // Neither "a/b/c" nor "A" was left behind as a folder.
    EXPECT_EQ(checker.add(file("A", 1)), ManifestError::None);
    EXPECT_EQ(checker.add(file("a/c", kMost - 6)), ManifestError::None);
    EXPECT_EQ(checker.total(), kMost);
}

}  // namespace
}  // namespace entries
