#include "net/clientendpoint.h"

TClientEndpoint::TClientEndpoint(QObject* parent)
    : TCustomEndpoint(parent), m_connection(new TClientConnection(this)) {
    BindConnection(m_connection);
}

TClientEndpoint::~TClientEndpoint() {
    m_connection->EventHook = nullptr;
    m_connection->Dispose();
}

void TClientEndpoint::ApplyActive(bool value) {
    if (value == m_connection->IsConnected())
        return;
    if (m_connection->IsConnected())
        m_connection->CloseConnection();
    else
        m_connection->StartConnect(Host(), Address(), Service(), static_cast<quint16>(Port()),
                                   m_connection->ClientType() == ctBlocking);
}
