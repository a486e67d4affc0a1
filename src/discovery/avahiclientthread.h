#pragma once

#include <QString>

struct AvahiClient;
struct AvahiThreadedPoll;

// A connection to the system's mDNS service on a thread of its own. The service may be
// missing, start later, or restart: the connection waits for it quietly and tells the
// subclass each time it is usable (clientReady) and each time it goes (clientLost; when
// `clientGone`, every browser, resolver and group made with it is freed). Both run
// on the service's thread, with the thread's lock held, so they may use the client freely;
// anything for the Qt side must be posted to it.
class AvahiClientThread {
public:
    AvahiClientThread();
    virtual ~AvahiClientThread();
    AvahiClientThread(const AvahiClientThread&) = delete;
    AvahiClientThread& operator=(const AvahiClientThread&) = delete;

    // Starts the thread and the connection. False when neither can be had (no system bus):
    // then nothing happens, and nothing complains.
    bool start();
    // Stops the thread. The subclass calls it first thing in its destructor, so that no
    // callback runs into a half-destroyed object.
    void stop();

protected:
    virtual void clientReady(AvahiClient* client) = 0;
    virtual void clientLost(bool clientGone) = 0;

private:
    static void stateChanged(AvahiClient* client, int state, void* self);
    void connectClient();

    AvahiThreadedPoll* m_poll = nullptr;
    AvahiClient* m_client = nullptr;
    bool m_running = false;
};
