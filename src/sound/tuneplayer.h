#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class ToneDevice;

enum class Tune { Connect, Attention, Disconnect };

// Plays the tunes on a thread of its own, one after another in the order asked, so that
// the window's thread never waits the third of a second a tune lasts. The device must
// outlive the player; it is used only from the player's thread.
class TunePlayer {
public:
    explicit TunePlayer(ToneDevice& device);
    // Lets the tune sounding end, drops those still waiting.
    ~TunePlayer();

    TunePlayer(const TunePlayer&) = delete;
    TunePlayer& operator=(const TunePlayer&) = delete;

    void play(Tune tune);
    ToneDevice& device() const { return m_device; }

private:
    void run();

    ToneDevice& m_device;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Tune> m_queue;
    bool m_stop = false;
    std::thread m_thread;
};
