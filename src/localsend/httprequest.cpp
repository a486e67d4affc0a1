#include "localsend/httprequest.h"

namespace localsend {

namespace {

using Status = HttpHead::Status;

HttpHead bad(int code) {
    HttpHead head;
    head.status = Status::Bad;
    head.errorCode = code;
    return head;
}

// RFC 9110 token characters: a method and a header name.
bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text) {
    if (text.isEmpty()) {
        return false;
    }
    for (const char c : text) {
        if (!isTokenChar(c)) {
            return false;
        }
    }
    return true;
}

// A header value may hold visible characters, blanks and bytes above 0x7F (obsolete text),
// never another control character.
bool isFieldValue(QByteArrayView value) {
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F) {
            return false;
        }
    }
    return true;
}

// The request target in origin form: "/" then visible ASCII.
bool isOriginTarget(QByteArrayView target) {
    if (!target.startsWith('/')) {
        return false;
    }
    for (const char c : target) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) {
            return false;
        }
    }
    return true;
}

QByteArrayView trimmed(QByteArrayView text) {
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t')) {
        text = text.sliced(1);
    }
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t')) {
        text.chop(1);
    }
    return text;
}

// The next line from `at`: its text without CR LF (or a bare LF, which RFC 9112 lets a
// recipient accept), and where the line after it starts; -1 when its end has not come.
qsizetype lineEnd(QByteArrayView bytes, qsizetype at, QByteArrayView& line) {
    const qsizetype lf = bytes.indexOf('\n', at);
    if (lf < 0) {
        return -1;
    }
    qsizetype end = lf;
    if (end > at && bytes[end - 1] == '\r') {
        --end;
    }
    line = bytes.sliced(at, end - at);
    return lf + 1;
}

std::optional<qint64> parseLength(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 18) {
        return std::nullopt;
    }
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

bool hasToken(QByteArrayView list, QByteArrayView token) {
    for (const QByteArray& item : list.toByteArray().split(',')) {
        if (trimmed(item).compare(token, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

void parseQuery(QByteArrayView text, QList<std::pair<QByteArray, QByteArray>>& query) {
    for (const QByteArray& item : text.toByteArray().split('&')) {
        if (item.isEmpty()) {
            continue;
        }
        const qsizetype equals = item.indexOf('=');
        if (equals < 0) {
            query.append({decodeQueryComponent(item), QByteArray()});
        } else {
            query.append({decodeQueryComponent(QByteArrayView(item).first(equals)),
                          decodeQueryComponent(QByteArrayView(item).sliced(equals + 1))});
        }
    }
}

}  // namespace

std::optional<QByteArray> HttpRequest::queryValue(QByteArrayView name) const {
    for (const auto& [key, value] : query) {
        if (key == name) {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<QByteArray> HttpRequest::header(QByteArrayView lowerName) const {
    for (const auto& [key, value] : headers) {
        if (key == lowerName) {
            return value;
        }
    }
    return std::nullopt;
}

QByteArray decodeQueryComponent(QByteArrayView text) {
    QByteArray spaced = text.toByteArray();
    spaced.replace('+', ' ');
    return QByteArray::fromPercentEncoding(spaced);
}

HttpHead parseHttpHead(QByteArrayView bytes, const HttpLimits& limits) {
    // Empty lines before a request are skipped (a client may end a body with an extra CR LF).
    qsizetype at = 0;
    while (at < bytes.size() && (bytes[at] == '\r' || bytes[at] == '\n') && at < 4) {
        ++at;
    }
    QByteArrayView line;
    qsizetype next = lineEnd(bytes, at, line);
    if (next < 0) {
        if (bytes.size() - at > limits.maxRequestLine) {
            return bad(414);
        }
        return {};
    }
    if (line.size() > limits.maxRequestLine) {
        return bad(414);
    }

    HttpHead head;
    HttpRequest& request = head.request;
    const qsizetype firstSpace = line.indexOf(' ');
    const qsizetype lastSpace = line.lastIndexOf(' ');
    if (firstSpace <= 0 || lastSpace == firstSpace) {
        return bad(400);
    }
    const QByteArrayView method = line.first(firstSpace);
    const QByteArrayView target = line.sliced(firstSpace + 1, lastSpace - firstSpace - 1);
    const QByteArrayView version = line.sliced(lastSpace + 1);
    if (!isToken(method) || !isOriginTarget(target)) {
        return bad(400);
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        return version.startsWith("HTTP/") ? bad(505) : bad(400);
    }
    const bool http10 = version == "HTTP/1.0";
    request.keepAlive = !http10;
    request.method = method.toByteArray();
    const qsizetype question = target.indexOf('?');
    request.path = (question < 0 ? target : target.first(question)).toByteArray();
    if (question >= 0) {
        parseQuery(target.sliced(question + 1), request.query);
    }

    bool sawLength = false;
    bool sawCoding = false;
    while (true) {
        if (next - at > limits.maxHead) {
            return bad(431);
        }
        const qsizetype lineStart = next;
        next = lineEnd(bytes, lineStart, line);
        if (next < 0) {
            return bytes.size() - at > limits.maxHead ? bad(431) : HttpHead{};
        }
        if (next - at > limits.maxHead) {
            return bad(431);
        }
        if (line.isEmpty()) {
            break;
        }
        if (request.headers.size() >= limits.maxHeaders) {
            return bad(431);
        }
        // A line folded onto the one before is obsolete and a classic way to smuggle.
        if (line.front() == ' ' || line.front() == '\t') {
            return bad(400);
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.first(colon))) {
            return bad(400);
        }
        const QByteArrayView value = trimmed(line.sliced(colon + 1));
        if (!isFieldValue(value)) {
            return bad(400);
        }
        const QByteArray name = line.first(colon).toByteArray().toLower();
        request.headers.append({name, value.toByteArray()});
        if (name == "content-length") {
            const std::optional<qint64> length = parseLength(value);
            if (!length || (sawLength && *length != request.contentLength)) {
                return bad(400);
            }
            sawLength = true;
            request.contentLength = *length;
        } else if (name == "transfer-encoding") {
            // Only chunked coding, once: anything else cannot be read here.
            if (sawCoding || value.compare("chunked", Qt::CaseInsensitive) != 0) {
                return bad(501);
            }
            sawCoding = true;
            request.chunked = true;
        } else if (name == "connection") {
            if (hasToken(value, "close")) {
                request.keepAlive = false;
            } else if (http10 && hasToken(value, "keep-alive")) {
                request.keepAlive = true;
            }
        } else if (name == "expect") {
            if (value.compare("100-continue", Qt::CaseInsensitive) != 0) {
                return bad(417);
            }
            request.expectContinue = true;
        }
    }
    if (http10 && request.chunked) {
        return bad(400);
    }
    // Both a length and chunked coding: which one ends the body is what request smuggling
    // plays on. Refused.
    if (sawLength && sawCoding) {
        return bad(400);
    }
    head.status = Status::Complete;
    head.consumed = next;
    return head;
}

}  // namespace localsend
