#include "net/customserverendpoint.h"

TCustomServerEndpoint::TCustomServerEndpoint(QObject* parent)
    : TCustomEndpoint(parent), m_listener(new TListener(this)) {
    BindConnection(m_listener);
}

TCustomServerEndpoint::~TCustomServerEndpoint() {
    m_listener->EventHook = nullptr;
    m_listener->Dispose();
}

void TCustomServerEndpoint::ApplyActive(bool value) {
    if (value == m_listener->IsConnected())
        return;
    if (m_listener->IsConnected())
        m_listener->CloseConnection();
    else
        m_listener->StartListen({}, {}, Service(), static_cast<quint16>(Port()), 5,
                                m_listener->ServerType() == stThreadBlocking);
}
