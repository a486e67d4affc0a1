#pragma once

#include "sound/tonedevice.h"

#include <memory>

// A square wave on the default sound output. Each wait writes exactly its length of
// samples (of the tone sounding, or of silence) and then sleeps that length, so a tune
// lasts as long on this device as on the speaker.
class AlsaToneDevice : public ToneDevice {
public:
    static constexpr unsigned kSampleRate = 44100;

    // Opens the output `pcmName` without blocking; nullptr when there is none. Installs a
    // silent error handler for the sound library first, so that a machine without a sound
    // card prints nothing.
    static std::unique_ptr<AlsaToneDevice> open(const char* pcmName = "default");

    AlsaToneDevice(const AlsaToneDevice&) = delete;
    AlsaToneDevice& operator=(const AlsaToneDevice&) = delete;
    ~AlsaToneDevice() override;

    void ToneOn(quint16 hz) override;
    void ToneOff() override;
    void Wait(int ms) override;

private:
    struct Output;
    explicit AlsaToneDevice(std::unique_ptr<Output> output);
    void writeSamples(int ms);

    std::unique_ptr<Output> m_output;
    quint16 m_hz = 0;
    double m_phase = 0;  // position in the current period, 0 to 1
};
