// Both ends on real folders: what the sender collects, and what the receiver makes of it
// under a receive folder where links and other traps are waiting.

#include "lane/entries/entrycollector.h"
#include "lane/entries/receivefolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>

namespace entries {
namespace {

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(content), content.size());
}

void makeLink(const QString& target, const QString& link) {
    ASSERT_EQ(::symlink(native(target).constData(), native(link).constData()), 0);
}

void setModified(const QString& path, qint64 ns) {
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(ns / 1000000000), long(ns % 1000000000)}};
    ASSERT_EQ(::utimensat(AT_FDCWD, native(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// Everything under `root` as lstat sees it: kind ('f', 'd', 'l', 'p'), content of files and
// link targets, and the modification time of files and folders.
struct Node {
    char kind;
    QByteArray content;
    qint64 modifiedNs;
    friend bool operator==(const Node&, const Node&) = default;
};
std::map<QByteArray, Node> snapshot(const QString& root) {
    std::map<QByteArray, Node> nodes;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status {};
        EXPECT_EQ(::lstat(native(path).constData(), &status), 0);
        Node node{'p', {}, 0};
        if (S_ISLNK(status.st_mode)) {
            node = {'l', QFile::symLinkTarget(path).toUtf8(), 0};
        } else {
            const qint64 ns = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
            if (S_ISDIR(status.st_mode)) {
                node = {'d', {}, ns};
            } else if (S_ISREG(status.st_mode)) {
                QFile file(path);
                EXPECT_TRUE(file.open(QIODevice::ReadOnly));
                node = {'f', file.readAll(), ns};
            }
        }
        nodes[native(QDir(root).relativeFilePath(path))] = node;
    }
    return nodes;
}

class Tree : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        for (const char* folder : {"send", "receive", "outside"}) {
            ASSERT_TRUE(QDir(m_dir.path()).mkdir(QLatin1String(folder)));
        }
        writeFile(outside("secret.txt"), "not to be read or written");
    }
    // Paths under the three folders, from UTF-8.
    QString send(const char* relative) const { return under("/send/", relative); }
    QString receive(const char* relative = "") const { return under("/receive/", relative); }
    QString outside(const char* relative = "") const { return under("/outside/", relative); }
    QString under(const char* folder, const char* relative) const {
        return m_dir.path() + QString::fromUtf8(folder) + QString::fromUtf8(relative);
    }

    QTemporaryDir m_dir;
};

// Nested folders, an empty file, an empty folder and non-ASCII names arrive with their
// content and times, names in normal form C; the links inside the folder sent are reported
// and go nowhere.
TEST_F(Tree, ArrivesIntactWithoutItsLinks) {
    ASSERT_TRUE(QDir().mkpath(send("album/año 2024")));
    ASSERT_TRUE(QDir().mkpath(send("album/deep/a/b/c")));
    ASSERT_TRUE(QDir().mkpath(send("album/empty")));
    writeFile(send("album/año 2024/fotó.jpg"), QByteArray("\xff\xd8 jpeg ").repeated(5000));
    writeFile(send("album/año 2024/vacío.txt"), {});
    writeFile(send("album/deep/a/b/c/file.bin"), QByteArray(1, '\0') + "bin");
    writeFile(send("notes.txt"), "notas\n");
    makeLink(outside("secret.txt"), send("album/link-to-file"));
    makeLink(outside(), send("album/link-to-dir"));
    // In normal form D, as some systems spell names: it arrives in form C.
    writeFile(send("album/cafe\u0301.txt"), "nfd");
    const char* const paths[] = {"album",
                                 "album/año 2024",
                                 "album/año 2024/fotó.jpg",
                                 "album/año 2024/vacío.txt",
                                 "album/cafe\u0301.txt",
                                 "album/deep",
                                 "album/deep/a",
                                 "album/deep/a/b",
                                 "album/deep/a/b/c",
                                 "album/deep/a/b/c/file.bin",
                                 "album/empty",
                                 "notes.txt"};
    // Deepest first, so that no time is changed again by what follows.
    qint64 ns = 1600000000123456789;
    for (auto it = std::rbegin(paths); it != std::rend(paths); ++it) {
        setModified(send(*it), ns += 86400123456789);
    }
    const auto before = snapshot(outside());

    const Collection collected = collectEntries({send("album"), send("notes.txt")});

    std::vector<QByteArray> collectedPaths;
    for (const Entry& entry : collected.manifest.entries) {
        collectedPaths.push_back(entry.path);
    }
    EXPECT_EQ(collectedPaths, std::vector<QByteArray>(std::begin(paths), std::end(paths)));
    EXPECT_EQ(collected.sources.value(2), send("album/año 2024/fotó.jpg"));
    ASSERT_EQ(collected.skipped.size(), 2u);
    for (const Skipped& skipped : collected.skipped) {
        EXPECT_EQ(skipped.reason, SkipReason::Link);
        EXPECT_FALSE(skipped.given);
    }
    EXPECT_EQ(collected.skipped[0].path, send("album/link-to-dir"));
    EXPECT_EQ(collected.skipped[1].path, send("album/link-to-file"));

    // Across the wire and into the receive folder.
    const ParsedManifest parsed = parseManifest(encodeManifest(collected.manifest));
    ASSERT_TRUE(parsed.manifest);
    ReceiveFolder folder(receive());
    ASSERT_TRUE(folder.isOpen());
    ASSERT_TRUE(folder.makeFolders(*parsed.manifest).ok());
    for (std::size_t i = 0; i < parsed.manifest->entries.size(); ++i) {
        const Entry& entry = parsed.manifest->entries[i];
        if (entry.kind != EntryKind::File) {
            continue;
        }
        ReceiveFolder::OpenedFile file = folder.openFile(entry.path);
        ASSERT_TRUE(file.outcome.ok()) << entry.path.toStdString();
        EXPECT_EQ(file.path,
                  QString::fromUtf8(entry.path).normalized(QString::NormalizationForm_C).toUtf8());
        EXPECT_EQ(file.length, 0);
        QFile source(collected.sources[qsizetype(i)]);
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        const QByteArray content = source.readAll();
        ASSERT_EQ(::write(file.fd.get(), content.constData(), size_t(content.size())),
                  content.size());
    }
    ASSERT_TRUE(folder.setTimes(parsed.manifest->entries).ok());

    auto sent = snapshot(send(""));
    sent.erase("album/link-to-file");
    sent.erase("album/link-to-dir");
    sent["album/caf\u00e9.txt"] = sent["album/cafe\u0301.txt"];
    sent.erase("album/cafe\u0301.txt");
    EXPECT_EQ(snapshot(receive()), sent);
    EXPECT_EQ(snapshot(outside()), before);
}

