#include "sound/tuneplayer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "sound/tonedevice.h"

namespace {

// Records the tones from the player's thread; its waits block until the test opens a gate.
class GatedToneDevice : public ToneDevice {
public:
    void ToneOn(quint16 hz) override {
        const std::lock_guard lock(m_mutex);
        m_tones.push_back(hz);
        m_changed.notify_all();
    }
    void ToneOff() override {}
    void Wait(int) override {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
    }
    void open() {
        const std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool waitForTones(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_tones.size() >= count; });
    }
    std::vector<quint16> tones() {
        const std::lock_guard lock(m_mutex);
        return m_tones;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<quint16> m_tones;
    bool m_open = false;
};

TEST(TunePlayer, PlaysInOrderWithoutHoldingTheCaller) {
    GatedToneDevice device;
    TunePlayer player(device);
    // The device blocks in its first wait: play() still returns, for every tune.
    player.play(Tune::Connect);
    player.play(Tune::Attention);
    ASSERT_TRUE(device.waitForTones(1));
    EXPECT_EQ(device.tones().front(), 1000);
    device.open();
    // The connect tune's four tones, then the attention tune's 800 Hz beeps.
    ASSERT_TRUE(device.waitForTones(5));
    const std::vector<quint16> tones = device.tones();
    EXPECT_EQ(tones[0], 1000);
    EXPECT_EQ(tones[4], 800);
}

TEST(TunePlayer, ClosesWhileATuneSoundsAndDropsTheRest) {
    GatedToneDevice device;
    {
        TunePlayer player(device);
        player.play(Tune::Disconnect);
        player.play(Tune::Connect);
        ASSERT_TRUE(device.waitForTones(1));
        device.open();  // the destructor waits for the tune sounding, not for the queue
    }
    SUCCEED();
}

}  // namespace
