#include "discovery/peerbrowser.h"

#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include <QMetaObject>

#include <cctype>

#include "discovery/serviceannouncer.h"

namespace {

// The value of `key` in a TXT record; empty when it has none.
QByteArray txtValue(AvahiStringList* txt, const char* key) {
    AvahiStringList* entry = avahi_string_list_find(txt, key);
    char* name = nullptr;
    char* value = nullptr;
    size_t size = 0;
    if (entry == nullptr || avahi_string_list_get_pair(entry, &name, &value, &size) < 0) {
        return QByteArray();
    }
    const QByteArray result = value != nullptr ? QByteArray(value, qsizetype(size)) : QByteArray();
    avahi_free(name);
    avahi_free(value);
    return result;
}

// A fingerprint as the announcer put it: 64 hex digits, in upper case; anything else is none.
QString announcedFingerprint(AvahiStringList* txt) {
    const QByteArray value = txtValue(txt, "fp");
    constexpr qsizetype kDigits = 64;
    if (value.size() != kDigits) {
        return QString();
    }
    for (const char c : value) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return QString();
        }
    }
    return QString::fromLatin1(value).toUpper();
}

}  // namespace

PeerBrowser::PeerBrowser(QObject* parent) : QObject(parent) {
    start();
}

PeerBrowser::~PeerBrowser() {
    stop();
}

QList<PeerBrowser::Peer> PeerBrowser::peers() const {
    QList<Peer> list;
    for (const auto& [name, seen] : m_peers) {
        list.append(seen.peer);
    }
    return list;
}

void PeerBrowser::clientReady(AvahiClient* client) {
    if (m_browser != nullptr) {
        return;
    }
    m_browser = avahi_service_browser_new(
        client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, ServiceAnnouncer::kServiceType, nullptr,
        AvahiLookupFlags(0),
        [](AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
           AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
           AvahiLookupResultFlags flags, void* self) {
            auto* that = static_cast<PeerBrowser*>(self);
            if (event == AVAHI_BROWSER_REMOVE) {
                const QString lostName = QString::fromUtf8(name);
                QMetaObject::invokeMethod(
                    that, [that, interface, lostName] { that->lost(interface, lostName); },
                    Qt::QueuedConnection);
                return;
            }
            if (event != AVAHI_BROWSER_NEW || (flags & AVAHI_LOOKUP_RESULT_LOCAL) != 0) {
                return;
            }
            // The resolver frees itself once it has answered; a resolver still open when
            // the client goes is freed with it.
            avahi_service_resolver_new(
                avahi_service_browser_get_client(browser), interface, protocol, name, type, domain,
                AVAHI_PROTO_INET, AvahiLookupFlags(0),
                [](AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                   AvahiResolverEvent event, const char* name, const char*, const char*,
                   const char*, const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                   AvahiLookupResultFlags, void* self) {
                    auto* that = static_cast<PeerBrowser*>(self);
                    if (event == AVAHI_RESOLVER_FOUND && address != nullptr) {
                        char text[AVAHI_ADDRESS_STR_MAX];
                        avahi_address_snprint(text, sizeof text, address);
                        const Peer peer{QString::fromUtf8(name), QString::fromLatin1(text), port,
                                        txtValue(txt, "lane") == "1", announcedFingerprint(txt)};
                        QMetaObject::invokeMethod(
                            that, [that, interface, peer] { that->found(interface, peer); },
                            Qt::QueuedConnection);
                    }
                    avahi_service_resolver_free(resolver);
                },
                self);
        },
        this);
}

void PeerBrowser::clientLost(bool clientGone) {
    if (clientGone) {
        m_browser = nullptr;  // freed with the client
    }
    // What was found can no longer be followed: the list starts over with the service.
    QMetaObject::invokeMethod(
        this, [this] { clear(); }, Qt::QueuedConnection);
}

void PeerBrowser::found(int interface, const Peer& peer) {
    Seen& seen = m_peers[peer.name];
    const bool changed = seen.peer != peer;
    seen.peer = peer;
    seen.interfaces.insert(interface);
    if (changed) {
        emit peersChanged();
    }
}

void PeerBrowser::lost(int interface, const QString& name) {
    const auto it = m_peers.find(name);
    if (it == m_peers.end()) {
        return;
    }
    it->second.interfaces.erase(interface);
    if (it->second.interfaces.empty()) {
        m_peers.erase(it);
        emit peersChanged();
    }
}

void PeerBrowser::clear() {
    if (!m_peers.empty()) {
        m_peers.clear();
        emit peersChanged();
    }
}
