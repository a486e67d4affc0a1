// The receiving side of the window: the "Recibir" page. Its handlers hand what the user does
// to the receiving role, ask the role's questions in boxes and put what the role reports on
// the page, the tabs and the status bar.

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFrame>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

#include "common/outcometext.h"
#include "discovery/peerbrowser.h"
#include "engine/ttimer.h"
#include "shell/backgroundtray.h"
#include "shell/formruvo.h"
#include "shell/offernotifier.h"
#include "shell/progressstrip.h"
#include "shell/tabicons.h"
#include "shell/thiscopy.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "shell/userdialogs.h"
#include "transfer/progress.h"
#include "widgets/folderedit.h"

namespace {

const QString kPausa = QStringLiteral("Pausa");
const QString kReanudar = QStringLiteral("Reanudar");

}  // namespace

void TFormruvo::ServidorClientConnect() {
    BarraEstado->SetPanelText(0, QStringLiteral("Conectado."));
    m_progressStrip->Reset();  // Progreso and Avance to 0
    MarkLane(m_receiving->onLane());
}

void TFormruvo::ServidorOffer(const ReceivingService::Offer& offer) {
    PlayTune(Tune::Connect);
    Parpadeo->Tag = 0;
    Parpadeo->SwitchOn();
    Paginas->setTabVisible(0, false);
    BarraEstado->SetPanelText(1, QString());
    Panel1->hide();
    DireccionRecibida->setText(offer.address);
    // The field has room for the address only: the sender's announced name, when a copy
    // found on the network has that address, goes to its tooltip and description, with
    // whether a lane sender is trusted; a mark at the field's end shows that too.
    const QString sender =
        offerSenderText(offer, m_browser ? m_browser->peers() : QList<PeerBrowser::Peer>());
    DireccionRecibida->setToolTip(sender);
    DireccionRecibida->setAccessibleDescription(sender);
    const bool lane = !offer.senderFingerprint.isEmpty();
    m_senderMark->setVisible(lane);
    if (lane) {
        m_senderMark->setIcon(offer.senderTrusted ? trustedIcon() : unverifiedIcon());
        m_senderMark->setText(offer.senderTrusted ? QStringLiteral("de confianza")
                                                  : QStringLiteral("sin verificar"));
        m_senderMark->setToolTip(sender);
    }
    // Several entries show their count (the name of what was offered in the tooltip), a
    // text says so; the size is the total.
    const qint64 size =
        offer.kind == TransferOffer::Kind::Text ? offer.text.toUtf8().size() : offer.size;
    FicheroRecibido->setText(offer.kind == TransferOffer::Kind::Entries
                                 ? QStringLiteral("%1 archivos").arg(offer.fileCount)
                             : offer.kind == TransferOffer::Kind::Text ? QStringLiteral("Texto")
                                                                       : offer.name);
    FicheroRecibido->setToolTip(offer.kind == TransferOffer::Kind::Entries ? offer.name
                                                                           : QString());
    TamanoRecibido->setText(QString::number(size));
    MegasRecibidos->setText(FormatMegabytes(size));
    CancelarRecepcion->setEnabled(true);
    Recibir->setEnabled(true);
    // A trusted computer's offer goes in without the question when the user chose so; low
    // space and an existing file of the name are still asked about as on "Recibir". Trust
    // is what the lane's handshake proved, read afresh from the trusted computers for each
    // offer; a classic offer is never trusted.
    if (AceptarConfianza->isChecked() && offer.senderTrusted && !GuardarEn->text().isEmpty()) {
        RecibirClick();
        return;
    }
    // Behind other windows an offer is easy to miss: the desktop tells of it too, when the
    // user asked to be notified. A window closed into the tray cannot be seen at all.
    if ((Notificar->isChecked() || (m_tray->isOn() && isHidden())) && !isActiveWindow()) {
        m_notifier->offerArrived(offer.name, offer.size, sender);
    }
}

void TFormruvo::RecibirFromNotification() {
    showNormal();
    raise();
    activateWindow();
    Paginas->setCurrentIndex(1);
    RecibirClick();
}

void TFormruvo::RecibirClick() {
    if (m_receiving->state() != ReceivingService::State::Offered) {
        return;
    }
    m_notifier->offerEnded();
    if (GuardarEn->text().isEmpty()) {
        // Without a receive folder the file would land in the working folder: ask for one.
        // The dialog runs a nested event loop: the answer belongs to the offer it was asked
        // about, so if that changed meanwhile, stop without a word.
        const quint64 offer = m_receiving->offerSerial();
        const QString folder = m_dialogs->chooseFolder(this, GuardarEn->InitialDir());
        if (folder.isEmpty() || offer != m_receiving->offerSerial() ||
            m_receiving->state() != ReceivingService::State::Offered) {
            return;
        }
        GuardarEn->setText(folder);
    }
    m_receiving->acceptOffer(GuardarEn->text());
}

