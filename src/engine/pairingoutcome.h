#pragma once

// How a pairing ended, at either end. Only Paired leaves the other computer trusted.
enum class PairingOutcome {
    Paired,         // both users confirmed the code: each end now trusts the other
    Refused,        // our user said the codes differ (or cancelled)
    RefusedByPeer,  // the other user did
    Busy,           // the other computer serves a transfer or another pairing
    NotOffered,     // the other computer takes no pairing now (nobody there to answer)
    NoLane,         // nothing answered on the lane's port
    BadAddress,     // the address could not be used
    TimedOut,       // nobody answered within the time allowed
    Broken,         // the connection failed or the peer broke the exchange
    TrustNotSaved,  // both confirmed, but the trusted computers' file could not be changed
};
