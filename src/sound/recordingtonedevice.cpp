#include "sound/recordingtonedevice.h"

RecordingToneDevice::RecordingToneDevice(bool realWait) : m_realWait(realWait) {}

void RecordingToneDevice::ToneOn(quint16 hz) {
    if (!isAudible(hz)) {
        return;
    }
    m_hz = hz;
    m_events.push_back({Event::Kind::On, hz});
}

void RecordingToneDevice::ToneOff() {
    m_hz = 0;
    m_events.push_back({Event::Kind::Off, 0});
}

void RecordingToneDevice::Wait(int ms) {
    m_events.push_back({Event::Kind::Wait, ms});
    if (m_realWait) {
        ToneDevice::Wait(ms);
    }
}

std::vector<RecordingToneDevice::Step> RecordingToneDevice::steps() const {
    std::vector<Step> steps;
    quint16 hz = 0;
    for (const Event& event : m_events) {
        switch (event.kind) {
            case Event::Kind::On:
                hz = static_cast<quint16>(event.value);
                break;
            case Event::Kind::Off:
                hz = 0;
                break;
            case Event::Kind::Wait:
                steps.push_back({hz, event.value});
                break;
        }
    }
    return steps;
}

int RecordingToneDevice::totalMs() const {
    int total = 0;
    for (const Event& event : m_events) {
        if (event.kind == Event::Kind::Wait) {
            total += event.value;
        }
    }
    return total;
}

void RecordingToneDevice::clear() {
    m_events.clear();
    m_hz = 0;
}
