#include "identity/pinstore.h"

#include "identity/fingerprint.h"
#include "identity/jsonfile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>

namespace {

const QString kAddress = QStringLiteral("address");
const QString kFingerprint = QStringLiteral("fingerprint");
const QString kSeen = QStringLiteral("seen");

bool fromJson(const QJsonArray& array, QList<PinStore::Pin>* list) {
    list->clear();
    for (const QJsonValue& value : array) {
        const QJsonObject object = value.toObject();
        PinStore::Pin pin{object.value(kAddress).toString(),
                          fingerprint::normalized(object.value(kFingerprint).toString()),
                          QDateTime::fromString(object.value(kSeen).toString(), Qt::ISODate)};
        if (!value.isObject() || pin.address.isEmpty() || pin.fingerprint.isEmpty() ||
            !pin.seen.isValid()) {
            return false;
        }
        list->append(pin);
    }
    return true;
}

QJsonArray toJson(const QList<PinStore::Pin>& list) {
    QJsonArray array;
    for (const PinStore::Pin& pin : list) {
        array.append(QJsonObject{{kAddress, pin.address},
                                 {kFingerprint, pin.fingerprint},
                                 {kSeen, pin.seen.toUTC().toString(Qt::ISODate)}});
    }
    return array;
}

}  // namespace

PinStore::PinStore(const QString& folder)
    : m_path(QDir(folder).filePath(QString::fromLatin1(kFileName))) {}

QString PinStore::key(const QString& address) {
    return address.trimmed().toLower();
}

bool PinStore::load(QString* error) {
    QJsonArray array;
    if (!jsonfile::readArray(m_path, &array, error)) {
        return false;
    }
    QList<Pin> list;
    if (!fromJson(array, &list)) {
        *error = QStringLiteral("%1 esta dañado").arg(m_path);
        return false;
    }
    m_list = list;
    return true;
}

QString PinStore::pinned(const QString& address) const {
    const QString wanted = key(address);
    for (const Pin& pin : m_list) {
        if (pin.address == wanted) {
            return pin.fingerprint;
        }
    }
    return {};
}

PinStore::Verdict PinStore::check(const QString& address, const QString& typed) const {
    const QString known = pinned(address);
    if (known.isEmpty()) {
        return Verdict::New;
    }
    return known == fingerprint::normalized(typed) ? Verdict::Same : Verdict::Changed;
}

bool PinStore::change(const std::function<bool(QList<Pin>&, QString*)>& edit, QString* error) {
    QJsonArray written;
    const bool ok = jsonfile::update(
        m_path,
        [&](QJsonArray& array, QString* why) {
            QList<Pin> list;
            if (!fromJson(array, &list)) {
                *why = QStringLiteral("%1 esta dañado").arg(m_path);
                return false;
            }
            m_list = list;  // the file as it is now, whatever happens next
            if (!edit(list, why)) {
                return false;
            }
            array = toJson(list);
            return true;
        },
        &written, error);
    return ok && fromJson(written, &m_list);
}

bool PinStore::remember(const QString& address, const QString& typed, QString* error,
                        const QDateTime& when) {
    const QString wanted = fingerprint::normalized(typed);
    const QString where = key(address);
    if (wanted.isEmpty() || where.isEmpty()) {
        *error = QStringLiteral("Huella no valida: %1").arg(typed);
        return false;
    }
    return change(
        [&](QList<Pin>& list, QString*) {
            list.removeIf([&](const Pin& pin) { return pin.address == where; });
            list.append({where, wanted, when.toUTC()});
            return true;
        },
        error);
}

bool PinStore::forget(const QString& address, QString* error) {
    const QString where = key(address);
    return change(
        [&](QList<Pin>& list, QString* why) {
            if (list.removeIf([&](const Pin& pin) { return pin.address == where; }) == 0) {
                *why = QStringLiteral("No hay identidad recordada para %1").arg(address);
                return false;
            }
            return true;
        },
        error);
}
