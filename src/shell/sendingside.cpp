// The sending side of the window: the "Enviar" page. Its handlers hand what the user does to
// the sending role and put what the role reports on the page and the status bar.

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "common/outcometext.h"
#include "engine/ttimer.h"
#include "identity/fingerprint.h"
#include "shell/addresschooser.h"
#include "shell/formruvo.h"
#include "shell/progressstrip.h"
#include "shell/topendialog.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "shell/userdialogs.h"
#include "transfer/progress.h"

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
    ChooseFilesToSend(OpenDialog1->FileNames);
}

bool TFormruvo::ChooseFilesToSend(const QStringList& paths) {
    if (paths.size() == 1 && !QFileInfo(paths.front()).isDir()) {
        return ChooseFileToSend(paths.front());
    }
    // Several files, or a folder: one offer. The field says what ("3 archivos", the
    // folder's name) and the size is the total.
    if (!m_sending->chooseFiles(paths)) {
        BarraEstado->SetPanelText(1, QStringLiteral("No se puede abrir el archivo"));
        FicheroEnviado->clear();
        TamanoEnviado->clear();
        Megasenviados->clear();
        return false;
    }
    const OutgoingEntries& chosen = *m_sending->entries();
    const QString text = paths.size() == 1 ? QFileInfo(QDir::cleanPath(paths.front())).fileName()
                                           : QStringLiteral("%1 archivos").arg(chosen.fileCount());
    FicheroEnviado->setText(text);
    FicheroEnviado->setToolTip(paths.join(u'\n'));
    TamanoEnviado->setText(QString::number(chosen.total()));
    Megasenviados->setText(FormatMegabytes(chosen.total()));
    qsizetype links = 0;
    for (const entries::Skipped& skipped : chosen.skipped) {
        links += skipped.reason == entries::SkipReason::Link ? 1 : 0;
    }
    if (!chosen.skipped.empty()) {
        BarraEstado->SetPanelText(
            1, links == qsizetype(chosen.skipped.size())
                   ? QStringLiteral("Se omiten %1 enlaces").arg(links)
                   : QStringLiteral("Se omiten %1 elementos").arg(chosen.skipped.size()));
    }
    return true;
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
    FicheroEnviado->setToolTip(QString());
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
        Conectando->Tag = 0;
        Conectando->SwitchOn();
        m_sending->start(DireccionEnviada->text());
    } else {
        Enviar->setText(kEnviar);
        Examinar->setEnabled(true);
        DireccionEnviada->setReadOnly(false);
        m_sending->cancel();
    }
}

// "C", "Co", ... "Conectando", a pause, then again from the start.
void TFormruvo::ConectandoTimer() {
    static const QString kWord = QStringLiteral("Conectando");
    const int step = ++Conectando->Tag;
    if (step <= kWord.size()) {
        BarraEstado->SetPanelText(0, kWord.left(step));
    } else if (step >= 12) {
        BarraEstado->SetPanelText(0, QString());
        Conectando->Tag = 0;
    }
}

void TFormruvo::ClienteConnect() {
    Conectando->SwitchOff();
    PlayTune(Tune::Connect);
    BarraEstado->SetPanelText(0, QStringLiteral("Conectado."));
    m_progressStrip->Reset();  // Progreso and Avance to 0
    m_sendOnLane = m_sending->onLane();
    MarkLane(m_sendOnLane);
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
    PlayTune(Tune::Disconnect);
    Conectando->SwitchOff();
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
    // The sending side says nothing of its own cancel. A classic receiver that declines or
    // goes just closes; the lane tells which it was.
    const bool peerSaid = outcome == Outcome::Declined || outcome == Outcome::CancelledByPeer;
    if (outcome != Outcome::PeerLeft && outcome != Outcome::Cancelled &&
        (!peerSaid || m_sendOnLane)) {
        BarraEstado->SetPanelText(1, outcomeText(outcome, Side::Sending));
    }
    m_sendOnLane = false;
    if (outcome == Outcome::Sent) {
        Direcciones->remember(DireccionEnviada->text());
    }
    if (outcome == Outcome::IdentityChanged || outcome == Outcome::LaneUnanswered) {
        AskToSendAgain(outcome);
    }
}

void TFormruvo::AskToSendAgain(Outcome outcome) {
    const QString address = m_sending->address();
    QString text;
    if (outcome == Outcome::IdentityChanged) {
        const SendingSession::IdentityChange& change = m_sending->identityChange();
        text = identityChangedText(address, fingerprint::shortForm(change.was),
                                   fingerprint::shortForm(change.now)) +
               QStringLiteral(" ¿Enviar de todos modos?");
    } else {
        text = laneUnansweredText(address, m_sending->classicPort());
    }
    PlayTune(Tune::Attention);
    const QPointer<TFormruvo> self(this);
    m_dialogs->askYesNoLater(this, text, [self, outcome, address](bool yes) {
        // Sent again only as it was asked: nothing else under way, the same address.
        if (!self || !yes || self->Enviar->text() != kEnviar || !self->Enviar->isEnabled() ||
            self->DireccionEnviada->text() != address) {
            return;
        }
        if (outcome == Outcome::IdentityChanged) {
            self->m_sending->setAcceptNewIdentity(true);
        } else {
            self->m_sending->setForceClassic(true);
        }
        self->EnviarClick();
    });
}
