#include "transfer/fileaccess.h"
#include "transfer/lockedfile.h"
#include "transfer/protocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

QByteArray sampleContent(qsizetype size) {
    QByteArray content(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        content[i] = static_cast<char>((i * 13 + i / 2048) % 256);
    }
    return content;
}

class FileAccessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    QString makeFile(const char* name, const QByteArray& content) const {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(content), content.size());
        return file.fileName();
    }

    static QByteArray contentOf(const QString& filePath) {
        QFile file(filePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // Counts the waits between attempts instead of sleeping.
    FileAccess countingAccess() {
        return FileAccess([this](int ms) {
            ++m_waits;
            m_waitedMs += ms;
        });
    }

    QTemporaryDir m_dir;
    int m_waits = 0;
    int m_waitedMs = 0;
};

// Holds the exclusive lock of a file from its own thread until told to let it go.
class LockHolder {
public:
    explicit LockHolder(const QString& path)
        : m_thread([this, path] {
              LockedFile file = LockedFile::open(path, LockedFile::Access::Read);
              std::unique_lock lock(m_mutex);
              m_locked = file.isOpen();
              m_changed.notify_all();
              m_changed.wait(lock, [this] { return m_releaseAsked; });
              file.close();
              m_released = true;
              m_changed.notify_all();
          }) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_locked; });
    }
    ~LockHolder() {
        release();
        m_thread.join();
    }
    // Returns once the lock is gone.
    void release() {
        std::unique_lock lock(m_mutex);
        m_releaseAsked = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_released; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_locked = false;
    bool m_releaseAsked = false;
    bool m_released = false;
    std::thread m_thread;
};

}  // namespace

TEST_F(FileAccessTest, ReadsBlocksAtIndexTimesBlockSize) {
    const QByteArray content = sampleContent(5000);
    const QString file = makeFile("notes.txt", content);
    const FileAccess files = countingAccess();
    EXPECT_EQ(files.readBlock(file, 0), content.mid(0, 2048));
    EXPECT_EQ(files.readBlock(file, 1), content.mid(2048, 2048));
    EXPECT_EQ(files.readBlock(file, 2), content.mid(4096));
    // Beyond the end (a file that shrank): an empty block.
    EXPECT_EQ(files.readBlock(file, 3), QByteArray());
    EXPECT_EQ(files.readBlock(file, -1), std::nullopt);
    EXPECT_EQ(files.readBlock(path("missing"), 0), std::nullopt);
    EXPECT_EQ(files.fileLength(file), 5000);
    EXPECT_EQ(files.fileLength(path("missing")), std::nullopt);
}

TEST_F(FileAccessTest, WritesAtTheOffsetWithoutTruncatingOrCreating) {
    const QByteArray content = sampleContent(5000);
    const QString file = makeFile("partial.bin", content);
    const FileAccess files = countingAccess();

    // Block 2 written whole over the last 904 bytes already there, as a resume does.
    const QByteArray block2(2048, 'z');
    EXPECT_EQ(files.writeBlock(file, 2, block2), FileAccess::WriteResult::Written);
    EXPECT_EQ(contentOf(file), content.left(4096) + block2);

    // A short write at the start leaves the rest as it was.
    EXPECT_EQ(files.writeBlock(file, 0, "head"), FileAccess::WriteResult::Written);
    EXPECT_EQ(contentOf(file), "head" + content.mid(4, 4092) + block2);

    // Far beyond the end: the gap reads as zeros.
    EXPECT_EQ(files.writeBlock(file, 5, "x"), FileAccess::WriteResult::Written);
    EXPECT_EQ(files.fileLength(file), 5 * 2048 + 1);

    // The length of a file written through the same open is the new one.
    LockedFile open = LockedFile::open(file, LockedFile::Access::Write);
    ASSERT_TRUE(open.isOpen());
    EXPECT_EQ(open.length(), 5 * 2048 + 1);
    EXPECT_EQ(open.writeAt(6 * 2048, "yz"), 2);
    EXPECT_EQ(open.length(), 6 * 2048 + 2);
    EXPECT_EQ(open.writeAt(9 * 2048, ""), 0);  // writes nothing, so extends nothing
    EXPECT_EQ(open.length(), 6 * 2048 + 2);
    open.close();

    // The length after a write, as the write's own open sees it: kept inside, moved on at
    // the end, and the same as a fresh open measures.
    qint64 lengthAfter = 0;
    EXPECT_EQ(files.writeBlock(file, 1, "in", LockedFile::Links::Follow, &lengthAfter),
              FileAccess::WriteResult::Written);
    EXPECT_EQ(lengthAfter, 6 * 2048 + 2);
    EXPECT_EQ(files.writeBlock(file, 7, block2, LockedFile::Links::Follow, &lengthAfter),
              FileAccess::WriteResult::Written);
    EXPECT_EQ(lengthAfter, 8 * 2048);
    EXPECT_EQ(files.fileLength(file), 8 * 2048);

    EXPECT_EQ(files.writeBlock(path("absent"), 0, "x", LockedFile::Links::Follow, &lengthAfter),
              FileAccess::WriteResult::OpenFailed);
    EXPECT_EQ(lengthAfter, -1);
    EXPECT_FALSE(QFile::exists(path("absent")));
    EXPECT_EQ(files.writeBlock(file, 0, QByteArray(2049, 'x')),
              FileAccess::WriteResult::WriteFailed);
    EXPECT_EQ(files.writeBlock(file, -1, "x"), FileAccess::WriteResult::WriteFailed);
}