// Whatever already stands in the receive folder, nothing is written through a link, no link
// is made, and nothing waits on a FIFO.
TEST_F(Tree, ReceiverRefusesLinksAndOtherTraps) {
    makeLink(outside(), receive("linkdir"));
    makeLink(outside("secret.txt"), receive("linkfile"));
    makeLink(outside("new.txt"), receive("dangling"));
    writeFile(receive("plain"), "plain");
    ASSERT_EQ(::mkfifo(native(receive("fifo")).constData(), 0600), 0);
    ASSERT_TRUE(QDir().mkpath(receive("folder")));
    makeLink(outside(), receive("folder/inner"));
    const auto before = snapshot(outside());
    const auto receivedBefore = snapshot(receive());

    ReceiveFolder folder(receive());
    ASSERT_TRUE(folder.isOpen());
    using F = ReceiveFolder::Failure;
    const struct {
        const char* path;
        F failure;
        const char* at;
    } files[] = {
        {"linkdir/x", F::Link, "linkdir"},
        {"linkdir/new/x", F::Link, "linkdir"},
        {"linkfile", F::Link, "linkfile"},
        {"dangling", F::Link, "dangling"},
        {"plain/x", F::NotFolder, "plain"},
        {"fifo", F::NotFile, "fifo"},
        {"folder", F::NotFile, "folder"},
        {"folder/inner/x", F::Link, "folder/inner"},
        {"../outside/x", F::BadPath, "../outside/x"},
    };
    for (const auto& c : files) {
        SCOPED_TRACE(c.path);
        const ReceiveFolder::OpenedFile file = folder.openFile(c.path);
        EXPECT_FALSE(file.fd.valid());
        EXPECT_EQ(file.outcome.failure, c.failure);
        EXPECT_EQ(file.outcome.path, c.at);
    }

    Manifest folders;
    folders.entries = {{EntryKind::Folder, "ok", 0, 0}, {EntryKind::Folder, "linkdir/sub", 0, 0}};
    const ReceiveFolder::Outcome made = folder.makeFolders(folders);
    EXPECT_EQ(made.failure, F::Link);
    EXPECT_EQ(made.path, "linkdir");
    const std::vector<Entry> times = {{EntryKind::File, "linkfile", 0, 1}};
    EXPECT_EQ(folder.setTimes(times).failure, F::Link);

    EXPECT_EQ(snapshot(outside()), before);
    auto received = snapshot(receive());
    EXPECT_EQ(received["ok"].kind, 'd');  // made before the link was met
    received.erase("ok");
    EXPECT_EQ(received, receivedBefore);
}

