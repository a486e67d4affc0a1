#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a call on the UI thread, so that the window closes in order
// (placement saved, settings written) as on a normal close. The signal handler only writes
// one byte into a pipe; a QSocketNotifier on the other end makes the call. One instance at
// a time; its destructor puts the previous signal handlers back.
class SignalCloser : public QObject {
    Q_OBJECT

public:
    explicit SignalCloser(std::function<void()> onSignal, QObject* parent = nullptr);
    ~SignalCloser() override;

private:
    void readSignals();

    std::function<void()> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};
