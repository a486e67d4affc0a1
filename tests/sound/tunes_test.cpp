#include "sound/tunes.h"
#include "sound/alsatonedevice.h"
#include "sound/recordingtonedevice.h"
#include "sound/silenttonedevice.h"
#include "sound/tonedevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <unistd.h>
#include <functional>
#include <vector>

namespace {

using Event = RecordingToneDevice::Event;
using Kind = RecordingToneDevice::Event::Kind;

Event on(int hz) {
    return {Kind::On, hz};
}
Event off() {
    return {Kind::Off, 0};
}
Event wait(int ms) {
    return {Kind::Wait, ms};
}

std::vector<Event> glide() {
    std::vector<Event> events;
    for (const int hz : {900, 850, 800, 750, 700}) {
        events.push_back(on(hz));
        events.push_back(wait(35));
    }
    return events;
}

struct TuneCase {
    const char* name;
    std::function<void(ToneDevice&, bool)> play;
    std::vector<Event> events;
    int totalMs;
};

std::vector<TuneCase> tuneCases() {
    std::vector<Event> disconnect = glide();
    disconnect.push_back(off());
    disconnect.push_back(wait(30));
    for (const Event& event : glide()) {
        disconnect.push_back(event);
    }
    disconnect.push_back(off());
    return {
        {"ConnectTune",
         ConnectTune,
         {on(1000), wait(55), off(), wait(25), on(1100), wait(55), off(), wait(50), on(900),
          wait(55), off(), wait(25), on(910), wait(55), off()},
         320},
        {"AttentionTune",
         AttentionTune,
         {on(800), wait(65), off(), wait(20), on(800), wait(65), off(), wait(20), on(800), wait(65),
          off(), wait(20), on(800), wait(65), off()},
         320},
        {"DisconnectTune", DisconnectTune, disconnect, 380},
    };
}

}  // namespace

void PrintTo(const Event& event, std::ostream* os) {
    static const char* const kinds[] = {"on", "off", "wait"};
    *os << kinds[static_cast<int>(event.kind)] << "(" << event.value << ")";
}

TEST(Tunes, ExactSequencesAndLengths) {
    for (const TuneCase& tune : tuneCases()) {
        RecordingToneDevice device;
        tune.play(device, true);
        EXPECT_EQ(device.events(), tune.events) << tune.name;
        EXPECT_EQ(device.totalMs(), tune.totalMs) << tune.name;
        EXPECT_FALSE(device.isSounding()) << tune.name << " must end in silence";
    }
}

TEST(Tunes, StepsGiveTheFrequencyOfEachStretch) {
    RecordingToneDevice device;
    ConnectTune(device, true);
    using Step = RecordingToneDevice::Step;
    EXPECT_EQ(device.steps(),
              (std::vector<Step>{
                  {1000, 55}, {0, 25}, {1100, 55}, {0, 50}, {900, 55}, {0, 25}, {910, 55}}));
}

TEST(Tunes, NothingPlaysWithoutNotificar) {
    for (const TuneCase& tune : tuneCases()) {
        RecordingToneDevice device(true);
        QElapsedTimer timer;
        timer.start();
        tune.play(device, false);
        EXPECT_TRUE(device.events().empty()) << tune.name;
        EXPECT_LT(timer.elapsed(), 50) << tune.name;
    }
}

TEST(Tunes, EighteenHertzOrLessDoesNothing) {
    RecordingToneDevice device;
    device.ToneOn(18);
    device.ToneOn(0);
    EXPECT_TRUE(device.events().empty());
    EXPECT_FALSE(device.isSounding());
    device.ToneOn(19);
    EXPECT_EQ(device.events(), std::vector<Event>{on(19)});
}

TEST(Tunes, TakeTheirLengthOnASilentDevice) {
    SilentToneDevice device;
    QElapsedTimer timer;
    timer.start();
    DisconnectTune(device, true);
    const qint64 elapsed = timer.elapsed();
    EXPECT_GE(elapsed, 380);
    EXPECT_LT(elapsed, 1500);
}

// A machine without a sound card must not get the sound library's error messages on its
// standard error.
TEST(Tunes, ProbingTheSoundOutputPrintsNothing) {
    QTemporaryFile captured;
    ASSERT_TRUE(captured.open());
    fflush(stderr);
    const int savedStderr = ::dup(STDERR_FILENO);
    ASSERT_GE(savedStderr, 0);
    ASSERT_GE(::dup2(captured.handle(), STDERR_FILENO), 0);
    const std::unique_ptr<AlsaToneDevice> missing = AlsaToneDevice::open("no-such-output");
    const std::unique_ptr<AlsaToneDevice> standard = AlsaToneDevice::open();
    const std::unique_ptr<ToneDevice> probed = probeToneDevice();
    fflush(stderr);
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    QFile written(captured.fileName());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll().toStdString(), "");
    EXPECT_EQ(missing, nullptr);
    EXPECT_NE(probed, nullptr);
}

// The null output takes samples like a card, so the sample path runs on any machine.
TEST(Tunes, KeepTheirLengthOnTheSoundOutput) {
    std::unique_ptr<AlsaToneDevice> device = AlsaToneDevice::open("null");
    if (!device) {
        GTEST_SKIP() << "the sound library has no null output here";
    }
    for (int round = 0; round < 2; ++round) {  // the second tune starts after an underrun
        QElapsedTimer timer;
        timer.start();
        DisconnectTune(*device, true);
        const qint64 elapsed = timer.elapsed();
        EXPECT_GE(elapsed, 380);
        EXPECT_LT(elapsed, 1500);
    }
    device->ToneOn(18);  // ignored, like on every device
    device->Wait(10);
}
