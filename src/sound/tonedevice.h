#pragma once

#include <QtGlobal>

#include <memory>

// Where the tunes sound: a square-wave tone switched on and off, and blocking waits.
class ToneDevice {
public:
    // ToneOn with this frequency or a lower one does nothing at all.
    static constexpr quint16 kHighestSilentHz = 18;

    virtual ~ToneDevice();

    // Starts a tone of `hz`, or changes the frequency of the tone already sounding.
    virtual void ToneOn(quint16 hz) = 0;
    virtual void ToneOff() = 0;
    // Blocks the calling thread for `ms` milliseconds while the current tone (or silence)
    // goes on. The default is a real sleep.
    virtual void Wait(int ms);

protected:
    ToneDevice() = default;
    static bool isAudible(quint16 hz) { return hz > kHighestSilentHz; }
};

// The device of this machine, probed once: the PC speaker's input device when it can be
// opened, else the default sound output, else a silent device that still takes the time.
std::unique_ptr<ToneDevice> probeToneDevice();
