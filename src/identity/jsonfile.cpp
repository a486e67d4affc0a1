#include "identity/jsonfile.h"

#include "identity/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>

namespace jsonfile {

namespace {

// The lists are not secret, but nobody else has any business changing them.
constexpr unsigned kListFileMode = 0600;

// Exclusive lock on the folder that holds the file, released when it goes out of scope.
class FolderLock {
public:
    explicit FolderLock(const QString& folder) {
        QDir().mkpath(folder);
        m_fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_fd = -1;
};

}  // namespace

bool readArray(const QString& path, QJsonArray* array, QString* error) {
    QFile file(path);
    if (!file.exists()) {
        *array = {};
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray()) {
        *error = QStringLiteral("%1 esta dañado").arg(path);
        return false;
    }
    *array = document.array();
    return true;
}

bool update(const QString& path, const std::function<bool(QJsonArray&, QString*)>& change,
            QJsonArray* result, QString* error) {
    FolderLock lock(QFileInfo(path).absolutePath());
    QJsonArray array;
    if (!readArray(path, &array, error)) {
        return false;
    }
    if (!change(array, error)) {
        *result = array;
        return false;
    }
    QString why;
    if (!writeFileAtomically(path, QJsonDocument(array).toJson(QJsonDocument::Indented),
                             kListFileMode, &why)) {
        *error = QStringLiteral("No se pudo guardar %1: %2").arg(path, why);
        return false;
    }
    *result = array;
    return true;
}

}  // namespace jsonfile
