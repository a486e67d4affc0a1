#pragma once

#include <QString>

// How a transfer ended, as both roles report it to their views.
enum class Outcome {
    None,             // closed without a verdict (the peer left, an intruder was dismissed)
    Sent,             // the receiver said it has the whole file
    Received,         // we told the sender the file is complete
    Busy,             // the receiver serves someone else
    ConnectionError,  // a socket error, or a peer that broke the protocol
    Cancelled,        // the user (or a signal) ended it
    BadAddress,       // the address could not be used or its name not resolved
    CannotOpen,       // the file could not be opened
    CannotRead,       // the file to send could not be read where bytes were due
    CannotWrite,      // a block could not be written although the disk has room
    BadName,          // the offered name could not be a file name in the receive folder
    PartialDiffers,   // fast lane: the receiver's partial file is not the start of this file
    Corrupted,        // fast lane: the file's hash did not match at the end
};

// The status text the window shows for an outcome ("Enviado!", ...); empty for None.
QString outcomeText(Outcome outcome);
