#include "discovery/avahiclientthread.h"

#include <avahi-client/client.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>

AvahiClientThread::AvahiClientThread() = default;

AvahiClientThread::~AvahiClientThread() {
    stop();
}

bool AvahiClientThread::start() {
    if (m_poll != nullptr) {
        return true;
    }
    m_poll = avahi_threaded_poll_new();
    if (m_poll == nullptr) {
        return false;
    }
    connectClient();
    if (m_client == nullptr || avahi_threaded_poll_start(m_poll) < 0) {
        stop();
        return false;
    }
    m_running = true;
    return true;
}

void AvahiClientThread::stop() {
    if (m_poll == nullptr) {
        return;
    }
    if (m_running) {
        avahi_threaded_poll_stop(m_poll);
        m_running = false;
    }
    if (m_client != nullptr) {
        avahi_client_free(m_client);  // frees the browsers, resolvers and groups it holds
        m_client = nullptr;
    }
    avahi_threaded_poll_free(m_poll);
    m_poll = nullptr;
}

// With AVAHI_CLIENT_NO_FAIL a missing service is not an error: the client waits in the
// connecting state and comes up when the service does.
void AvahiClientThread::connectClient() {
    int error = 0;
    m_client = avahi_client_new(
        avahi_threaded_poll_get(m_poll), AVAHI_CLIENT_NO_FAIL,
        [](AvahiClient* client, AvahiClientState state, void* self) {
            stateChanged(client, state, self);
        },
        this, &error);
}

void AvahiClientThread::stateChanged(AvahiClient* client, int state, void* self) {
    auto* thread = static_cast<AvahiClientThread*>(self);
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            thread->clientReady(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_CONNECTING:
            thread->clientLost(false);
            break;
        case AVAHI_CLIENT_FAILURE:
            // The service went away: start over and wait for it to come back. The old
            // client is freed here, inside its own callback, which the library allows for
            // a failed client.
            if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
                thread->clientLost(true);
                avahi_client_free(client);
                thread->m_client = nullptr;
                thread->connectClient();
            }
            break;
        default:
            break;
    }
}
