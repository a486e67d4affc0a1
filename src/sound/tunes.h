#pragma once

#include "sound/tonedevice.h"

// The three tunes. Each plays on `device` only when `notificar` is true (the "Notificar con
// sonidos" setting) and then blocks the calling thread for its whole length; otherwise it
// returns at once.

// 1000, 1100, 900 and 910 Hz beeps: 320 ms.
void ConnectTune(ToneDevice& device, bool notificar);
// Four 800 Hz beeps: 320 ms.
void AttentionTune(ToneDevice& device, bool notificar);
// Two glides from 900 down to 700 Hz: 380 ms.
void DisconnectTune(ToneDevice& device, bool notificar);
