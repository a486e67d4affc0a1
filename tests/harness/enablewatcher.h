#pragma once

#include <QObject>

#include <functional>

class QWidget;

// Calls `onEnabled` every time `widget` turns from disabled to enabled. Sampling the state
// with a timer would miss an offer that came, was taken and was followed by the next one
// between two samples.
class EnableWatcher : public QObject {
    Q_OBJECT

public:
    EnableWatcher(QWidget* widget, std::function<void()> onEnabled);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_widget;
    std::function<void()> m_onEnabled;
};
