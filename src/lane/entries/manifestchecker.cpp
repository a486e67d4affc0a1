#include "lane/entries/manifestchecker.h"

#include "lane/offeredname.h"

#include <limits>

namespace entries {

ManifestError splitPath(QByteArrayView path, std::vector<QByteArrayView>& components) {
    components.clear();
    if (path.isEmpty() || path.size() > kMaxPathBytes) {
        return ManifestError::BadPath;
    }
    qsizetype start = 0;
    while (true) {
        const qsizetype slash = path.indexOf('/', start);
        const qsizetype end = slash < 0 ? path.size() : slash;
        if (int(components.size()) == kMaxDepth) {
            return ManifestError::TooDeep;
        }
        const QByteArrayView component = path.sliced(start, end - start);
        // The one rule for a file name of the lane, so that a name refused alone is refused
        // inside a folder too. An empty component (a leading, doubled or final "/") and every
        // name starting with "." (".", "..") fail it.
        if (!offeredFileName(component)) {
            return ManifestError::BadPath;
        }
        components.push_back(component);
        if (slash < 0) {
            return ManifestError::None;
        }
        start = slash + 1;
    }
}

ManifestChecker::ManifestChecker() : m_nodes(1) {}

ManifestError ManifestChecker::add(const Entry& entry) {
    if (m_count >= kMaxEntries) {
        return ManifestError::TooManyEntries;
    }
    if (entry.kind != EntryKind::File && entry.kind != EntryKind::Folder) {
        return ManifestError::BadKind;
    }
    if (entry.kind == EntryKind::Folder && entry.size != 0) {
        return ManifestError::BadKind;
    }
    if (entry.modifiedNs < 0) {
        return ManifestError::BadTime;
    }
    std::vector<QByteArrayView> components;
    if (const ManifestError error = splitPath(entry.path, components);
        error != ManifestError::None) {
        return error;
    }
    if (entry.size < 0 || entry.size > std::numeric_limits<qint64>::max() - m_total) {
        return ManifestError::TooLarge;
    }
    if (const ManifestError error = insert(components, entry.kind); error != ManifestError::None) {
        return error;
    }
    ++m_count;
    m_total += entry.size;
    return ManifestError::None;
}

ManifestError ManifestChecker::insert(const std::vector<QByteArrayView>& components,
                                      EntryKind kind) {
    // A refusal can only come from a component that is already in the tree, and every
    // component after a new one is new too: so nothing is added before a refusal.
    quint32 at = 0;
    for (std::size_t i = 0; i < components.size(); ++i) {
        const bool last = i + 1 == components.size();
        const QString name =
            QString::fromUtf8(components[i]).normalized(QString::NormalizationForm_C);
        const auto key = std::make_pair(at, name);
        const auto found = m_children.constFind(key);
        if (found == m_children.cend()) {
            const auto index = quint32(m_nodes.size());
            Node node;
            node.name = components[i].toByteArray();
            node.file = last && kind == EntryKind::File;
            node.listed = last && kind == EntryKind::Folder;
            m_nodes.push_back(std::move(node));
            m_children.insert(key, index);
            at = index;
            continue;
        }
        Node& node = m_nodes[*found];
        if (node.name != components[i]) {
            return ManifestError::UnicodeTwin;
        }
        if (!last) {
            if (node.file) {
                return ManifestError::FileFolderClash;
            }
            at = *found;
            continue;
        }
        if (node.file != (kind == EntryKind::File)) {
            return ManifestError::FileFolderClash;
        }
        if (node.file || node.listed) {
            return ManifestError::Duplicate;
        }
        node.listed = true;  // a folder known as a parent, now listed itself
    }
    return ManifestError::None;
}

}  // namespace entries
