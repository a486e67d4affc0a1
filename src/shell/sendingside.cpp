// The sending side of the window: the "Enviar" page. Its handlers hand what the user does to
// the sending role and put what the role reports on the page and the status bar.

#include <QCheckBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>

#include "engine/ttimer.h"
#include "shell/addresschooser.h"
#include "shell/formruvo.h"
#include "shell/progressstrip.h"
#include "shell/topendialog.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "transfer/progress.h"
#include "transfer/tunes.h"

namespace {

const QString kEnviar = QStringLiteral("Enviar");
const QString kCancelar = QStringLiteral("Cancelar");
const QString kPausa = QStringLiteral("Pausa");
const QString kReanudar = QStringLiteral("Reanudar");

}  // namespace

void TFormruvo::ExaminarClick() {
    BarraEstado->SetPanelText(1, QString());
    if (!OpenDialog1->Execute()) {
        return;  // the file chosen before, if any, stays chosen
    }
    ChooseFileToSend(OpenDialog1->FileName);
}

bool TFormruvo::ChooseFileToSend(const QString& path) {
    // The page shows the role's one choice: path, name and size never disagree.
    if (!m_sending->chooseFile(path)) {
        BarraEstado->SetPanelText(1, QStringLiteral("No se puede abrir el archivo"));
        FicheroEnviado->clear();
        TamanoEnviado->clear();
        Megasenviados->clear();
        return false;
    }
    const OutgoingFile& file = *m_sending->file();
    FicheroEnviado->setText(file.path);
    TamanoEnviado->setText(QString::number(file.size));
    Megasenviados->setText(FormatMegabytes(file.size));
    return true;
}

void TFormruvo::DireccionenviadaChange() {
    Enviar->setEnabled(!DireccionEnviada->text().isEmpty() && !FicheroEnviado->text().isEmpty());
}

void TFormruvo::DireccionenviadaKeyDown(int& Key, Qt::KeyboardModifiers /*Shift*/) {
    if ((Key == Qt::Key_Return || Key == Qt::Key_Enter) && Enviar->isEnabled()) {
        Enviar->setFocus();
    }
}

void TFormruvo::EnviarClick() {
    if (Enviar->text() == kEnviar) {
        BarraEstado->SetPanelText(1, QString());
        Examinar->setEnabled(false);
        Enviar->setText(kCancelar);
        DireccionEnviada->setReadOnly(true);
        Paginas->setTabVisible(1, false);
        Panel1->hide();
        m_sending->start(DireccionEnviada->text());
    } else {
        Enviar->setText(kEnviar);
        Examinar->setEnabled(true);
        DireccionEnviada->setReadOnly(false);
        m_sending->cancel();
    }
}

void TFormruvo::ConectandoTimer(const QString& text) {
    BarraEstado->SetPanelText(0, text);
}

void TFormruvo::ClienteConnect() {
    ConnectTune(*m_tones, Notificar->isChecked());
    BarraEstado->SetPanelText(0, QStringLiteral("Conectado."));
    m_progressStrip->Reset();  // Progreso and Avance to 0
    MarkLane(m_sending->onLane());
}

void TFormruvo::ClienteBlockRequested() {
    PausarEnvio->setEnabled(true);
    Panel1->show();
    Pausado->SwitchOff();
}

void TFormruvo::ClientePaused() {
    Pausado->SwitchOn();
    Panel1->hide();
    PausarEnvio->setEnabled(false);
}

void TFormruvo::PausarEnvioClick() {
    if (PausarEnvio->text() == kPausa) {
        PausarEnvio->setText(kReanudar);
        m_sending->pauseByUser();
        return;
    }
    Pausado->SwitchOff();
    PausarEnvio->setText(kPausa);
    m_sending->resumeByUser();
}

void TFormruvo::ClienteDisconnect(Outcome outcome, bool listening) {
    DisconnectTune(*m_tones, Notificar->isChecked());
    Pausado->SwitchOff();
    BarraEstado->SetPanelText(0, QStringLiteral("Desconectado."));
    Panel1->hide();
    Paginas->setTabVisible(1, listening);
    Examinar->setEnabled(true);
    Enviar->setText(kEnviar);
    PausarEnvio->setText(kPausa);
    PausarEnvio->setEnabled(false);
    DireccionEnviada->setReadOnly(false);
    if (listening) {
        BarraEstado->SetPanelText(1, QString());
    }
    // The sending side says nothing of its own cancel.
    if (outcome != Outcome::None && outcome != Outcome::Cancelled) {
        BarraEstado->SetPanelText(1, outcomeText(outcome));
    }
    if (outcome == Outcome::Sent) {
        Direcciones->remember(DireccionEnviada->text());
    }
}
