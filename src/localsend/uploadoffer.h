#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

#include "localsend/deviceinfo.h"

// The body of a prepare-upload request: who sends, and the files it offers. Read by a pure
// function, with every rule a receiver holds a sender to checked before anything is shown
// to the user or written.
namespace localsend {

// A body larger than this is refused before it is read (413).
constexpr qsizetype kMaxOfferBytes = 4 * 1024 * 1024;
// Files in one offer.
constexpr qsizetype kMaxOfferFiles = 10000;

struct OfferedFile {
    QString id;
    // "fileName": a relative path, components joined by "/", UTF-8 as sent. It passed the
    // rules of a list of entries (entries::ManifestChecker): no "..", no absolute path, no
    // hidden or unsafe component, no twins.
    QByteArray path;
    qint64 size = 0;
    QString fileType;
    QByteArray sha256;  // 64 lower-case hex digits, or empty when the sender gave none
};

struct UploadOffer {
    DeviceInfo sender;
    std::vector<OfferedFile> files;  // in the order of their ids
    qint64 total = 0;
};

struct ParsedOffer {
    std::optional<UploadOffer> offer;
    // Without an offer, the answer: 400 (a body that is not an offer, or a path or size
    // that breaks a rule), 413 (too many files) or 204 (no file at all).
    int status = 0;
    QString problem;  // for the log and the tests, in English
};

ParsedOffer parseUploadOffer(QByteArrayView body);

}  // namespace localsend
