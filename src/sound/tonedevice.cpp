#include "sound/tonedevice.h"

#include "sound/alsatonedevice.h"
#include "sound/pcspeakertonedevice.h"
#include "sound/silenttonedevice.h"

#include <chrono>
#include <thread>

ToneDevice::~ToneDevice() = default;

void ToneDevice::Wait(int ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

std::unique_ptr<ToneDevice> probeToneDevice() {
    if (auto speaker = PcSpeakerToneDevice::open()) {
        return speaker;
    }
    if (auto alsa = AlsaToneDevice::open()) {
        return alsa;
    }
    return std::make_unique<SilentToneDevice>();
}
