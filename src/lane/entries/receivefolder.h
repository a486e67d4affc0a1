#pragma once

#include "lane/entries/manifest.h"
#include "lane/entries/uniquefd.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace entries {

// The receive folder as the receiver of several entries writes into it. Every path is
// walked component by component from a descriptor of the receive folder (openat, mkdirat):
// a component that exists as a link is refused, never followed, and no link is ever
// created, so nothing lands outside the receive folder whatever is already in it. Names are
// stored in Unicode normal form C: a path given in another form names the same file, and
// every path reported back is the stored one.
class ReceiveFolder {
public:
    enum class Failure {
        None,
        BadPath,    // not a path a manifest may hold
        Link,       // a component exists as a symbolic link
        NotFolder,  // a component that should be a folder exists as something else
        NotFile,    // the file's name is taken by something other than a plain file
        Locked,     // another writer holds the file
        NoName,     // no free name "name (n).ext" was found
        System,     // see `systemError`
    };
    struct Outcome {
        Failure failure = Failure::None;
        int systemError = 0;  // errno, when there was one
        QByteArray path;      // the path (relative) the failure is about
        bool ok() const { return failure == Failure::None; }
    };
    struct OpenedFile {
        UniqueFd fd;      // open for reading and writing, locked (flock), blocking
        QByteArray path;  // the path actually opened, relative, in normal form C
        qint64 length = 0;
        Outcome outcome;
    };

    // The receive folder itself may be a link: the user chose it.
    explicit ReceiveFolder(const QString& path);

    bool isOpen() const { return m_root.valid(); }
    int openError() const { return m_openError; }

    // What stands at a file's path, its folders made on the way: nothing (length -1), a plain
    // file of that length, or something that may not be written (a failure: a link, a
    // folder, a FIFO...).
    struct Probe {
        qint64 length = -1;
        Outcome outcome;
    };
    Probe probe(QByteArrayView path);
    // Creates the folders of the manifest, listed ones and parents of files, in its order;
    // stops at the first that cannot be made.
    Outcome makeFolders(const Manifest& manifest);
    // Opens the file at `path` to write, creating it (and missing folders) when absent; an
    // existing file is kept as it is, so its length is what a resume starts from.
    OpenedFile openFile(QByteArrayView path);
    // Creates a new file beside `path`, as "name (1).ext", "name (2).ext", ...: the first
    // name that is free. For a file whose existing namesake is kept.
    OpenedFile createBeside(QByteArrayView path);
    // Sets the modification times of received entries, each at the path it was written to
    // (a file put beside its namesake at that name): files first, then folders from the
    // deepest, since writing into a folder changes its time. Links are never touched.
    // Stops at the first failure.
    Outcome setTimes(const std::vector<Entry>& received);

private:
    // The folder at the first `depth` components of `components`, created when `create`.
    UniqueFd openFolder(const std::vector<QByteArray>& components, std::size_t depth, bool create,
                        Outcome& outcome);
    OpenedFile open(QByteArrayView path, bool beside);

    UniqueFd m_root;
    int m_openError = 0;
};

}  // namespace entries
