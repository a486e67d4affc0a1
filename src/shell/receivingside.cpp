// The receiving side: the "Recibir" page and the connections Servidor accepts. It serves
// one peer at a time, shows its offer, asks the user's questions before accepting, pulls
// the file block by block into the receive folder, follows pauses from either side and
// shows how the reception ended. Extra peers are told they are busy and dismissed.

#include <QCheckBox>
#include <QFrame>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "net/acceptedconnection.h"
#include "net/serverendpoint.h"
#include "shell/formruvo.h"
#include "shell/progressstrip.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "shell/ttimer.h"
#include "shell/userdialogs.h"
#include "transfer/progress.h"
#include "transfer/protocol.h"
#include "transfer/tunes.h"
#include "transfer/wirename.h"
#include "widgets/folderedit.h"
#include "widgets/percentgauge.h"

namespace {

const QString kPausa = QStringLiteral("Pausa");
const QString kReanudar = QStringLiteral("Reanudar");
const QString kCannotOpen = QStringLiteral("No se puede abrir el archivo");

// Marks a connection that was told to go and is waiting out its last 500 ms.
const char* const kDismissed = "ruvoDismissed";
constexpr int kDismissDelayMs = 500;

bool isDismissed(const TSocketConnection* connection) {
    return connection->property(kDismissed).toBool();
}

}  // namespace

TSocketConnection* TFormruvo::ServedConnection() const {
    // Asked several times per block: a member, not the connection's dynamic property.
    return m_served && !m_servedDismissed ? m_served.data() : nullptr;
}

int TFormruvo::ActiveConnectionCount() const {
    int count = 0;
    for (int i = 0; i < Servidor->ConnectionCount(); ++i) {
        const TSocketConnection* connection = Servidor->ConnectionAt(i);
        if (connection->IsConnected() && !isDismissed(connection)) {
            ++count;
        }
    }
    return count;
}

void TFormruvo::Dismiss(TSocketConnection* connection, const QByteArray& notice) {
    // The peer gets its notice and, 500 ms later, an orderly close; the window goes on
    // meanwhile. A dismissed connection is never served and is not counted as open.
    connection->setProperty(kDismissed, true);
    if (connection == m_served) {
        m_servedDismissed = true;
    }
    connection->SendMessage(notice);
    QTimer::singleShot(kDismissDelayMs, connection,
                       [connection] { connection->CloseConnection(); });
}

QString TFormruvo::TargetPath() const {
    return GuardarEn->text() + FicheroRecibido->text();
}

void TFormruvo::ServidorClientConnect(QObject* /*Sender*/, TSocketConnection* Socket) {
    if (ActiveConnectionCount() != 1) {
        Dismiss(Socket, BusyNotice());
        BarraEstado->SetPanelText(1, QStringLiteral("Ocupado"));
        return;
    }
    m_served = Socket;
    m_servedDismissed = false;
    Intruso->SwitchOff();
    BarraEstado->SetPanelText(0, QStringLiteral("Conectado."));
    Intruso->SwitchOn();
    m_progressStrip->Reset();  // Progreso and Avance to 0
    Transcurrido->Tag = 0;
    ServidorTag = 0;
    ReceiveBuffer.reset();
    m_session.reset();
}

void TFormruvo::IntrusoTimer() {
    Intruso->SwitchOff();
    if (TSocketConnection* served = ServedConnection()) {
        Dismiss(served, IntruderNotice());
    }
}

void TFormruvo::ServidorClientRead(QObject* /*Sender*/, TSocketConnection* Socket) {
    if (Socket != ServedConnection()) {
        return;  // the bytes of any other peer stay unread
    }
    TakeInput(Socket, ReceiveBuffer);
    // A box opened by a message runs a nested event loop, in which this handler may run
    // again; that run only collects the bytes, and the outer loop handles them in order.
    if (m_dispatching) {
        return;
    }
    m_dispatching = true;
    QPointer<TSocketConnection> guard(Socket);
    while (guard && Socket == ServedConnection()) {
        const ReceiverInput::Message message = ReceiveBuffer.next();
        if (message.kind == ReceiverInput::Kind::NeedMore) {
            break;
        }
        if (LeavesAnswersUnread(Socket)) {
            Socket->CloseConnection();
            break;
        }
        ReceiverDispatch(message, Socket);
    }
    m_dispatching = false;
    StepActivityBar();
}

