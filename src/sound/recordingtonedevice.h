#pragma once

#include "sound/tonedevice.h"

#include <vector>

// For tests: records what a tune does instead of sounding it. Waits return at once unless
// real waiting is asked for.
class RecordingToneDevice : public ToneDevice {
public:
    struct Event {
        enum class Kind { On, Off, Wait };
        Kind kind = Kind::Off;
        int value = 0;  // On: the frequency; Wait: the milliseconds; Off: 0

        bool operator==(const Event&) const = default;
    };
    // A stretch of time with one frequency (0 = silence).
    struct Step {
        quint16 hz = 0;
        int ms = 0;

        bool operator==(const Step&) const = default;
    };

    explicit RecordingToneDevice(bool realWait = false);

    void ToneOn(quint16 hz) override;
    void ToneOff() override;
    void Wait(int ms) override;

    const std::vector<Event>& events() const { return m_events; }
    // The waits with the frequency sounding during each.
    std::vector<Step> steps() const;
    int totalMs() const;
    // Whether a tone is sounding now.
    bool isSounding() const { return m_hz != 0; }
    void clear();

private:
    std::vector<Event> m_events;
    quint16 m_hz = 0;
    bool m_realWait;
};
