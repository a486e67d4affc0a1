#include "transfer/receiversession.h"

#include "transfer/protocol.h"

void ReceiverSession::reset() {
    *this = ReceiverSession();
}

bool ReceiverSession::takeOffer(qint64 size) {
    if (m_accepted) {
        return false;
    }
    m_offeredSize = size;
    return true;
}

void ReceiverSession::accept() {
    m_accepted = m_offeredSize.has_value();
}

void ReceiverSession::requestSent(qint64 index) {
    m_outstanding = index;
}

ReceiverSession::BlockVerdict ReceiverSession::takeBlock(qint64 index, qint64 count) {
    if (!m_accepted || m_outstanding != index || count < 0 || count > kBlockSize) {
        return {};
    }
    m_outstanding.reset();
    const qint64 size = offeredSize();
    const qint64 offset = index * kBlockSize;  // index was ours, derived from a length
    if (count == 0 && offset < size) {
        return {};
    }
    return {true, qBound<qint64>(0, size - offset, count)};
}

bool ReceiverSession::takePause() {
    // A sender pauses only in answer to a request: any other pause is no message of the
    // protocol (and a stream of them would keep the window busy for nothing).
    if (!m_accepted || !m_outstanding) {
        return false;
    }
    m_outstanding.reset();
    m_peerPaused = true;
    return true;
}

bool ReceiverSession::takeResume() {
    if (!m_accepted || !m_peerPaused) {
        return false;
    }
    m_peerPaused = false;
    return true;
}
