// Fuzzes the list of entries a sender offers. Whatever parses must encode back to the same
// bytes, and must hold every rule when checked here again the plain way: each path a chain
// of safe names, not too deep, no two paths alike in normal form C (files and folders
// included, and every folder a path passes through), no file where a folder is, and a total
// that fits in 63 bits.

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <limits>

#include "fuzzcheck.h"
#include "lane/entries/manifest.h"
#include "lane/entries/manifestchecker.h"

namespace {

void checkComponent(QByteArrayView component) {
    FUZZ_CHECK(!component.isEmpty() && component.size() <= 255);
    FUZZ_CHECK(component[0] != '.');
    const QString name = QString::fromUtf8(component);
    FUZZ_CHECK(name.toUtf8() == component);
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        FUZZ_CHECK(u >= 0x20 && (u < 0x7F || u > 0x9F) && u != u'/' && u != u'\\');
    }
}

void checkManifestRules(const entries::Manifest& manifest) {
    using entries::EntryKind;
    FUZZ_CHECK(!manifest.entries.empty());
    FUZZ_CHECK(qsizetype(manifest.entries.size()) <= entries::kMaxEntries);
    // Every path and every folder on the way to one, by normal form, with the bytes it came
    // as and whether it is a file.
    QHash<QString, QByteArray> seenAs;
    QSet<QString> files;
    QSet<QString> folders;
    QSet<QString> listed;
    quint64 total = 0;
    for (const entries::Entry& entry : manifest.entries) {
        FUZZ_CHECK(entry.size >= 0 && entry.modifiedNs >= 0);
        FUZZ_CHECK(entry.kind == EntryKind::File || entry.size == 0);
        total += quint64(entry.size);
        FUZZ_CHECK(total <= quint64(std::numeric_limits<qint64>::max()));
        FUZZ_CHECK(!entry.path.isEmpty() && entry.path.size() <= entries::kMaxPathBytes);
        const QList<QByteArray> components = entry.path.split('/');
        FUZZ_CHECK(components.size() <= entries::kMaxDepth);
        QByteArray raw;
        for (qsizetype i = 0; i < components.size(); ++i) {
            checkComponent(components[i]);
            raw += (i > 0 ? "/" : "") + components[i];
            const QString normal = QString::fromUtf8(raw).normalized(QString::NormalizationForm_C);
            const auto seen = seenAs.constFind(normal);
            FUZZ_CHECK(seen == seenAs.cend() || *seen == raw);
            seenAs.insert(normal, raw);
            const bool last = i + 1 == components.size();
            if (!last || entry.kind == EntryKind::Folder) {
                folders.insert(normal);
            }
            if (last) {
                QSet<QString>& kind = entry.kind == EntryKind::File ? files : listed;
                FUZZ_CHECK(!kind.contains(normal));
                kind.insert(normal);
            }
        }
    }
    FUZZ_CHECK(!files.intersects(folders));
    FUZZ_CHECK(qint64(total) == manifest.total());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const entries::ParsedManifest parsed = entries::parseManifest(bytes);
    if (!parsed.manifest) {
        FUZZ_CHECK(parsed.problem.error != entries::ManifestError::None);
        return 0;
    }
    FUZZ_CHECK(parsed.problem.error == entries::ManifestError::None);
    FUZZ_CHECK(entries::encodeManifest(*parsed.manifest) == bytes);
    FUZZ_CHECK(entries::checkManifest(*parsed.manifest).error == entries::ManifestError::None);
    checkManifestRules(*parsed.manifest);
    return 0;
}
