#pragma once

#include <QByteArray>

class TSocketConnection;

// A classic peer that is told to go gets its notice and, 500 ms later, an orderly close; the
// program goes on meanwhile. A dismissed connection is never served and is not counted as
// open.
void dismissConnection(TSocketConnection* connection, const QByteArray& notice);
bool isDismissed(const TSocketConnection* connection);
