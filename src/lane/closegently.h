#pragma once

class QTcpSocket;

// Closes a connection without losing what was last written to it. The socket is taken
// over: what is still queued goes out, the sending side is shut (the peer reads an orderly
// end), and whatever the peer still sends is read and dropped until it closes too, or for
// `lingerMs` at most. A plain close with unread bytes in the kernel would reset the
// connection, and the reset makes the peer's kernel drop the last frame before the peer
// reads it: a "busy" or a result would be lost exactly when the peer talks at the same time.
void closeGently(QTcpSocket* socket, int lingerMs = 2000);
