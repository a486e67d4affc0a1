#pragma once

#include <QString>

#include <exception>
#include <functional>

// Exceptions that escape an event handler run from the event loop (socket notifications,
// lookup results, posted work) end here instead of unwinding through Qt. The application
// installs a handler that shows the message; without one the message goes to qWarning.
void setUncaughtExceptionHandler(std::function<void(const QString& message)> handler);
void reportUncaughtException(std::exception_ptr exception);
