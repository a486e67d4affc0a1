#include "sound/tunes.h"

namespace {

void tone(ToneDevice& device, quint16 hz, int ms) {
    device.ToneOn(hz);
    device.Wait(ms);
}

void silence(ToneDevice& device, int ms) {
    device.ToneOff();
    device.Wait(ms);
}

void glide(ToneDevice& device) {
    for (const quint16 hz : {900, 850, 800, 750, 700}) {
        tone(device, hz, 35);
    }
}

}  // namespace

void ConnectTune(ToneDevice& device, bool notificar) {
    if (!notificar) {
        return;
    }
    tone(device, 1000, 55);
    silence(device, 25);
    tone(device, 1100, 55);
    silence(device, 50);
    tone(device, 900, 55);
    silence(device, 25);
    tone(device, 910, 55);
    device.ToneOff();
}

void AttentionTune(ToneDevice& device, bool notificar) {
    if (!notificar) {
        return;
    }
    for (int beep = 0; beep < 3; ++beep) {
        tone(device, 800, 65);
        silence(device, 20);
    }
    tone(device, 800, 65);
    device.ToneOff();
}

void DisconnectTune(ToneDevice& device, bool notificar) {
    if (!notificar) {
        return;
    }
    glide(device);
    silence(device, 30);
    glide(device);
    device.ToneOff();
}
