// The sending side: the "Enviar" page and the client endpoint Cliente. It offers the chosen
// file to the address typed, answers every block request of the receiver with one block read
// from the file, pauses, resumes and cancels, and shows how the send ended.

#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include "net/clientendpoint.h"
#include "net/serverendpoint.h"
#include "shell/formruvo.h"
#include "shell/progressstrip.h"
#include "shell/topendialog.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "shell/ttimer.h"
#include "transfer/progress.h"
#include "transfer/protocol.h"
#include "transfer/tunes.h"
#include "transfer/wirename.h"
#include "widgets/percentgauge.h"

#include <QFrame>
#include <QProgressBar>

namespace {

const QString kEnviar = QStringLiteral("Enviar");
const QString kCancelar = QStringLiteral("Cancelar");
const QString kPausa = QStringLiteral("Pausa");
const QString kReanudar = QStringLiteral("Reanudar");

}  // namespace

void TFormruvo::ExaminarClick() {
    BarraEstado->SetPanelText(1, QString());
    if (!OpenDialog1->Execute()) {
        return;
    }
    FicheroEnviado->setText(OpenDialog1->FileName);
    const std::optional<qint64> length = m_files.fileLength(FicheroEnviado->text());
    if (!length) {
        BarraEstado->SetPanelText(1, QStringLiteral("No se puede abrir el archivo"));
        FicheroEnviado->clear();
        Megasenviados->clear();
        return;
    }
    TamanoEnviado->setText(QString::number(*length));
    Megasenviados->setText(FormatMegabytes(TamanoEnviado->text().toLongLong()));
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
        StartSending();
    } else {
        CancelSending();
    }
}

void TFormruvo::StartSending() {
    BarraEstado->SetPanelText(1, QString());
    Examinar->setEnabled(false);
    Enviar->setText(kCancelar);
    DireccionEnviada->setReadOnly(true);
    Paginas->setTabVisible(1, false);
    Conectando->Tag = 0;
    ClienteTag = 0;
    Conectando->SwitchOn();
    Panel1->hide();
    Servidor->SetActive(false);
    m_senderInput.reset();
    try {
        Cliente->SetAddress(DireccionEnviada->text());
        Cliente->SetActive(true);
    } catch (const std::exception&) {
        // A connect refused at once has already run ClienteDisconnect through the closing
        // socket. When no socket could even be made, nothing has: clean up the same way, so
        // the page never stays in its connecting look.
        if (Enviar->text() == kCancelar) {
            ClienteDisconnect(Cliente, Cliente->Connection());
        }
        BarraEstado->SetPanelText(1, QStringLiteral("Direccion Erronea."));
    }
}

void TFormruvo::CancelSending() {
    Enviar->setText(kEnviar);
    Examinar->setEnabled(true);
    DireccionEnviada->setReadOnly(false);
    Conectando->SwitchOff();
    Cliente->Connection()->CloseConnection();
    Cliente->SetActive(false);
    StartListening();
}

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

void TFormruvo::ClienteConnect(QObject* /*Sender*/, TSocketConnection* Socket) {
    ClienteTag = 0;
    ConnectTune(*m_tones, Notificar->isChecked());
    Conectando->SwitchOff();
    BarraEstado->SetPanelText(0, QStringLiteral("Conectado."));
    const QString name = QFileInfo(OpenDialog1->FileName).fileName();
    Socket->SendMessage(OfferMessage(toWireName(name), TamanoEnviado->text().toLongLong()));
    m_progressStrip->Reset();  // Progreso and Avance to 0
    Transcurrido->Tag = 0;
}

void TFormruvo::ClienteRead(QObject* /*Sender*/, TSocketConnection* Socket) {
    TakeInput(Socket, m_senderInput);
    // Each complete message is handled once, in order, until one of them ends the
    // connection; a message cut short by the read waits for the next one.
    while (Socket->IsConnected()) {
        const SenderInput::Message message = m_senderInput.next();
        if (message.kind == SenderInput::Kind::NeedMore) {
            break;
        }
        if (LeavesAnswersUnread(Socket)) {
            Socket->CloseConnection();
            break;
        }
        SenderDispatch(message, Socket);
    }
    StepActivityBar();
}

