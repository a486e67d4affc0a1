#pragma once

#include <QObject>
#include <QTimer>

#include "transfer/progress.h"

class QLabel;
class QProgressBar;
class TPercentGauge;

// The figures of the progress strip: rate, percentage and the activity bar's position. The
// roles compute them for every block; the strip's controls take the latest ones at a steady
// pace, at once when they were last set longer than an interval ago and otherwise when the
// interval is over, so the last figures always show. A fast transfer thus does not spend its
// time in the controls' setters (each one a text to lay out, a style to ask, an update and
// an accessibility event) for figures that change thousands of times between two frames.
class ProgressStrip : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 20;

    ProgressStrip(QLabel* rate, TPercentGauge* gauge, QProgressBar* activity, QObject* parent,
                  int intervalMs = kIntervalMs);

    // The rate and percentage of the latest block.
    void ShowFigures(const ProgressFigures& figures);
    // Moves the activity bar one step on from its latest position.
    void StepActivity();
    // Percentage and activity bar back to 0, at once; what was still to show is dropped.
    void Reset();
    // Whether rates are written for the fast lane (wideRateText), whose rates outgrow
    // "Kb/s" in the label's width.
    void SetWide(bool wide) { m_wide = wide; }

    // The activity bar's latest position, shown or not.
    int ActivityPosition() const;
    bool HasPending() const { return m_figuresPending || m_activityPending; }

private:
    void Changed();
    void ShowPending();

    QLabel* m_rate;
    TPercentGauge* m_gauge;
    QProgressBar* m_activity;
    QTimer m_interval;
    ProgressFigures m_figures{};
    int m_activityPosition = 0;
    bool m_figuresPending = false;
    bool m_activityPending = false;
    bool m_wide = false;
};
