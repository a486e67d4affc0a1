#include "engine/peerinput.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

bool AnswerBacklog::exceeded(TSocketConnection* socket) {
    if (socket->OutboxByteCount() > kMaxUnreadBytes) {
        return true;
    }
    if (++m_sinceKernelCheck < kKernelCheckInterval) {
        return false;
    }
    m_sinceKernelCheck = 0;
    // What the kernel holds counts too (not yet sent, or sent and not acknowledged): on
    // loopback it takes megabytes before anything stays in our own queue.
    int inKernel = 0;
    if (socket->SocketHandle() == -1 || ::ioctl(socket->SocketHandle(), SIOCOUTQ, &inKernel) != 0) {
        inKernel = 0;
    }
    return socket->OutboxByteCount() + inKernel > kMaxUnreadBytes;
}
