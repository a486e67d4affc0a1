#include "engine/laneidentity.h"

#include <utility>

#include "identity/truststore.h"

LaneIdentity::LaneIdentity(Identity identity, QString folder, QString name)
    : m_identity(std::move(identity)), m_folder(std::move(folder)), m_name(std::move(name)) {}

std::shared_ptr<const LaneIdentity> LaneIdentity::load(const QString& folder, QString* error,
                                                       const QString& name) {
    std::optional<Identity> identity = Identity::loadOrCreate(folder, error);
    if (!identity) {
        return nullptr;
    }
    return std::shared_ptr<const LaneIdentity>(
        new LaneIdentity(std::move(*identity), folder, name));
}

bool LaneIdentity::trusts(const QString& fingerprint) const {
    if (fingerprint.isEmpty()) {
        return false;
    }
    TrustStore store(m_folder);
    QString error;
    return store.load(&error) && store.isTrusted(fingerprint);
}
