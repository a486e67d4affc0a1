#pragma once

#include <QtGlobal>

#include <algorithm>

#include "net/socketconnection.h"

// A block message is 2064 bytes at most; a slice holds several, a flood is cut into many.
inline constexpr qsizetype kInputSlice = 16 * 1024;

// Reads a peer's input straight into its framing, at most kInputSlice bytes per read event:
// a flood is handled in slices (the rest is reported again at once), so the program handles
// its other events in between.
template <typename Input>
void takeInputSlice(TSocketConnection* socket, Input& input) {
    const qsizetype count = std::clamp<qsizetype>(socket->PendingByteCount(), 0, kInputSlice);
    // Also with nothing pending: the receive call re-arms the read notification.
    const qsizetype n = socket->ReceiveBytes(input.appendSpace(count), count);
    input.commitAppend(std::max<qsizetype>(n, 0));
}

class AnswerBacklog;

// Handles the messages of one read event: reads a slice, then takes each complete message
// once, in order, while `stillServed()` holds (a message may end the connection), leaving a
// message cut short by the read for the next event. A peer that leaves too many answers
// unread is closed.
template <typename Input, typename StillServed, typename Dispatch>
void handleReadEvent(TSocketConnection* socket, Input& input, AnswerBacklog& backlog,
                     StillServed stillServed, Dispatch dispatch);

// Whether a peer leaves more than kMaxUnreadBytes of our answers unread (queued by us or by
// the kernel). The protocol has one message in flight, so a peer that asks for more
// meanwhile is no peer of it: its requests would pile up answers without bound. Our own
// queue is looked at for every message, the kernel's (a system call) every
// kKernelCheckInterval messages, which still stops a flood within a few blocks.
class AnswerBacklog {
public:
    static constexpr qint64 kMaxUnreadBytes = 256 * 1024;
    static constexpr int kKernelCheckInterval = 16;

    bool exceeded(TSocketConnection* socket);

private:
    int m_sinceKernelCheck = 0;
};

template <typename Input, typename StillServed, typename Dispatch>
void handleReadEvent(TSocketConnection* socket, Input& input, AnswerBacklog& backlog,
                     StillServed stillServed, Dispatch dispatch) {
    takeInputSlice(socket, input);
    while (stillServed()) {
        const typename Input::Message message = input.next();
        if (message.kind == Input::Kind::NeedMore) {
            break;
        }
        if (backlog.exceeded(socket)) {
            socket->CloseConnection();
            break;
        }
        dispatch(message);
    }
}
