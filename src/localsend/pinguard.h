#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QString>

#include <optional>

// The PIN a receiver may ask of LocalSend senders before it shows their offers. Wrong PINs
// are counted per address: after kMostWrong of them the address is refused (429) for
// kBlockMs, whatever it sends, so that a six-digit PIN cannot be guessed by trying.
namespace localsend {

class PinGuard {
public:
    static constexpr int kMostWrong = 3;
    static constexpr int kBlockMs = 10 * 60 * 1000;
    // Addresses remembered at most; the oldest are forgotten first.
    static constexpr int kMostAddresses = 1024;

    enum class Verdict { Ok, Missing, Wrong, Blocked };

    // Empty: no PIN asked.
    void setPin(const QString& pin) { m_pin = pin; }
    bool required() const { return !m_pin.isEmpty(); }

    // Checks the PIN `given` (absent when the request had none) from `address`. A right PIN
    // clears the address's wrong ones; a missing one is not counted as wrong.
    Verdict check(const QString& address, const std::optional<QString>& given);

private:
    struct Record {
        int wrong = 0;
        QDeadlineTimer until;  // forgotten after this
    };

    void forgetOld();

    QString m_pin;
    QHash<QString, Record> m_records;
};

}  // namespace localsend
