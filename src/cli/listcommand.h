#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

#include "discovery/peerbrowser.h"

namespace localsend {
class Discovery;
class Server;
}  // namespace localsend

// `ruvo-cli list`: looks for the copies announced on the local network for a few seconds,
// and (unless told not to) for LocalSend devices, then prints them (one per line, or one
// JSON array) and ends. To be answered by LocalSend devices it announces itself for that
// while, with a server of its own on a free port that takes no offers.
class ListCommand : public QObject {
    Q_OBJECT

public:
    ListCommand(bool json, int waitMs, bool localSend = false, QObject* parent = nullptr);
    ~ListCommand() override;

    void start();

signals:
    void finished(int exitCode);

private:
    void startLocalSend();
    void print();

    bool m_json;
    bool m_localSend;
    PeerBrowser m_browser;
    QTimer m_wait;
    std::unique_ptr<localsend::Server> m_server;
    std::unique_ptr<localsend::Discovery> m_discovery;
};
