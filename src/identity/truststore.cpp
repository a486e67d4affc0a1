#include "identity/truststore.h"

#include "identity/fingerprint.h"
#include "identity/jsonfile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>

namespace {

const QString kFingerprint = QStringLiteral("fingerprint");
const QString kName = QStringLiteral("name");
const QString kAdded = QStringLiteral("added");

bool fromJson(const QJsonArray& array, QList<TrustedComputer>* list) {
    list->clear();
    for (const QJsonValue& value : array) {
        const QJsonObject object = value.toObject();
        TrustedComputer entry{fingerprint::normalized(object.value(kFingerprint).toString()),
                              object.value(kName).toString(),
                              QDateTime::fromString(object.value(kAdded).toString(), Qt::ISODate)};
        if (!value.isObject() || entry.fingerprint.isEmpty() || !object.value(kName).isString() ||
            !entry.added.isValid()) {
            return false;
        }
        list->append(entry);
    }
    return true;
}

QJsonArray toJson(const QList<TrustedComputer>& list) {
    QJsonArray array;
    for (const TrustedComputer& entry : list) {
        array.append(QJsonObject{{kFingerprint, entry.fingerprint},
                                 {kName, entry.name},
                                 {kAdded, entry.added.toUTC().toString(Qt::ISODate)}});
    }
    return array;
}

QString damaged(const QString& path) {
    return QStringLiteral("%1 esta dañado").arg(path);
}

}  // namespace

TrustStore::TrustStore(const QString& folder)
    : m_path(QDir(folder).filePath(QString::fromLatin1(kFileName))) {}

bool TrustStore::load(QString* error) {
    QJsonArray array;
    if (!jsonfile::readArray(m_path, &array, error)) {
        return false;
    }
    QList<TrustedComputer> list;
    if (!fromJson(array, &list)) {
        *error = damaged(m_path);
        return false;
    }
    m_list = list;
    return true;
}

const TrustedComputer* TrustStore::find(const QString& typed) const {
    const QString wanted = fingerprint::normalized(typed);
    for (const TrustedComputer& entry : m_list) {
        if (!wanted.isEmpty() && entry.fingerprint == wanted) {
            return &entry;
        }
    }
    return nullptr;
}

// Reads the list as it is in the file now, lets `change` alter it (false with a reason
// refuses), writes it back and keeps what was written.
bool TrustStore::modify(const std::function<bool(QList<TrustedComputer>&, QString*)>& change,
                        QString* error) {
    QJsonArray written;
    const bool ok = jsonfile::update(
        m_path,
        [&](QJsonArray& array, QString* why) {
            QList<TrustedComputer> list;
            if (!fromJson(array, &list)) {
                *why = damaged(m_path);
                return false;
            }
            m_list = list;  // the file as it is now, whatever happens next
            if (!change(list, why)) {
                return false;
            }
            array = toJson(list);
            return true;
        },
        &written, error);
    return ok && fromJson(written, &m_list);
}

bool TrustStore::add(const QString& typed, const QString& name, QString* error,
                     const QDateTime& when) {
    const QString wanted = fingerprint::normalized(typed);
    if (wanted.isEmpty()) {
        *error = QStringLiteral("Huella no valida: %1").arg(typed);
        return false;
    }
    return modify(
        [&](QList<TrustedComputer>& list, QString*) {
            auto it = std::find_if(list.begin(), list.end(), [&](const TrustedComputer& entry) {
                return entry.fingerprint == wanted;
            });
            if (it != list.end()) {
                it->name = name;
            } else {
                list.append({wanted, name, when.toUTC()});
            }
            return true;
        },
        error);
}

bool TrustStore::remove(const QString& typed, QString* error) {
    const QString wanted = fingerprint::normalized(typed);
    return modify(
        [&](QList<TrustedComputer>& list, QString* why) {
            const qsizetype removed = list.removeIf(
                [&](const TrustedComputer& entry) { return entry.fingerprint == wanted; });
            if (wanted.isEmpty() || removed == 0) {
                *why = QStringLiteral("%1 no esta entre los equipos de confianza").arg(typed);
                return false;
            }
            return true;
        },
        error);
}
