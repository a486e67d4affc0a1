#include "net/abstractendpoint.h"

namespace {
const char kActiveMessage[] = "Can't change value while socket is active";
}

TAbstractEndpoint::TAbstractEndpoint(QObject* parent) : QObject(parent) {}

void TAbstractEndpoint::SetActive(bool value) {
    if (value == m_active)
        return;
    ApplyActive(value);
}

void TAbstractEndpoint::SetPort(int port) {
    if (port == m_port)
        return;
    if (m_active)
        throw ESocketError(kActiveMessage);
    m_port = port;
}

void TAbstractEndpoint::SetService(const QString& service) {
    setText(m_service, service);
}

void TAbstractEndpoint::SetAddress(const QString& address) {
    setText(m_address, address);
}

void TAbstractEndpoint::SetHost(const QString& host) {
    setText(m_host, host);
}

// A change of letter case alone is no change and is not stored.
void TAbstractEndpoint::setText(QString& field, const QString& value) {
    if (QString::compare(value, field, Qt::CaseInsensitive) == 0)
        return;
    if (m_active)
        throw ESocketError(kActiveMessage);
    field = value;
}
