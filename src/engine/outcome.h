#pragma once

// How a transfer ended, as the roles report it to their views. The views give the words.
enum class Outcome {
    Sent,             // the receiver has the whole file
    Received,         // the whole file is here (and checked, where the carrier can)
    Declined,         // the receiver said no to the offer (or we did)
    Cancelled,        // we (the user, or a signal) ended it
    CancelledByPeer,  // the peer ended it
    PeerLeft,         // the peer closed without a verdict (also an extra peer dismissed)
    Busy,             // the receiver serves someone else
    ConnectionError,  // a socket error, or a peer that broke the protocol
    BadAddress,       // the address could not be used or its name not resolved
    CannotOpen,       // the file could not be opened
    CannotRead,       // the file to send could not be read where bytes were due
    CannotWrite,      // a block could not be written although the disk has room
    BadName,          // the offered name could not be a file name in the receive folder
    PartialDiffers,   // the receiver's partial file is not the start of this file
    Corrupted,        // the file's hash did not match at the end
    Incomplete,       // an offer of several entries ended with some of them missing or wrong
    NeedsLane,        // a folder or a text for a peer that takes one file per offer
    // Sending side, over the lane: nothing was offered.
    IdentityChanged,  // another identity answered at an address that had one remembered
    LaneUnanswered,   // a computer known by its identity did not answer on the lane, and
                      // the classic port (unencrypted) was not to be used without asking
};

// How one file of an offer of several files ended.
enum class FileVerdict {
    Arrived,       // written whole and its hash matches
    AlreadyThere,  // the receiver held it whole: not sent again
    Mismatch,      // its hash (or its size) did not match (changed while sent, a disk fault)
    WriteFailed,   // the receiver could not write it
    NotCreated,    // its name is held by a link, a folder or something not to write
    Unreadable,    // the sender could not read it (gone, shorter than listed)
    Interrupted,   // its bytes stopped coming before it was whole (LocalSend)
};
