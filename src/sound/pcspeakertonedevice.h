#pragma once

#include "sound/tonedevice.h"

#include <QString>

#include <memory>

// The PC speaker through the kernel's input device for it (EV_SND / SND_TONE), usable only
// where this user may write to that device.
class PcSpeakerToneDevice : public ToneDevice {
public:
    // /dev/input/by-path/*-pcspkr-event-spkr, else the first /dev/input/event* that can
    // sound tones; nullptr when none can be opened.
    static std::unique_ptr<PcSpeakerToneDevice> open();
    // The device at `path`, if it can be opened for writing and sounds tones.
    static std::unique_ptr<PcSpeakerToneDevice> openPath(const QString& path);

    PcSpeakerToneDevice(const PcSpeakerToneDevice&) = delete;
    PcSpeakerToneDevice& operator=(const PcSpeakerToneDevice&) = delete;
    ~PcSpeakerToneDevice() override;

    void ToneOn(quint16 hz) override;
    void ToneOff() override;

private:
    explicit PcSpeakerToneDevice(int fd);
    void sendTone(int hz);

    int m_fd;
};
