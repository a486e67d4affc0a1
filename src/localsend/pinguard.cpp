#include "localsend/pinguard.h"

namespace localsend {

namespace {

// Compares in a time that does not depend on where the texts first differ.
bool sameText(const QString& a, const QString& b) {
    const QByteArray x = a.toUtf8();
    const QByteArray y = b.toUtf8();
    unsigned difference = x.size() == y.size() ? 0 : 1;
    for (qsizetype i = 0; i < x.size(); ++i) {
        difference |= unsigned(x[i] ^ y[i % qMax<qsizetype>(1, y.size())]);
    }
    return difference == 0 && !y.isEmpty();
}

}  // namespace

void PinGuard::forgetOld() {
    for (auto it = m_records.begin(); it != m_records.end();) {
        it = it->until.hasExpired() ? m_records.erase(it) : std::next(it);
    }
    while (m_records.size() >= kMostAddresses) {
        auto oldest = m_records.begin();
        for (auto it = m_records.begin(); it != m_records.end(); ++it) {
            if (it->until.deadlineNSecs() < oldest->until.deadlineNSecs()) {
                oldest = it;
            }
        }
        m_records.erase(oldest);
    }
}

PinGuard::Verdict PinGuard::check(const QString& address, const std::optional<QString>& given) {
    if (!required()) {
        return Verdict::Ok;
    }
    auto found = m_records.find(address);
    if (found != m_records.end() && found->until.hasExpired()) {
        m_records.erase(found);
        found = m_records.end();
    }
    if (found != m_records.end() && found->wrong >= kMostWrong) {
        return Verdict::Blocked;
    }
    if (!given.has_value() || given->isEmpty()) {
        return Verdict::Missing;
    }
    if (sameText(*given, m_pin)) {
        if (found != m_records.end()) {
            m_records.erase(found);
        }
        return Verdict::Ok;
    }
    if (found == m_records.end()) {
        forgetOld();
        found = m_records.insert(address, Record{});
    }
    ++found->wrong;
    found->until = QDeadlineTimer(kBlockMs);
    return Verdict::Wrong;
}

}  // namespace localsend
