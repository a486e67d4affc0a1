#include "shell/progressstrip.h"

#include <QLabel>
#include <QProgressBar>

#include "widgets/percentgauge.h"

ProgressStrip::ProgressStrip(QLabel* rate, TPercentGauge* gauge, QProgressBar* activity,
                             QObject* parent, int intervalMs)
    : QObject(parent), m_rate(rate), m_gauge(gauge), m_activity(activity) {
    m_interval.setSingleShot(true);
    m_interval.setTimerType(Qt::PreciseTimer);
    m_interval.setInterval(intervalMs);
    connect(&m_interval, &QTimer::timeout, this, [this] {
        if (HasPending()) {
            ShowPending();
            m_interval.start();
        }
    });
}

void ProgressStrip::ShowFigures(const ProgressFigures& figures) {
    m_figures = figures;
    m_figuresPending = true;
    Changed();
}

void ProgressStrip::StepActivity() {
    m_activityPosition = nextActivityPosition(ActivityPosition());
    m_activityPending = true;
    Changed();
}

void ProgressStrip::Reset() {
    m_figuresPending = false;
    m_activityPending = false;
    m_gauge->SetProgress(0);
    m_activity->setValue(0);
}

int ProgressStrip::ActivityPosition() const {
    return m_activityPending ? m_activityPosition : m_activity->value();
}

void ProgressStrip::Changed() {
    if (m_interval.isActive()) {
        return;  // shown within the interval: the rest waits for its end
    }
    ShowPending();
    m_interval.start();
}

void ProgressStrip::ShowPending() {
    if (m_figuresPending) {
        m_figuresPending = false;
        m_rate->setText(m_wide ? wideRateText(m_figures.rateKb) : rateText(m_figures.rateKb));
        m_gauge->SetProgress(m_figures.percent);
    }
    if (m_activityPending) {
        m_activityPending = false;
        m_activity->setValue(m_activityPosition);
    }
}
