#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace localsend {

// A whole response: status line, Content-Type and Content-Length (none for 204), and
// "Connection: close" when the server closes after it.
QByteArray httpResponse(int status, QByteArrayView body = {}, bool close = false);
// The interim answer to "Expect: 100-continue".
QByteArray httpContinue();
const char* reasonPhrase(int status);

}  // namespace localsend
