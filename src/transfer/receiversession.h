#pragma once

#include <QtGlobal>

#include <optional>

// What the receiving side has agreed to with the peer on its served connection, and so
// which of that peer's messages may act. It only decides; the window does the work.
//
// A peer may write only where the user agreed: a block is taken only after the user
// accepted the offer, only in answer to the one request outstanding, and never past the
// offered size. At most one request is outstanding at a time, so no block travels twice.
class ReceiverSession {
public:
    // A new served connection: nothing offered, nothing accepted, nothing asked.
    void reset();

    // An offer arrived. False when it must be refused: a second offer after the user
    // accepted the first. Before acceptance a new offer replaces the old one.
    bool takeOffer(qint64 size);
    bool hasOffer() const { return m_offeredSize.has_value(); }
    qint64 offeredSize() const { return m_offeredSize.value_or(0); }

    // The user accepted the current offer.
    void accept();
    bool isAccepted() const { return m_accepted; }

    // A request may go out only when none is outstanding: the answer to the outstanding
    // one brings the next request by itself.
    bool mayRequest() const { return m_accepted && !m_outstanding; }
    void requestSent(qint64 index);
    std::optional<qint64> outstanding() const { return m_outstanding; }

    struct BlockVerdict {
        bool allowed = false;
        qint64 writeCount = 0;  // the bytes to write, cut at the offered size
    };
    // A block arrived. Refused when nothing was asked for, when it is not the block asked
    // for, or when it is empty although the offered size says bytes are due there (the
    // sender's file shrank, and asking again would never end).
    BlockVerdict takeBlock(qint64 index, qint64 count);

    // The sender paused in answer to our request. False before the user accepted and when no
    // request is outstanding.
    bool takePause();
    // The sender resumed. False unless the sender had paused: a resume ends only the
    // sender's own pause.
    bool takeResume();
    bool peerPaused() const { return m_peerPaused; }

private:
    std::optional<qint64> m_offeredSize;
    std::optional<qint64> m_outstanding;
    bool m_accepted = false;
    bool m_peerPaused = false;
};
