#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

#include <sys/types.h>

#include "lane/entries/uniquefd.h"
#include "localsend/uploadoffer.h"

namespace entries {
class ReceiveFolder;
}

namespace localsend {

class Connection;
class Upload;
struct HttpRequest;

// One LocalSend sender's offer, from its prepare-upload to the last file: the answer the
// sender waits for (held until the user decides), the tokens, each file's upload into the
// receive folder, and how it all ended. A receiver serves one session at a time.
//
// Every file is written through entries::ReceiveFolder (never through a link, never outside
// the folder); a name already taken is kept and the file goes beside it as "name (n).ext".
// A file counts as received only when its bytes are all on disk, as many as announced, and
// match the SHA-256 the sender gave (when it gave one). A file that fails is removed.
class Session : public QObject {
    Q_OBJECT

public:
    enum class End {
        Received,         // every file is here, whole and checked
        Declined,         // the user said no
        Cancelled,        // the user (or the role) ended it
        CancelledByPeer,  // the sender cancelled
        PeerLeft,         // the sender went away while asked, or stopped sending
        Corrupted,        // a file's size or SHA-256 was not what was announced
        WriteFailed,      // a file could not be written
        OpenFailed,       // a file could not be made in the receive folder
        ConnectionError,  // an upload broke off half-way
    };
    // Who prepared the session, and so who may upload: by address, and over TLS by the
    // fingerprint of the client certificate it presented (empty when it presented none).
    struct Peer {
        QHostAddress address;
        bool secure = false;
        QString fingerprint;
    };
    // Uploads at the same time (senders send two).
    static constexpr int kMostUploads = 4;
    // With every upload done and the files not all here, the session ends after this.
    static constexpr int kIdleMs = 120 * 1000;
    // With only files of no bytes left, they are made after this if their uploads do not
    // come.
    static constexpr int kEmptyGraceMs = 2000;

    // `asking` is the connection that waits for the answer.
    Session(UploadOffer offer, Peer peer, Connection* asking, QObject* parent = nullptr);
    ~Session() override;

    const QString& id() const { return m_id; }
    const UploadOffer& offer() const { return m_offer; }
    const Peer& peer() const { return m_peer; }
    bool asking() const { return m_phase == Phase::Asking; }
    bool isEnded() const { return m_phase == Phase::Ended; }

    // The user's answers: tokens for every file, or 403. `folder` ends in "/".
    void accept(const QString& folder);
    void decline();
    // Ends the session: uploads under way are broken off and their files removed.
    void cancel();
    // While paused nothing more is read from the sender (TCP's flow control holds it).
    void pause();
    void resume();
    bool paused() const { return m_paused; }
    // The sender's cancel request.
    void cancelByPeer();
    // Ends it without a word (the role let the sender go): nothing is signalled.
    void abandon();

    struct UploadStart {
        int status = 0;  // the answer when there is no upload
        Upload* upload = nullptr;
    };
    // An upload request of this session from `connection` (whose address has been checked).
    UploadStart startUpload(const HttpRequest& request, Connection& connection);

signals:
    // The sender has its tokens: uploads may come.
    void started();
    // Bytes of all files taken so far.
    void progress(qint64 done, qint64 total);
    // A file ended: `path` is where it is (absolute) or was to be.
    void fileEnded(const QString& path, Session::End why);
    // Exactly once, after which the session signals nothing more.
    void ended(Session::End end);

private:
    friend class Upload;
    enum class Phase { Asking, Receiving, Ended };
    enum class FileState { Waiting, Receiving, Done, Failed };
    struct File {
        OfferedFile offered;
        QByteArray token;
        FileState state = FileState::Waiting;
        qint64 received = 0;
        QByteArray savedPath;  // relative to the folder, as written
        dev_t device = 0;
        ino_t inode = 0;
        QPointer<Upload> upload;
    };

    void answerAsking(int status, const QByteArray& body = {});
    // Opens the file's name (or a free one beside it) to write; false after failing it.
    bool openFile(int index, entries::UniqueFd& fd);
    void fileFailed(int index, End why);
    void fileDone(int index);
    void taken(int index, qint64 bytes);
    void checkDone();
    bool onlyEmptyLeft() const;
    void idleOver();
    void finish(End end);
    QString absolutePath(const File& file) const;

    QString m_id;
    UploadOffer m_offer;
    Peer m_peer;
    QPointer<Connection> m_asking;
    Phase m_phase = Phase::Asking;
    std::vector<File> m_files;
    QHash<QString, int> m_byId;
    QString m_folder;
    std::unique_ptr<entries::ReceiveFolder> m_receiveFolder;
    qint64 m_done = 0;
    bool m_paused = false;
    bool m_quiet = false;
    std::optional<End> m_firstFailure;
    QTimer m_idle;
};

}  // namespace localsend
