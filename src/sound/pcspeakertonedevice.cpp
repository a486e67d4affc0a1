#include "sound/pcspeakertonedevice.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <array>
#include <cerrno>
#include <climits>

namespace {

bool testBit(const unsigned char* bits, int bit) {
    return (bits[bit / CHAR_BIT] >> (bit % CHAR_BIT)) & 1;
}

// Whether the input device behind `fd` can sound tones.
bool soundsTones(int fd) {
    std::array<unsigned char, (EV_MAX / CHAR_BIT) + 1> eventBits{};
    if (::ioctl(fd, EVIOCGBIT(0, eventBits.size()), eventBits.data()) < 0 ||
        !testBit(eventBits.data(), EV_SND)) {
        return false;
    }
    std::array<unsigned char, (SND_MAX / CHAR_BIT) + 1> soundBits{};
    return ::ioctl(fd, EVIOCGBIT(EV_SND, soundBits.size()), soundBits.data()) >= 0 &&
           testBit(soundBits.data(), SND_TONE);
}

}  // namespace

std::unique_ptr<PcSpeakerToneDevice> PcSpeakerToneDevice::open() {
    const QDir byPath(QStringLiteral("/dev/input/by-path"));
    const QStringList speakers =
        byPath.entryList({QStringLiteral("*-pcspkr-event-spkr")}, QDir::System | QDir::Files);
    for (const QString& name : speakers) {
        if (auto device = openPath(byPath.filePath(name))) {
            return device;
        }
    }
    const QDir input(QStringLiteral("/dev/input"));
    const QStringList events =
        input.entryList({QStringLiteral("event*")}, QDir::System | QDir::Files, QDir::Name);
    for (const QString& name : events) {
        if (auto device = openPath(input.filePath(name))) {
            return device;
        }
    }
    return nullptr;
}

std::unique_ptr<PcSpeakerToneDevice> PcSpeakerToneDevice::openPath(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    if (!soundsTones(fd)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<PcSpeakerToneDevice>(new PcSpeakerToneDevice(fd));
}

PcSpeakerToneDevice::PcSpeakerToneDevice(int fd) : m_fd(fd) {}

PcSpeakerToneDevice::~PcSpeakerToneDevice() {
    sendTone(0);
    ::close(m_fd);
}

void PcSpeakerToneDevice::ToneOn(quint16 hz) {
    if (isAudible(hz)) {
        sendTone(hz);
    }
}

void PcSpeakerToneDevice::ToneOff() {
    sendTone(0);
}

void PcSpeakerToneDevice::sendTone(int hz) {
    input_event event{};
    event.type = EV_SND;
    event.code = SND_TONE;
    event.value = hz;
    // A lost tone is no failure worth reporting: the tune simply stays silent.
    ssize_t written;
    do {
        written = ::write(m_fd, &event, sizeof event);
    } while (written < 0 && errno == EINTR);
}