// A file already there is kept as it is for a resume; a new one goes beside it under the
// first free "name (n).ext", passing over a link that holds a name.
TEST_F(Tree, KeepsAnExistingFileAndCreatesBesideIt) {
    writeFile(receive("doc.txt"), "hello");
    makeLink(outside("taken.txt"), receive("doc (1).txt"));
    ReceiveFolder folder(receive());
    ASSERT_TRUE(folder.isOpen());

    ReceiveFolder::OpenedFile existing = folder.openFile("doc.txt");
    ASSERT_TRUE(existing.outcome.ok());
    EXPECT_EQ(existing.length, 5);
    EXPECT_EQ(folder.openFile("doc.txt").outcome.failure, ReceiveFolder::Failure::Locked);

    const struct {
        const char* path;
        const char* beside;
    } cases[] = {
        {"doc.txt", "doc (2).txt"},
        {"doc.txt", "doc (3).txt"},
        {"sub/README", "sub/README (1)"},
        {"a.tar.gz", "a.tar (1).gz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const ReceiveFolder::OpenedFile file = folder.createBeside(c.path);
        EXPECT_TRUE(file.outcome.ok());
        EXPECT_EQ(file.path, c.beside);
        EXPECT_EQ(file.length, 0);
    }
    const QByteArray longest(255, 'n');
    EXPECT_EQ(folder.createBeside(longest).outcome.failure, ReceiveFolder::Failure::NoName);

    EXPECT_FALSE(QFile::exists(outside("taken.txt")));
    QFile kept(receive("doc.txt"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "hello");
}

// What the receiver would refuse is left out on the sender and reported, one line each, and
// the rest is collected as a list the receiver takes.
TEST_F(Tree, CollectorSkipsWhatTheReceiverWouldRefuse) {
    ASSERT_TRUE(QDir().mkpath(send("box")));
    writeFile(send("box/.hidden"), "h");
    writeFile(send("box/bad\nname"), "b");
    writeFile(send("box/cafe\u0301.txt"), "nfd");
    writeFile(send("box/caf\u00e9.txt"), "nfc");
    ASSERT_EQ(::mkfifo(native(send("box/fifo")).constData(), 0600), 0);
    // A name in Latin-1, not UTF-8: made from its bytes, as Qt would turn them into U+FFFD.
    const QByteArray latin1 = native(send("box/")) + "\xff.bin";
    const int fd = ::open(latin1.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    QString deep = send("box/deep");
    for (int i = 0; i < kMaxDepth + 5; ++i) {
        deep += QStringLiteral("/d");
    }
    ASSERT_TRUE(QDir().mkpath(deep));
    ASSERT_TRUE(QDir().mkpath(send("other")));
    writeFile(send("other/box"), "a file named as the folder");
    writeFile(send("x.txt"), "x");
    // A link named by the user is followed: it was chosen, not met inside a folder.
    makeLink(send("x.txt"), send("chosen link"));

    const Collection collected =
        collectEntries({send("box"), send("missing"), send("other/box"), send("x.txt"),
                        send("x.txt"), send("chosen link")});

    QString deepest = send("box/deep");
    for (int i = 0; i < kMaxDepth - 1; ++i) {
        deepest += QStringLiteral("/d");
    }
    const struct {
        QString path;
        SkipReason reason;
        ManifestError error;
        bool given;
    } expected[] = {
        {send("box/.hidden"), SkipReason::Refused, ManifestError::BadPath, false},
        {send("box/bad\nname"), SkipReason::Refused, ManifestError::BadPath, false},
        {send("box/caf\u00e9.txt"), SkipReason::Refused, ManifestError::UnicodeTwin, false},
        {deepest, SkipReason::Refused, ManifestError::TooDeep, false},
        {send("box/fifo"), SkipReason::Special, ManifestError::None, false},
        {QFile::decodeName(latin1), SkipReason::Refused, ManifestError::BadPath, false},
        {send("missing"), SkipReason::Missing, ManifestError::None, true},
        {send("other/box"), SkipReason::Refused, ManifestError::FileFolderClash, true},
        {send("x.txt"), SkipReason::Refused, ManifestError::Duplicate, true},
    };
    ASSERT_EQ(collected.skipped.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        const Skipped& skipped = collected.skipped[i];
        EXPECT_EQ(skipped.path, expected[i].path);
        EXPECT_EQ(skipped.reason, expected[i].reason);
        EXPECT_STREQ(manifestErrorName(skipped.error), manifestErrorName(expected[i].error));
        EXPECT_EQ(skipped.given, expected[i].given);
    }
    EXPECT_EQ(collected.skipped[6].systemError, ENOENT);

    EXPECT_EQ(checkManifest(collected.manifest).error, ManifestError::None);
    EXPECT_EQ(qsizetype(collected.manifest.entries.size()), collected.sources.size());
    const Entry& nfd = collected.manifest.entries[1];
    EXPECT_EQ(nfd.path, "box/cafe\xcc\x81.txt");
    EXPECT_EQ(nfd.size, 3);
    const Entry& chosen = collected.manifest.entries.back();
    EXPECT_EQ(chosen.path, "chosen link");
    EXPECT_EQ(chosen.kind, EntryKind::File);
    EXPECT_EQ(chosen.size, 1);
    EXPECT_EQ(collected.sources.back(), send("chosen link"));
    // box, the one spelling of café, deep and its folders down to the deepest allowed,
    // x.txt and the link chosen.
    EXPECT_EQ(collected.manifest.entries.size(), 3u + kMaxDepth - 2 + 2);
}

}  // namespace
}  // namespace entries
