#include "sound/silenttonedevice.h"

void SilentToneDevice::ToneOn(quint16 /*hz*/) {}

void SilentToneDevice::ToneOff() {}
