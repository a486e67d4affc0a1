#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>

#include <optional>
#include <utility>

// The head of an HTTP/1.1 request as the LocalSend server reads it: a pure function of the
// bytes received so far, so that a table of byte strings tests it. Small and strict: what a
// LocalSend sender sends fits easily within the bounds, and anything ambiguous (two lengths,
// a length beside chunked coding, folded header lines) is refused rather than guessed at.
namespace localsend {

struct HttpLimits {
    qsizetype maxRequestLine = 8 * 1024;
    qsizetype maxHead = 16 * 1024;  // request line and header lines together
    int maxHeaders = 64;
};

struct HttpRequest {
    QByteArray method;
    QByteArray path;  // the target up to "?", as sent
    // Name and value of each query parameter, percent-decoded ("+" is a space).
    QList<std::pair<QByteArray, QByteArray>> query;
    // Header names in lower case, values with surrounding blanks removed.
    QList<std::pair<QByteArray, QByteArray>> headers;
    qint64 contentLength = -1;  // -1 when the request gives none
    bool chunked = false;       // the body comes in chunked transfer coding
    bool keepAlive = true;      // the connection may carry another request after this one
    bool expectContinue = false;

    // The first value of a query parameter, or nothing.
    std::optional<QByteArray> queryValue(QByteArrayView name) const;
    std::optional<QByteArray> header(QByteArrayView lowerName) const;
};

struct HttpHead {
    enum class Status { Incomplete, Complete, Bad };
    Status status = Status::Incomplete;
    // For Bad: the status code to answer with (400, 414, 417, 431, 501, 505).
    int errorCode = 0;
    // For Complete: the bytes of the head, its final empty line included.
    qsizetype consumed = 0;
    HttpRequest request;
};

// Reads the head at the start of `bytes`. Incomplete while its end has not arrived and the
// bounds still hold.
HttpHead parseHttpHead(QByteArrayView bytes, const HttpLimits& limits = {});

// "%41+b" -> "A b".
QByteArray decodeQueryComponent(QByteArrayView text);

}  // namespace localsend
