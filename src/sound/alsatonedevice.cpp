#include "sound/alsatonedevice.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr qint16 kAmplitude = 8000;
// Room for the longest step of a tune several times over.
constexpr unsigned kBufferMicroseconds = 500000;

void silentAlsaError(const char* /*file*/, int /*line*/, const char* /*function*/, int /*err*/,
                     const char* /*fmt*/, ...) {}

}  // namespace

struct AlsaToneDevice::Output {
    snd_pcm_t* pcm = nullptr;

    ~Output() {
        if (pcm != nullptr) {
            snd_pcm_close(pcm);
        }
    }
};

std::unique_ptr<AlsaToneDevice> AlsaToneDevice::open(const char* pcmName) {
    snd_lib_error_set_handler(&silentAlsaError);
    auto output = std::make_unique<Output>();
    if (snd_pcm_open(&output->pcm, pcmName, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        output->pcm = nullptr;
        return nullptr;
    }
    if (snd_pcm_set_params(output->pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                           kSampleRate, 1, kBufferMicroseconds) < 0) {
        return nullptr;
    }
    // Start playing with the first samples written, not once the buffer is full.
    snd_pcm_sw_params_t* software = nullptr;
    if (snd_pcm_sw_params_malloc(&software) < 0) {
        return nullptr;
    }
    const bool started = snd_pcm_sw_params_current(output->pcm, software) >= 0 &&
                         snd_pcm_sw_params_set_start_threshold(output->pcm, software, 1) >= 0 &&
                         snd_pcm_sw_params(output->pcm, software) >= 0;
    snd_pcm_sw_params_free(software);
    if (!started) {
        return nullptr;
    }
    return std::unique_ptr<AlsaToneDevice>(new AlsaToneDevice(std::move(output)));
}

AlsaToneDevice::AlsaToneDevice(std::unique_ptr<Output> output) : m_output(std::move(output)) {}

AlsaToneDevice::~AlsaToneDevice() = default;

void AlsaToneDevice::ToneOn(quint16 hz) {
    if (isAudible(hz)) {
        m_hz = hz;
    }
}

void AlsaToneDevice::ToneOff() {
    m_hz = 0;
}

void AlsaToneDevice::Wait(int ms) {
    if (ms <= 0) {
        return;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    writeSamples(ms);
    std::this_thread::sleep_until(end);
}

void AlsaToneDevice::writeSamples(int ms) {
    const auto frames = static_cast<std::size_t>(kSampleRate) * static_cast<std::size_t>(ms) / 1000;
    std::vector<qint16> samples(frames, 0);
    if (m_hz != 0) {
        // The phase runs on from one step to the next, so a change of frequency glides
        // without a click.
        const double increment = double(m_hz) / kSampleRate;
        for (qint16& sample : samples) {
            sample = m_phase < 0.5 ? kAmplitude : qint16(-kAmplitude);
            m_phase += increment;
            if (m_phase >= 1.0) {
                m_phase -= 1.0;
            }
        }
    }
    snd_pcm_t* pcm = m_output->pcm;
    std::size_t done = 0;
    for (int recoveries = 0; done < frames && recoveries < 2;) {
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm, samples.data() + done, frames - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (written == 0 || written == -EAGAIN) {
            // The buffer is full: the rest of this step is dropped, the timing is kept.
            break;
        }
        // An underrun between two tunes, or a suspend: get the output going again.
        ++recoveries;
        if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0) {
            break;
        }
    }
}
