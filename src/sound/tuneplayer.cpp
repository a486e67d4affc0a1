#include "sound/tuneplayer.h"

#include "sound/tunes.h"

TunePlayer::TunePlayer(ToneDevice& device) : m_device(device), m_thread([this] { run(); }) {}

TunePlayer::~TunePlayer() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_one();
    m_thread.join();
}

void TunePlayer::play(Tune tune) {
    {
        const std::lock_guard lock(m_mutex);
        // A burst of events must not queue seconds of sound behind them.
        if (m_queue.size() >= 4) {
            return;
        }
        m_queue.push_back(tune);
    }
    m_wake.notify_one();
}

void TunePlayer::run() {
    for (;;) {
        Tune tune;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop) {
                return;
            }
            tune = m_queue.front();
            m_queue.pop_front();
        }
        switch (tune) {
            case Tune::Connect:
                ConnectTune(m_device, true);
                break;
            case Tune::Attention:
                AttentionTune(m_device, true);
                break;
            case Tune::Disconnect:
                DisconnectTune(m_device, true);
                break;
        }
    }
}