void TFormruvo::ReceiverDispatch(const ReceiverInput::Message& message, TSocketConnection* Socket) {
    switch (message.kind) {
        case ReceiverInput::Kind::Offer:
            TakeOffer(message, Socket);
            break;
        case ReceiverInput::Kind::Block:
            TakeBlock(message, Socket);
            break;
        case ReceiverInput::Kind::Pause:
            if (!m_session.takePause()) {
                Socket->CloseConnection();
                break;
            }
            Pausado->SwitchOn();
            Transcurrido->SwitchOff();
            Panel1->hide();
            PausarRecepcion->setEnabled(false);
            break;
        case ReceiverInput::Kind::Resume:
            if (!m_session.takeResume()) {
                Socket->CloseConnection();
                break;
            }
            Pausado->SwitchOff();
            Transcurrido->SwitchOn();
            Panel1->show();
            PausarRecepcion->setEnabled(true);
            RequestNextBlock();
            break;
        case ReceiverInput::Kind::Bad:
        case ReceiverInput::Kind::NeedMore:
            Socket->CloseConnection();
            break;
    }
}

void TFormruvo::TakeOffer(const ReceiverInput::Message& message, TSocketConnection* Socket) {
    // The name becomes part of a path: one that could leave the receive folder, or that no
    // file system takes, is refused before anything else happens.
    if (!isSafeOfferedName(message.name)) {
        Socket->CloseConnection();
        BarraEstado->SetPanelText(1, QStringLiteral("Nombre de archivo no valido"));
        return;
    }
    if (!m_session.takeOffer(message.size)) {
        Socket->CloseConnection();
        return;
    }
    ++m_offerSerial;
    ConnectTune(*m_tones, Notificar->isChecked());
    Transcurrido->Tag = 0;
    Parpadeo->Tag = 0;
    Parpadeo->SwitchOn();
    Paginas->setTabVisible(0, false);
    BarraEstado->SetPanelText(1, QString());
    Panel1->hide();
    DireccionRecibida->setText(Socket->PeerAddressText());
    FicheroRecibido->setText(fromWireName(message.name));
    TamanoRecibido->setText(QString::number(message.size));
    MegasRecibidos->setText(FormatMegabytes(message.size));
    CancelarRecepcion->setEnabled(true);
    Recibir->setEnabled(true);
    Intruso->SwitchOff();
}

void TFormruvo::TakeBlock(const ReceiverInput::Message& message, TSocketConnection* Socket) {
    const ReceiverSession::BlockVerdict verdict =
        m_session.takeBlock(message.index, message.data.size());
    if (!verdict.allowed) {
        Socket->CloseConnection();
        return;
    }
    Panel1->show();
    Recibir->setEnabled(false);
    PausarRecepcion->setEnabled(true);
    Transcurrido->SwitchOn();

    qint64 lengthAfter = -1;
    const FileAccess::WriteResult written = m_files.writeBlock(
        TargetPath(), message.index, QByteArrayView(message.data).first(verdict.writeCount),
        LockedFile::Links::NoFollow, &lengthAfter);
    if (written == FileAccess::WriteResult::OpenFailed) {
        Socket->CloseConnection();
        BarraEstado->SetPanelText(1, kCannotOpen);
        return;
    }
    if (written == FileAccess::WriteResult::WriteFailed &&
        FileAccess::freeSpace(GuardarEn->text()) <= 0) {
        PausarRecepcion->setText(kReanudar);
        Transcurrido->SwitchOff();
        AttentionTune(*m_tones, Notificar->isChecked());
        const QPointer<TSocketConnection> served(Socket);
        const quint64 offer = m_offerSerial;
        m_dialogs->showMessage(this, QStringLiteral("Sin espacio en disco."));
        if (!served || served != ServedConnection() || offer != m_offerSerial) {
            return;  // the peer went while the box was open; the page is listening again
        }
        Pausado->SwitchOn();
        lengthAfter = -1;  // the box ran a nested event loop: measure again
    }
    ShowTransferProgress(message.index, m_session.offeredSize());
    if (PausarRecepcion->text() == kPausa) {
        // The write's own open told the length: the next request needs no open of its own.
        RequestNextBlock(lengthAfter >= 0 ? std::optional<qint64>(lengthAfter) : std::nullopt);
    } else {
        Socket->SendMessage(PauseNotice());
        Panel1->hide();
        Transcurrido->SwitchOff();
        Pausado->SwitchOn();
    }
}

void TFormruvo::RequestNextBlock(std::optional<qint64> knownLength) {
    TSocketConnection* served = ServedConnection();
    // One request outstanding at most: the block that answers it brings the next request,
    // so a resume while a request is unanswered sends nothing and no block travels twice.
    if (served == nullptr || !m_session.mayRequest()) {
        return;
    }
    const std::optional<qint64> length =
        knownLength ? knownLength : m_files.fileLength(TargetPath(), LockedFile::Links::NoFollow);
    if (!length) {
        served->CloseConnection();
        BarraEstado->SetPanelText(1, kCannotOpen);
        return;
    }
    if (*length < m_session.offeredSize()) {
        const qint64 index = *length / kBlockSize;
        m_session.requestSent(index);
        char request[kMaxBlockRequest];
        served->SendMessage(BlockRequestInto(request, index));
    } else {
        served->SendMessage(FinishedNotice());
        ServidorTag = 2;
    }
}