TEST_F(FileAccessTest, ReceiverTargetNeverFollowsASymbolicLink) {
    const QString outside = makeFile("outside.txt", "keep me");
    const QString link = path("offered.txt");
    ASSERT_EQ(
        ::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(link).constData()), 0);
    const FileAccess files = countingAccess();
    EXPECT_EQ(files.writeBlock(link, 0, "evil", LockedFile::Links::NoFollow),
              FileAccess::WriteResult::OpenFailed);
    EXPECT_EQ(files.fileLength(link, LockedFile::Links::NoFollow), std::nullopt);
    EXPECT_EQ(contentOf(outside), "keep me");
    // The sender's chosen file may be a link.
    EXPECT_EQ(files.fileLength(link), 7);
}

TEST_F(FileAccessTest, OnlyRegularFilesOpen) {
    const QString fifo = path("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Neither open may hang waiting for the other end of the FIFO.
    EXPECT_FALSE(LockedFile::open(fifo, LockedFile::Access::Write).isOpen());
    EXPECT_FALSE(LockedFile::open(fifo, LockedFile::Access::Read).isOpen());
    const LockedFile folder = LockedFile::open(m_dir.path(), LockedFile::Access::Read);
    EXPECT_FALSE(folder.isOpen());
    EXPECT_EQ(folder.error(), EISDIR);
}

TEST_F(FileAccessTest, CreateEmptyNeverTouchesWhatExists) {
    const QString fresh = path("new.txt");
    EXPECT_TRUE(FileAccess::createEmpty(fresh));
    EXPECT_EQ(QFileInfo(fresh).size(), 0);

    const QString existing = makeFile("existing.txt", "content");
    EXPECT_FALSE(FileAccess::createEmpty(existing));
    EXPECT_EQ(contentOf(existing), "content");

    const QString dangling = path("dangling");
    const QString pointedAt = path("pointed-at");
    ASSERT_EQ(::symlink(QFile::encodeName(pointedAt).constData(),
                        QFile::encodeName(dangling).constData()),
              0);
    EXPECT_FALSE(FileAccess::createEmpty(dangling));
    EXPECT_FALSE(QFile::exists(pointedAt));
}

TEST_F(FileAccessTest, FileExists) {
    EXPECT_TRUE(FileAccess::fileExists(makeFile("f", "x")));
    EXPECT_FALSE(FileAccess::fileExists(m_dir.path()));
    EXPECT_FALSE(FileAccess::fileExists(path("missing")));
    const QString dangling = path("dangling");
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(dangling).constData()), 0);
    EXPECT_TRUE(FileAccess::fileExists(dangling));
}

TEST_F(FileAccessTest, FreeSpaceOfTheFolderOrItsNearestExistingParent) {
    const qint64 here = FileAccess::freeSpace(m_dir.path());
    EXPECT_GT(here, 0);
    // A folder not made yet is on the volume of its parent.
    const qint64 below = FileAccess::freeSpace(path("not/made/yet/"));
    EXPECT_GT(below, 0);
    EXPECT_LT(std::abs(below - here), Q_INT64_C(1) << 30);
    EXPECT_EQ(FileAccess::freeSpace(QString()), -1);
}

TEST_F(FileAccessTest, ExclusiveOpenKeepsOthersOut) {
    const QString file = makeFile("shared.txt", "x");
    LockedFile first = LockedFile::open(file, LockedFile::Access::Read);
    ASSERT_TRUE(first.isOpen());
    const LockedFile second = LockedFile::open(file, LockedFile::Access::Write);
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(second.error(), EWOULDBLOCK);
    first.close();
    EXPECT_TRUE(LockedFile::open(file, LockedFile::Access::Write).isOpen());
}

TEST_F(FileAccessTest, FileThatOpensAtTheEleventhAttemptIsUsed) {
    const QByteArray content = sampleContent(3000);
    const QString file = makeFile("busy.txt", content);
    LockHolder holder(file);
    const FileAccess files([&](int ms) {
        ++m_waits;
        m_waitedMs += ms;
        if (m_waits == 10) {
            holder.release();  // just before the eleventh and last attempt
        }
    });
    EXPECT_EQ(files.readBlock(file, 1), content.mid(2048));
    EXPECT_EQ(m_waits, 10);
    EXPECT_EQ(m_waitedMs, 1500);
}

TEST_F(FileAccessTest, FileThatWouldOpenOnlyAtTheTwelfthAttemptFails) {
    const QString file = makeFile("busy.txt", "x");
    LockHolder holder(file);
    const FileAccess files = countingAccess();
    EXPECT_EQ(files.writeBlock(file, 0, "y"), FileAccess::WriteResult::OpenFailed);
    EXPECT_EQ(files.fileLength(file), std::nullopt);
    EXPECT_EQ(m_waits, 20);
    EXPECT_EQ(m_waitedMs, 3000);
    holder.release();
    EXPECT_EQ(contentOf(file), "x");
}

TEST_F(FileAccessTest, NeverOpeningFailsAfterAboutOneAndAHalfSeconds) {
    const QString file = makeFile("busy.txt", "x");
    LockHolder holder(file);
    const FileAccess files;  // real sleeps
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(files.readBlock(file, 0), std::nullopt);
    const qint64 elapsed = timer.elapsed();
    EXPECT_GE(elapsed, 1490);
    EXPECT_LT(elapsed, 3000);
}

TEST_F(FileAccessTest, FirstAttemptThatWorksNeedsNoWait) {
    const FileAccess files = countingAccess();
    EXPECT_EQ(files.fileLength(makeFile("free.txt", "abc")), 3);
    EXPECT_EQ(m_waits, 0);
}
