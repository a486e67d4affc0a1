#include "localsend/discardfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lane/entries/uniquefd.h"

namespace localsend {

bool discardFile(const QString& root, const QByteArray& relativePath, dev_t device, ino_t inode) {
    entries::UniqueFd folder(
        ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const QList<QByteArray> components = relativePath.split('/');
    for (qsizetype i = 0; folder.valid() && i + 1 < components.size(); ++i) {
        folder.reset(::openat(folder.get(), components[i].constData(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!folder.valid() || components.isEmpty()) {
        return false;
    }
    const QByteArray& name = components.back();
    struct stat status {};
    if (::fstatat(folder.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode) || status.st_dev != device || status.st_ino != inode) {
        return false;
    }
    return ::unlinkat(folder.get(), name.constData(), 0) == 0;
}

}  // namespace localsend
