#include "discovery/serviceannouncer.h"

#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include <QSysInfo>
#include <QtGlobal>

#include <pwd.h>
#include <unistd.h>

ServiceAnnouncer::ServiceAnnouncer(const QString& name, quint16 port, const QList<QByteArray>& txt)
    : m_name(name.toUtf8().left(63)), m_port(port), m_txt(txt) {
    start();
}

ServiceAnnouncer::~ServiceAnnouncer() {
    stop();  // frees the group with the client
}

QString ServiceAnnouncer::defaultName() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) {
        if (const passwd* entry = getpwuid(getuid())) {
            user = QString::fromLocal8Bit(entry->pw_name);
        }
    }
    const QString host = QSysInfo::machineHostName();
    return user.isEmpty() ? host : user + QLatin1Char('@') + host;
}

QList<QByteArray> ServiceAnnouncer::txtRecord(bool lane, const QString& fingerprint) {
    QList<QByteArray> txt{lane ? "lane=1" : "lane=0"};
    if (lane && !fingerprint.isEmpty()) {
        txt.append("fp=" + fingerprint.toLatin1());
    }
    return txt;
}

void ServiceAnnouncer::clientReady(AvahiClient* client) {
    if (m_group == nullptr) {
        m_group = avahi_entry_group_new(
            client,
            [](AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
                groupChanged(group, state, self);
            },
            this);
        if (m_group == nullptr) {
            return;
        }
    }
    if (avahi_entry_group_is_empty(m_group)) {
        addService(client);
    }
}

void ServiceAnnouncer::clientLost(bool clientGone) {
    // The group goes with the client when the service goes; a new one is made when it is
    // back. While the service only re-registers, the group is reset and filled again.
    if (clientGone) {
        m_group = nullptr;
    } else if (m_group != nullptr) {
        avahi_entry_group_reset(m_group);
    }
}

void ServiceAnnouncer::addService(AvahiClient* client) {
    AvahiStringList* txt = nullptr;
    for (const QByteArray& entry : m_txt) {
        txt = avahi_string_list_add_arbitrary(txt, reinterpret_cast<const uint8_t*>(entry.data()),
                                              static_cast<size_t>(entry.size()));
    }
    // IPv4 only: the protocol's addresses are dotted IPv4 addresses.
    int result = avahi_entry_group_add_service_strlst(m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                                      AvahiPublishFlags(0), m_name.constData(),
                                                      kServiceType, nullptr, nullptr, m_port, txt);
    avahi_string_list_free(txt);
    if (result == AVAHI_ERR_COLLISION) {
        char* other = avahi_alternative_service_name(m_name.constData());
        m_name = other;
        avahi_free(other);
        avahi_entry_group_reset(m_group);
        addService(client);
        return;
    }
    if (result >= 0) {
        avahi_entry_group_commit(m_group);
    }
}

void ServiceAnnouncer::groupChanged(AvahiEntryGroup* group, int state, void* self) {
    auto* announcer = static_cast<ServiceAnnouncer*>(self);
    if (state == AVAHI_ENTRY_GROUP_COLLISION) {
        char* other = avahi_alternative_service_name(announcer->m_name.constData());
        announcer->m_name = other;
        avahi_free(other);
        avahi_entry_group_reset(group);
        announcer->addService(avahi_entry_group_get_client(group));
    }
}
