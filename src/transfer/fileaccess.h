#pragma once

#include "transfer/lockedfile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

// The file operations of a transfer. No handle is kept from one call to the next: every
// block is a complete open, read or write, close. An open that fails is tried again
// kRetryDelayMs later, up to `attempts` times in all; the waits block the calling thread.
// The transfers make one attempt per call and wait on a timer between them (FileRetry), so
// that the thread of the window never sleeps.
class FileAccess {
public:
    static constexpr int kOpenAttempts = 11;
    static constexpr int kRetryDelayMs = 150;

    using WaitFunction = std::function<void(int ms)>;
    enum class WriteResult { Written, OpenFailed, WriteFailed };

    // `wait` blocks for the given milliseconds between attempts; empty means a real sleep.
    explicit FileAccess(WaitFunction wait = {}, int attempts = kOpenAttempts);
    // Opens once per call, never waiting.
    static FileAccess once() { return FileAccess({}, 1); }

    // Opens an existing file exclusively by the retry rule.
    LockedFile openWithRetries(const QString& path, LockedFile::Access access,
                               LockedFile::Links links = LockedFile::Links::Follow) const;

    // The up to kBlockSize bytes of block `index` (at index * kBlockSize); nullopt when the
    // file could not be opened or read.
    std::optional<QByteArray> readBlock(const QString& path, qint64 index) const;
    // The length of an existing file; nullopt when it could not be opened.
    std::optional<qint64> fileLength(const QString& path,
                                     LockedFile::Links links = LockedFile::Links::Follow) const;
    // Writes `data` at index * kBlockSize into an existing file, never creating or
    // truncating it. After a write, `lengthAfter` (when given) holds the file's length as
    // the same open sees it, or -1 when it could not be told; a caller that goes on by the
    // length saves a second open.
    WriteResult writeBlock(const QString& path, qint64 index, QByteArrayView data,
                           LockedFile::Links links = LockedFile::Links::Follow,
                           qint64* lengthAfter = nullptr) const;

    // Creates a new empty file. Fails (false) when anything exists under the name already,
    // so an existing file is never emptied, and a symbolic link is never followed.
    static bool createEmpty(const QString& path);
    // Whether something that is not a folder exists under the name (a symbolic link counts,
    // whatever it points to).
    static bool fileExists(const QString& path);
    // Bytes free for this user on the volume holding `folder` (or its nearest existing
    // parent); -1 when that cannot be told.
    static qint64 freeSpace(const QString& folder);

private:
    void wait(int ms) const;

    WaitFunction m_wait;
    int m_attempts;
    // The last path opened, and the same in the file system's encoding.
    mutable QString m_lastPath;
    mutable QByteArray m_lastLocalPath;
};
