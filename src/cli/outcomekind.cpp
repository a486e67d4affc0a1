#include "cli/outcomekind.h"

QString outcomeKind(Outcome outcome) {
    switch (outcome) {
        case Outcome::PeerLeft:
            return QStringLiteral("disconnected");
        case Outcome::Declined:
            return QStringLiteral("declined");
        case Outcome::CancelledByPeer:
            return QStringLiteral("cancelled-by-peer");
        case Outcome::Sent:
            return QStringLiteral("sent");
        case Outcome::Received:
            return QStringLiteral("received");
        case Outcome::Busy:
            return QStringLiteral("busy");
        case Outcome::ConnectionError:
            return QStringLiteral("connection");
        case Outcome::Cancelled:
            return QStringLiteral("cancelled");
        case Outcome::BadAddress:
            return QStringLiteral("bad-address");
        case Outcome::CannotOpen:
            return QStringLiteral("cannot-open");
        case Outcome::CannotRead:
            return QStringLiteral("cannot-read");
        case Outcome::CannotWrite:
            return QStringLiteral("cannot-write");
        case Outcome::BadName:
            return QStringLiteral("bad-name");
        case Outcome::PartialDiffers:
            return QStringLiteral("partial-differs");
        case Outcome::Corrupted:
            return QStringLiteral("corrupted");
        case Outcome::IdentityChanged:
            return QStringLiteral("identity-changed");
        case Outcome::LaneUnanswered:
            return QStringLiteral("lane-unanswered");
        case Outcome::Incomplete:
            return QStringLiteral("incomplete");
        case Outcome::NeedsLane:
            return QStringLiteral("needs-lane");
    }
    return QStringLiteral("error");
}
