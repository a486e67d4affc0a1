#include "localsend/session.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <sys/stat.h>

#include <algorithm>

#include "lane/entries/receivefolder.h"
#include "localsend/connection.h"
#include "localsend/discardfile.h"
#include "localsend/httprequest.h"
#include "localsend/upload.h"
#include "localsend/uploadsink.h"

namespace localsend {

namespace {

// The SHA-256 of no bytes.
constexpr QByteArrayView kEmptySha256 =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// 128 random bits in hex: a session id or a token nobody can guess.
QString randomHex() {
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(words), sizeof(words)).toHex());
}

// Compares in a time that does not depend on where the texts first differ.
bool sameSecret(QByteArrayView a, QByteArrayView b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        difference |= unsigned(static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]));
    }
    return difference == 0;
}

}  // namespace

Session::Session(UploadOffer offer, Peer peer, Connection* asking, QObject* parent)
    : QObject(parent),
      m_id(randomHex()),
      m_offer(std::move(offer)),
      m_peer(std::move(peer)),
      m_asking(asking) {
    m_files.reserve(m_offer.files.size());
    for (const OfferedFile& file : m_offer.files) {
        m_byId.insert(file.id, int(m_files.size()));
        m_files.push_back(File{file, {}, FileState::Waiting, 0, {}, 0, 0, {}});
    }
    m_idle.setSingleShot(true);
    m_idle.setInterval(kIdleMs);
    connect(&m_idle, &QTimer::timeout, this, &Session::idleOver);
    if (asking != nullptr) {
        // The sender gave up waiting for the answer.
        connect(asking, &Connection::closed, this, [this] {
            m_asking = nullptr;
            if (m_phase == Phase::Asking) {
                finish(End::PeerLeft);
            }
        });
    }
}

Session::~Session() {
    // The writers stop here; nothing more is answered or signalled.
    for (File& file : m_files) {
        if (Upload* upload = file.upload) {
            upload->disconnect();
            delete upload;
        }
    }
}

QString Session::absolutePath(const File& file) const {
    return m_folder +
           QString::fromUtf8(file.savedPath.isEmpty() ? file.offered.path : file.savedPath);
}

void Session::answerAsking(int status, const QByteArray& body) {
    if (Connection* asking = m_asking) {
        m_asking = nullptr;
        asking->disconnect(this);
        asking->respond(status, body);
    }
}

void Session::accept(const QString& folder) {
    if (m_phase != Phase::Asking) {
        return;
    }
    m_folder = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    m_receiveFolder = std::make_unique<entries::ReceiveFolder>(m_folder);
    if (!m_receiveFolder->isOpen()) {
        answerAsking(500);
        finish(End::OpenFailed);
        return;
    }
    QJsonObject tokens;
    for (File& file : m_files) {
        file.token = randomHex().toLatin1();
        tokens.insert(file.offered.id, QString::fromLatin1(file.token));
    }
    m_phase = Phase::Receiving;
    answerAsking(200, QJsonDocument(QJsonObject{{QStringLiteral("sessionId"), m_id},
                                                {QStringLiteral("files"), tokens}})
                          .toJson(QJsonDocument::Compact));
    const QPointer<Session> self(this);
    emit started();
    if (self) {
        checkDone();
    }
}

bool Session::onlyEmptyLeft() const {
    return std::all_of(m_files.begin(), m_files.end(), [](const File& file) {
        return file.state != FileState::Receiving &&
               (file.state != FileState::Waiting || file.offered.size == 0);
    });
}

// Files without bytes need no upload: a sender may still send one (and is answered), or
// not, and then they are made here a moment after the last upload.
void Session::idleOver() {
    if (!onlyEmptyLeft()) {
        finish(End::PeerLeft);
        return;
    }
    const QPointer<Session> self(this);
    for (int i = 0; self && m_phase == Phase::Receiving && i < int(m_files.size()); ++i) {
        File& file = m_files[std::size_t(i)];
        if (file.state != FileState::Waiting) {
            continue;
        }
        entries::UniqueFd fd;
        if (!openFile(i, fd)) {
            continue;
        }
        fd.reset();
        if (!file.offered.sha256.isEmpty() && file.offered.sha256 != kEmptySha256) {
            fileFailed(i, End::Corrupted);
        } else {
            fileDone(i);
        }
    }
}

void Session::decline() {
    if (m_phase == Phase::Asking) {
        finish(End::Declined);
    }
}

void Session::cancel() {
    finish(End::Cancelled);
}

void Session::cancelByPeer() {
    finish(End::CancelledByPeer);
}

void Session::abandon() {
    m_quiet = true;
    finish(End::Cancelled);
}

void Session::pause() {
    m_paused = true;
}

void Session::resume() {
    if (!std::exchange(m_paused, false)) {
        return;
    }
    for (File& file : m_files) {
        if (Upload* upload = file.upload) {
            emit upload->drained();
        }
    }
}

