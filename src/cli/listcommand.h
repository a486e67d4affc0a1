#pragma once

#include <QObject>
#include <QTimer>

#include "discovery/peerbrowser.h"

// `ruvo-cli list`: looks for the copies announced on the local network for a few seconds,
// then prints them (one per line, or one JSON array) and ends.
class ListCommand : public QObject {
    Q_OBJECT

public:
    ListCommand(bool json, int waitMs, QObject* parent = nullptr);

    void start();

signals:
    void finished(int exitCode);

private:
    void print();

    bool m_json;
    PeerBrowser m_browser;
    QTimer m_wait;
};