bool TFormruvo::OfferStillOpen(const QPointer<TSocketConnection>& served, quint64 offer) const {
    return served && served == ServedConnection() && offer == m_offerSerial;
}

void TFormruvo::RecibirClick() {
    // Every question below runs a nested event loop. The answer belongs to the peer and the
    // offer it was asked about: if either changed meanwhile, stop without a word.
    const QPointer<TSocketConnection> served(ServedConnection());
    const quint64 offer = m_offerSerial;
    if (!served || !m_session.hasOffer() || m_session.isAccepted()) {
        return;
    }
    if (GuardarEn->text().isEmpty()) {
        // Without a receive folder the file would land in the working folder: ask for one.
        const QString folder = m_dialogs->chooseFolder(this, GuardarEn->InitialDir());
        if (folder.isEmpty() || !OfferStillOpen(served, offer)) {
            return;
        }
        GuardarEn->setText(folder);
    }
    const qint64 size = m_session.offeredSize();
    if (FileAccess::freeSpace(GuardarEn->text()) < size) {
        AttentionTune(*m_tones, Notificar->isChecked());
        const bool yes = m_dialogs->askYesNo(
            this, QStringLiteral("El espacio libre es menor que el de archivo, ¿Continuar?"));
        if (!yes || !OfferStillOpen(served, offer)) {
            return;
        }
    }
    const QString path = TargetPath();
    if (FileAccess::fileExists(path)) {
        AttentionTune(*m_tones, Notificar->isChecked());
        const bool yes =
            m_dialogs->askYesNo(this, QStringLiteral("¿Continuar con el archivo existente?"));
        if (!OfferStillOpen(served, offer)) {
            return;
        }
        if (yes) {
            m_session.accept();
            RequestNextBlock();
        } else {
            served->CloseConnection();
        }
        return;
    }
    // A file that cannot be created shows at the first block, which then cannot be opened.
    FileAccess::createEmpty(path);
    m_session.accept();
    m_session.requestSent(0);
    served->SendMessage(BlockRequest(0));
    Transcurrido->Tag = 0;
    Transcurrido->SwitchOn();
    PausarRecepcion->setEnabled(true);
}

void TFormruvo::PausarRecepcionClick() {
    if (PausarRecepcion->text() == kPausa) {
        PausarRecepcion->setText(kReanudar);
        return;
    }
    Pausado->SwitchOff();
    PausarRecepcion->setText(kPausa);
    Transcurrido->SwitchOn();
    RequestNextBlock();
}

void TFormruvo::CancelarRecepcionClick() {
    if (TSocketConnection* served = ServedConnection()) {
        served->CloseConnection();
    }
    BarraEstado->SetPanelText(1, QStringLiteral("Cancelado."));
}

void TFormruvo::ServidorClientDisconnect(QObject* /*Sender*/, TSocketConnection* Socket) {
    if (Socket != m_served) {
        return;  // a dismissed extra peer, or one that was never served
    }
    m_served = nullptr;
    m_session.reset();
    DisconnectTune(*m_tones, Notificar->isChecked());
    Paginas->setTabVisible(0, true);
    Recibir->setEnabled(false);
    CancelarRecepcion->setEnabled(false);
    PausarRecepcion->setText(kPausa);
    PausarRecepcion->setEnabled(false);
    Parpadeo->SwitchOff();
    Transcurrido->SwitchOff();
    Pausado->SwitchOff();
    SetRecibirHighlight(false);
    BarraEstado->SetPanelText(0, QStringLiteral("Desconectado."));
    Panel1->hide();
    if (StartListening()) {
        BarraEstado->SetPanelText(1, QString());
    }
    if (ServidorTag == 1) {
        BarraEstado->SetPanelText(1, QStringLiteral("Error en la conexion."));
    } else if (ServidorTag == 2) {
        BarraEstado->SetPanelText(1, QStringLiteral("Recibido!"));
    }
}

void TFormruvo::ServidorClientError(QObject* Sender, TSocketConnection* Socket,
                                    TErrorEvent /*ErrorEvent*/, int& ErrorCode) {
    ErrorCode = 0;
    if (Socket == m_served && ServidorTag == 0) {
        ServidorTag = 1;
    }
    // A connection whose error was handled would stay open and counted: close it, which
    // runs ServidorClientDisconnect.
    if (Socket->SocketHandle() != -1) {
        Socket->CloseConnection();
    } else {
        ServidorClientDisconnect(Sender, Socket);
    }
}