void TFormruvo::SenderDispatch(const SenderInput::Message& message, TSocketConnection* Socket) {
    switch (message.kind) {
        case SenderInput::Kind::Request:
            PausarEnvio->setEnabled(true);
            Transcurrido->SwitchOn();
            Panel1->show();
            Pausado->SwitchOff();
            SendBlock(message.index);
            ShowTransferProgress(message.index, TamanoEnviado->text().toLongLong());
            break;
        case SenderInput::Kind::Pause:
            Pausado->SwitchOn();
            Transcurrido->SwitchOff();
            Panel1->hide();
            PausarEnvio->setEnabled(false);
            break;
        case SenderInput::Kind::Busy:
            ClienteTag = 3;
            break;
        case SenderInput::Kind::Finished:
            ClienteTag = 2;
            Cliente->Connection()->CloseConnection();
            break;
        case SenderInput::Kind::Bad:
        case SenderInput::Kind::NeedMore:
            Socket->CloseConnection();
            break;
    }
}

void TFormruvo::SendBlock(qint64 index) {
    TSocketConnection* connection = Cliente->Connection();
    LockedFile file = m_files.openWithRetries(FicheroEnviado->text(), LockedFile::Access::Read);
    if (!file.isOpen()) {
        connection->CloseConnection();
        BarraEstado->SetPanelText(1, QStringLiteral("No se puede abrir el archivo"));
        return;
    }
    const qint64 offset = index * kBlockSize;
    const qint64 count = file.readAt(offset, m_blockMessage.payload(), kBlockSize);
    file.close();

    if (PausarEnvio->text() != kPausa) {
        connection->SendMessage(PauseNotice());
        Pausado->SwitchOn();
        Panel1->hide();
        Transcurrido->SwitchOff();
        return;
    }
    // A read that fails, or finds nothing where the offered size says bytes are due (the
    // file shrank since it was offered), would make the receiver ask for this block forever.
    if (count < 0 || (count == 0 && offset < TamanoEnviado->text().toLongLong())) {
        connection->CloseConnection();
        BarraEstado->SetPanelText(1, QStringLiteral("No se puede leer el archivo"));
        return;
    }
    connection->SendMessage(m_blockMessage.finish(index, count));
}

void TFormruvo::PausarEnvioClick() {
    if (PausarEnvio->text() == kPausa) {
        PausarEnvio->setText(kReanudar);
        return;
    }
    Pausado->SwitchOff();
    PausarEnvio->setText(kPausa);
    Cliente->Connection()->SendMessage(ResumeNotice());
    Transcurrido->SwitchOn();
}

void TFormruvo::ClienteDisconnect(QObject* /*Sender*/, TSocketConnection* /*Socket*/) {
    DisconnectTune(*m_tones, Notificar->isChecked());
    Transcurrido->SwitchOff();
    Pausado->SwitchOff();
    Intruso->SwitchOff();
    Conectando->SwitchOff();
    BarraEstado->SetPanelText(0, QStringLiteral("Desconectado."));
    Panel1->hide();
    Paginas->setTabVisible(1, true);
    Examinar->setEnabled(true);
    Enviar->setText(kEnviar);
    PausarEnvio->setText(kPausa);
    PausarEnvio->setEnabled(false);
    DireccionEnviada->setReadOnly(false);
    Cliente->SetActive(false);
    if (StartListening()) {
        BarraEstado->SetPanelText(1, QString());
    }
    switch (ClienteTag) {
        case 1:
            BarraEstado->SetPanelText(1, QStringLiteral("Error en la conexion."));
            break;
        case 2:
            BarraEstado->SetPanelText(1, QStringLiteral("Enviado!"));
            break;
        case 3:
            BarraEstado->SetPanelText(1, QStringLiteral("Destino Ocupado."));
            break;
        default:
            break;
    }
}

void TFormruvo::ClienteError(QObject* Sender, TSocketConnection* Socket, TErrorEvent /*ErrorEvent*/,
                             int& ErrorCode) {
    ErrorCode = 0;
    if (ClienteTag == 0) {
        ClienteTag = 1;
    }
    // Close a socket the error left open (a failed connect, a reset) at once; the close
    // runs ClienteDisconnect. Without a socket, run the clean-up directly.
    if (Socket->SocketHandle() != -1) {
        Socket->CloseConnection();
    } else {
        ClienteDisconnect(Sender, Socket);
    }
}
