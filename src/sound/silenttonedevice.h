#pragma once

#include "sound/tonedevice.h"

// For a machine without any tone output: no sound, but a tune still takes its length, so
// the program behaves the same with and without a speaker.
class SilentToneDevice : public ToneDevice {
public:
    void ToneOn(quint16 hz) override;
    void ToneOff() override;
};