Session::UploadStart Session::startUpload(const HttpRequest& request, Connection& connection) {
    if (m_phase != Phase::Receiving) {
        return {403};  // no token has been given yet
    }
    const QString fileId = QString::fromUtf8(request.queryValue("fileId").value_or(QByteArray()));
    const QByteArray token = request.queryValue("token").value_or(QByteArray());
    const int index = m_byId.value(fileId, -1);
    if (index < 0 || !sameSecret(token, m_files[std::size_t(index)].token)) {
        return {403};
    }
    // Tokens that went out over TLS come back over TLS, from the same certificate.
    if (connection.secure() != m_peer.secure ||
        (m_peer.secure && connection.clientFingerprint() != m_peer.fingerprint)) {
        return {403};
    }
    File& file = m_files[std::size_t(index)];
    const bool bodyless = !request.chunked && request.contentLength <= 0;
    if (file.state == FileState::Done && file.offered.size == 0 && bodyless) {
        return {200};
    }
    if (file.state != FileState::Waiting) {
        return {409};
    }
    int uploading = 0;
    for (const File& other : m_files) {
        uploading += other.state == FileState::Receiving ? 1 : 0;
    }
    if (uploading >= kMostUploads) {
        return {409};
    }
    const qint64 length = request.chunked ? -1 : qMax<qint64>(0, request.contentLength);
    if (length >= 0 && length != file.offered.size) {
        fileFailed(index, End::Corrupted);  // the size announced was not the size sent
        return {400};
    }
    entries::UniqueFd fd;
    if (!openFile(index, fd)) {
        return {500};
    }
    auto* sink = new UploadSink(std::move(fd), QFile::encodeName(absolutePath(file)));
    auto* upload = new Upload(*this, index, file.offered.size, file.offered.sha256, sink);
    file.state = FileState::Receiving;
    file.upload = upload;
    m_idle.stop();
    return {0, upload};
}

bool Session::openFile(int index, entries::UniqueFd& fd) {
    File& file = m_files[std::size_t(index)];
    // A name already taken, by anything, is kept: the file goes beside it.
    const bool taken = QFileInfo(m_folder + QString::fromUtf8(file.offered.path)).exists() ||
                       QFileInfo(m_folder + QString::fromUtf8(file.offered.path)).isSymLink();
    entries::ReceiveFolder::OpenedFile opened =
        taken ? m_receiveFolder->createBeside(file.offered.path)
              : m_receiveFolder->openFile(file.offered.path);
    struct stat status {};
    if (!opened.outcome.ok() || opened.length != 0 || ::fstat(opened.fd.get(), &status) != 0) {
        fileFailed(index, End::OpenFailed);
        return false;
    }
    file.savedPath = opened.path;
    file.device = status.st_dev;
    file.inode = status.st_ino;
    fd = std::move(opened.fd);
    return true;
}

void Session::taken(int index, qint64 bytes) {
    m_files[std::size_t(index)].received += bytes;
    m_done += bytes;
    if (!m_quiet) {
        emit progress(m_done, m_offer.total);
    }
}

void Session::fileFailed(int index, End why) {
    File& file = m_files[std::size_t(index)];
    if (file.state == FileState::Failed || file.state == FileState::Done) {
        return;
    }
    file.state = FileState::Failed;
    file.upload = nullptr;
    if (!file.savedPath.isEmpty()) {
        discardFile(m_folder, file.savedPath, file.device, file.inode);
    }
    if (!m_firstFailure) {
        m_firstFailure = why;
    }
    const QPointer<Session> self(this);
    if (!m_quiet) {
        emit fileEnded(absolutePath(file), why);
    }
    if (self) {
        checkDone();
    }
}

void Session::fileDone(int index) {
    File& file = m_files[std::size_t(index)];
    file.state = FileState::Done;
    file.upload = nullptr;
    const QPointer<Session> self(this);
    if (!m_quiet) {
        emit fileEnded(absolutePath(file), End::Received);
    }
    if (self) {
        checkDone();
    }
}

void Session::checkDone() {
    if (m_phase != Phase::Receiving) {
        return;
    }
    const bool uploading = std::any_of(m_files.begin(), m_files.end(), [](const File& file) {
        return file.state == FileState::Receiving;
    });
    const bool over = std::all_of(m_files.begin(), m_files.end(), [](const File& file) {
        return file.state == FileState::Done || file.state == FileState::Failed;
    });
    if (over) {
        finish(m_firstFailure.value_or(End::Received));
    } else if (!uploading) {
        m_idle.start(onlyEmptyLeft() ? kEmptyGraceMs : kIdleMs);
    }
}

void Session::finish(End end) {
    if (m_phase == Phase::Ended) {
        return;
    }
    const bool wasAsking = m_phase == Phase::Asking;
    m_phase = Phase::Ended;
    m_idle.stop();
    if (wasAsking) {
        answerAsking(403);
    }
    // Uploads under way are broken off (their connections close) and their files removed.
    for (File& file : m_files) {
        if (file.state != FileState::Receiving) {
            continue;
        }
        file.state = FileState::Failed;
        if (Upload* upload = file.upload) {
            upload->breakOff();
        }
        file.upload = nullptr;
        discardFile(m_folder, file.savedPath, file.device, file.inode);
    }
    if (!m_quiet) {
        emit ended(end);
    }
}

}  // namespace localsend
