#include "localsend/httpresponse.h"

namespace localsend {

const char* reasonPhrase(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 409:
            return "Conflict";
        case 411:
            return "Length Required";
        case 413:
            return "Content Too Large";
        case 414:
            return "URI Too Long";
        case 417:
            return "Expectation Failed";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 501:
            return "Not Implemented";
        case 505:
            return "HTTP Version Not Supported";
        default:
            break;
    }
    return status < 500 ? "Bad Request" : "Internal Server Error";
}

QByteArray httpResponse(int status, QByteArrayView body, bool close) {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (status != 204) {
        if (!body.isEmpty()) {
            out += "Content-Type: application/json\r\n";
        }
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    if (close) {
        out += "Connection: close\r\n";
    }
    out += "\r\n";
    if (status != 204) {
        out += body;
    }
    return out;
}

QByteArray httpContinue() {
    return QByteArrayLiteral("HTTP/1.1 100 Continue\r\n\r\n");
}

}  // namespace localsend