void TFormruvo::ServidorQuestion(quint64 id, ReceivingService::Question question) {
    PlayTune(Tune::Attention);
    const QString text =
        question == ReceivingService::Question::LowSpace
            ? QStringLiteral("El espacio libre es menor que el de archivo, ¿Continuar?")
            : QStringLiteral("¿Continuar con el archivo existente?");
    // The box answers later; the role ignores an answer to a question that no longer stands.
    const QPointer<TFormruvo> self(this);
    m_dialogs->askYesNoLater(this, text, [self, id](bool yes) {
        if (self) {
            self->m_receiving->answer(id, yes);
        }
    });
}

void TFormruvo::ServidorBlockArrived() {
    Panel1->show();
    Recibir->setEnabled(false);
    PausarRecepcion->setEnabled(true);
}

void TFormruvo::ServidorPeerPaused() {
    Pausado->SwitchOn();
    Panel1->hide();
    PausarRecepcion->setEnabled(false);
}

void TFormruvo::ServidorPeerResumed(bool userStillPaused) {
    PausarRecepcion->setEnabled(true);
    if (userStillPaused) {
        return;  // the pause look stays until the user resumes
    }
    Pausado->SwitchOff();
    Panel1->show();
}

void TFormruvo::ServidorDiskFull() {
    PausarRecepcion->setText(kReanudar);
    PlayTune(Tune::Attention);
    if (m_diskFullBoxOpen) {
        return;  // the box already open says it
    }
    const quint64 offer = m_receiving->offerSerial();
    m_diskFullBoxOpen = true;
    const QPointer<TFormruvo> self(this);
    m_dialogs->showMessageLater(this, QStringLiteral("Sin espacio en disco."), [self, offer] {
        if (!self) {
            return;
        }
        self->m_diskFullBoxOpen = false;
        // The blinking "Pausa" starts when the box is gone, and only if the transfer is still
        // the same one and still paused.
        ReceivingService* r = self->m_receiving;
        if (offer == r->offerSerial() && r->state() == ReceivingService::State::Receiving &&
            r->userPaused()) {
            self->Pausado->SwitchOn();
        }
    });
}

void TFormruvo::ShowPausedForUser() {
    Panel1->hide();
    if (!m_diskFullBoxOpen) {
        Pausado->SwitchOn();
    }
}

void TFormruvo::PausarRecepcionClick() {
    if (PausarRecepcion->text() == kPausa) {
        PausarRecepcion->setText(kReanudar);
        m_receiving->pauseByUser();
        return;
    }
    Pausado->SwitchOff();
    PausarRecepcion->setText(kPausa);
    m_receiving->resumeByUser();
}

void TFormruvo::CancelarRecepcionClick() {
    m_receiving->cancel();
    BarraEstado->SetPanelText(1, QStringLiteral("Cancelado."));
}

void TFormruvo::ServidorClientDisconnect(Outcome outcome, bool listening) {
    m_notifier->offerEnded();
    PlayTune(Tune::Disconnect);
    Paginas->setTabVisible(0, true);
    Recibir->setEnabled(false);
    CancelarRecepcion->setEnabled(false);
    PausarRecepcion->setText(kPausa);
    PausarRecepcion->setEnabled(false);
    Parpadeo->SwitchOff();
    Pausado->SwitchOff();
    SetRecibirHighlight(false);
    BarraEstado->SetPanelText(0, QStringLiteral("Desconectado."));
    Panel1->hide();
    if (listening) {
        BarraEstado->SetPanelText(1, QString());
    }
    // Nothing is said of an offer declined here, nor of a sender that went.
    if (outcome != Outcome::Declined && outcome != Outcome::PeerLeft &&
        outcome != Outcome::CancelledByPeer) {
        BarraEstado->SetPanelText(1, outcomeText(outcome, Side::Receiving));
    }
    const ReceivingService::Offer& offer = m_receiving->offer();
    if (outcome == Outcome::Received && offer.kind == TransferOffer::Kind::Text) {
        m_dialogs->showTextLater(this, offer.text, [] {});
    } else if ((outcome == Outcome::Received || outcome == Outcome::Incomplete) &&
               offer.kind == TransferOffer::Kind::Entries) {
        // Where several files went is worth a look: the folder opens on request.
        const QString folder = m_receiving->targetFolder();
        const QString text = QStringLiteral("%1 %2 archivos en %3. ¿Abrir la carpeta?")
                                 .arg(outcomeText(outcome, Side::Receiving))
                                 .arg(offer.fileCount)
                                 .arg(folder);
        m_dialogs->askYesNoLater(this, text, [folder](bool yes) {
            if (yes) {
                QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
            }
        });
    }
}
