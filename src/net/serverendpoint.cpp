#include "net/serverendpoint.h"

TServerEndpoint::TServerEndpoint(QObject* parent)
    : TCustomServerEndpoint(parent),
      OnGetSocket(Listener()->OnGetSocket),
      OnClientConnect(Listener()->OnClientConnect),
      OnClientDisconnect(Listener()->OnClientDisconnect),
      OnClientRead(Listener()->OnClientRead),
      OnClientWrite(Listener()->OnClientWrite),
      OnClientError(Listener()->OnClientError) {}
