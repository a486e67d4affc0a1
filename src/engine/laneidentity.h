#pragma once

#include <QString>

#include <memory>

#include "identity/identity.h"

// What the fast lane needs to know of this copy: the identity both ends of the lane present
// in TLS, the computers the user trusts and the identities seen at each address (files of
// the configuration folder), and the name this copy gives itself in offers and pairing. The
// roles share one; the window and ruvo-cli load it from the folder their settings live in,
// tests from a folder of their own.
class LaneIdentity {
public:
    // Reads the identity kept in `folder`, making it at first start. Null with a reason in
    // `error` when the folder holds an identity that cannot be used: the lane then stays
    // closed and the classic port works as before.
    // `name` is this computer's name as people know it (the one it announces on the network).
    static std::shared_ptr<const LaneIdentity> load(const QString& folder, QString* error,
                                                    const QString& name = QString());

    const Identity& identity() const { return m_identity; }
    const QString& folder() const { return m_folder; }
    const QString& name() const { return m_name; }
    // Reads the trusted computers afresh on every call: ruvo-cli may trust or untrust one
    // while this copy runs. A list that cannot be read trusts nobody.
    bool trusts(const QString& fingerprint) const;

private:
    LaneIdentity(Identity identity, QString folder, QString name);

    Identity m_identity;
    QString m_folder;
    QString m_name;
};
