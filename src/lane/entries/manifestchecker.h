#pragma once

#include "lane/entries/manifest.h"

#include <QHash>
#include <QString>

#include <utility>
#include <vector>

namespace entries {

// Takes in the entries of a manifest one by one and refuses the first that breaks a rule,
// alone or together with those taken before it. The receiver runs every entry of a peer's
// list through it; the sender runs the entries it collects, so that it never offers a list
// the receiver would refuse.
//
// Paths are kept as a tree of components, each compared in Unicode normal form C, so that
// the cost stays linear in the size of the list however deep its paths are.
class ManifestChecker {
public:
    ManifestChecker();

    // None when `entry` is taken in; otherwise the checker is as it was before the call.
    ManifestError add(const Entry& entry);

    qsizetype count() const { return m_count; }
    qint64 total() const { return m_total; }

private:
    struct Node {
        QByteArray name;  // the component as it came, to tell a twin from the same name
        bool file = false;
        bool listed = false;  // a folder listed as an entry, not only a parent of one
    };

    ManifestError insert(const std::vector<QByteArrayView>& components, EntryKind kind);

    std::vector<Node> m_nodes;  // the first is the receive folder
    QHash<std::pair<quint32, QString>, quint32> m_children;
    qsizetype m_count = 0;
    qint64 m_total = 0;
};

// The components of a relative path, or nothing when the path breaks a rule of its own:
// empty, longer than kMaxPathBytes, more than kMaxDepth components (TooDeep), or one
// component that is not a safe file name (BadPath), which covers a leading or doubled "/",
// ".", ".." and every dot-leading name.
ManifestError splitPath(QByteArrayView path, std::vector<QByteArrayView>& components);

}  // namespace entries
