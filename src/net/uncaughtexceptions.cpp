#include "net/uncaughtexceptions.h"

#include <QtDebug>

namespace {

std::function<void(const QString&)>& installedHandler() {
    static std::function<void(const QString&)> handler;
    return handler;
}

QString messageOf(std::exception_ptr exception) {
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown exception");
    }
}

}  // namespace

void setUncaughtExceptionHandler(std::function<void(const QString& message)> handler) {
    installedHandler() = std::move(handler);
}

void reportUncaughtException(std::exception_ptr exception) {
    if (!exception)
        return;
    const QString message = messageOf(exception);
    // A copy, so that a handler may replace itself while it runs.
    const auto handler = installedHandler();
    if (handler) {
        try {
            handler(message);
            return;
        } catch (...) {
            // A failing handler must not take the event loop down; fall back to the log.
        }
    }
    qWarning().noquote() << message;
}
