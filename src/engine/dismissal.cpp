#include "engine/dismissal.h"

#include <QTimer>
#include <QVariant>

#include "net/socketconnection.h"

namespace {

const char* const kDismissed = "ruvoDismissed";
constexpr int kDismissDelayMs = 500;

}  // namespace

void dismissConnection(TSocketConnection* connection, const QByteArray& notice) {
    connection->setProperty(kDismissed, true);
    connection->SendMessage(notice);
    QTimer::singleShot(kDismissDelayMs, connection,
                       [connection] { connection->CloseConnection(); });
}

bool isDismissed(const TSocketConnection* connection) {
    return connection->property(kDismissed).toBool();
}
