// The handlers of the two transfer roles and of the shared progress display. Their controls,
// timers and endpoint bindings are made in formruvo.cpp.

#include <QLineEdit>
#include <QPushButton>

#include "shell/formruvo.h"

void TFormruvo::ExaminarClick() {}

void TFormruvo::DireccionenviadaChange() {
    // Texts are not trimmed: an address of blanks counts as typed.
    Enviar->setEnabled(!DireccionEnviada->text().isEmpty() && !FicheroEnviado->text().isEmpty());
}

void TFormruvo::DireccionenviadaKeyDown(int&, Qt::KeyboardModifiers) {}

void TFormruvo::EnviarClick() {}

void TFormruvo::PausarEnvioClick() {}

void TFormruvo::ConectandoTimer() {}

void TFormruvo::ClienteConnect(QObject*, TSocketConnection*) {}

void TFormruvo::ClienteRead(QObject*, TSocketConnection*) {}

void TFormruvo::ClienteDisconnect(QObject*, TSocketConnection*) {}

void TFormruvo::ClienteError(QObject*, TSocketConnection*, TErrorEvent, int&) {}

void TFormruvo::ServidorClientConnect(QObject*, TSocketConnection*) {}

void TFormruvo::ServidorClientRead(QObject*, TSocketConnection*) {}

void TFormruvo::ServidorClientDisconnect(QObject*, TSocketConnection*) {}

void TFormruvo::ServidorClientError(QObject*, TSocketConnection*, TErrorEvent, int&) {}

void TFormruvo::RecibirClick() {}

void TFormruvo::PausarRecepcionClick() {}

void TFormruvo::CancelarRecepcionClick() {}

void TFormruvo::IntrusoTimer() {}

void TFormruvo::TranscurridoTimer() {}

void TFormruvo::PausadoTimer() {}

void TFormruvo::ParpadeoTimer() {}
