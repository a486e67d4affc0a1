#pragma once

#include <QByteArray>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

#include "net/socketconnection.h"
#include "shell/formoptions.h"
#include "transfer/blockmessagebuffer.h"
#include "transfer/fileaccess.h"
#include "transfer/protocol.h"
#include "transfer/receiverinput.h"
#include "transfer/receiversession.h"
#include "transfer/senderinput.h"

class QCheckBox;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TClientEndpoint;
class TFolderEdit;
class TGroupBox;
class TOpenDialog;
class TPageControl;
class TPercentGauge;
class TPlacementKeeper;
class ProgressStrip;
class TServerEndpoint;
class TStatusBar;
class TTimer;

// The main window: three pages ("Enviar", "Recibir", "Configurar") with tabs along the
// bottom, the status bar with the progress strip over its second panel, the five timers,
// the two socket endpoints, the two settings and the window placement.
//
// The transfer roles keep their state in this window's controls (captions as flags, texts
// read back as numbers) and in the Tag of a few components, so the controls are public.
// Cliente and Servidor carry their Tag in ClienteTag and ServidorTag beside them.
//
// Construction builds every control in its start state, binds every handler, and runs
// FormCreate (settings, status text, Start listening); an exception from FormCreate is shown
// in the error box and the window is made all the same. Closing the window saves its
// placement; destruction saves it if that did not happen, then runs FormDestroy (settings
// written), then destroys the endpoints without further events.
class TFormruvo : public QWidget {
    Q_OBJECT

public:
    explicit TFormruvo(const FormOptions& options = FormOptions(), QWidget* parent = nullptr);
    ~TFormruvo() override;

    // Page control and pages.
    TPageControl* Paginas;
    QWidget* TabSheet4;  // "Enviar", page index 0
    QWidget* TabSheet5;  // "Recibir", page index 1
    QWidget* TabSheet6;  // "Configurar", page index 2
    TGroupBox* GroupBox4;
    TGroupBox* GroupBox5;
    TGroupBox* GroupBox6;

    // "Enviar" page.
    QLabel* Label16;
    QLineEdit* FicheroEnviado;
    QPushButton* Examinar;
    QLabel* Label15;
    QLineEdit* Megasenviados;
    QLineEdit* TamanoEnviado;
    QLabel* Label13;
    QPushButton* PausarEnvio;
    QLabel* Label14;
    QLineEdit* DireccionEnviada;
    QPushButton* Enviar;

    // "Recibir" page.
    QLabel* Label20;
    QLineEdit* FicheroRecibido;
    QPushButton* Recibir;
    QLabel* Label19;
    QLineEdit* MegasRecibidos;
    QLineEdit* TamanoRecibido;
    QLabel* Label18;
    QPushButton* PausarRecepcion;
    QLabel* Label17;
    QLineEdit* DireccionRecibida;
    QPushButton* CancelarRecepcion;

    // "Configurar" page.
    QLabel* Label21;
    TFolderEdit* GuardarEn;
    QCheckBox* Notificar;

    // Bottom strip.
    TStatusBar* BarraEstado;
    QFrame* Panel1;
    TPercentGauge* Progreso;
    QLabel* Frecuencia;
    QProgressBar* Avance;

    // Non-visual parts.
    TClientEndpoint* Cliente;
    TServerEndpoint* Servidor;
    int ClienteTag = 0;
    int ServidorTag = 0;
    TOpenDialog* OpenDialog1;
    TTimer* Conectando;
    TTimer* Pausado;
    TTimer* Parpadeo;
    TTimer* Transcurrido;
    TTimer* Intruso;
    TPlacementKeeper* Placement1;

    // Input of the served connection not handled yet, cut into messages.
    ReceiverInput ReceiveBuffer;

    UserDialogs* Dialogs() const { return m_dialogs; }
    ToneDevice* Tones() const { return m_tones; }
    const FormOptions& Options() const { return m_options; }

    // Activates Servidor. On any failure panel 1 shows "[Recibir] No Disponible" and the
    // "Recibir" tab is hidden; the error goes no further. True when listening.
    bool StartListening();

    // The highlight of the "Recibir" tab (the blinking that announces an offer).
    void SetRecibirHighlight(bool on);
    bool RecibirHighlighted() const;

    // Handlers of the window itself.
    void FormCreate();
    void FormDestroy();
    void GuardarEnChange();
    void PaginasChange();

    // Handlers of the sending side ("Enviar" page and Cliente).
    void ExaminarClick();
    void DireccionenviadaChange();
    // Key is a Qt::Key code; setting it to 0 swallows the key.
    void DireccionenviadaKeyDown(int& Key, Qt::KeyboardModifiers Shift);
    void EnviarClick();
    void PausarEnvioClick();
    void ConectandoTimer();
    void ClienteConnect(QObject* Sender, TSocketConnection* Socket);
    void ClienteRead(QObject* Sender, TSocketConnection* Socket);
    void ClienteDisconnect(QObject* Sender, TSocketConnection* Socket);
    void ClienteError(QObject* Sender, TSocketConnection* Socket, TErrorEvent ErrorEvent,
                      int& ErrorCode);

    // Handlers of the receiving side ("Recibir" page and Servidor).
    void ServidorClientConnect(QObject* Sender, TSocketConnection* Socket);
    void ServidorClientRead(QObject* Sender, TSocketConnection* Socket);
    void ServidorClientDisconnect(QObject* Sender, TSocketConnection* Socket);
    void ServidorClientError(QObject* Sender, TSocketConnection* Socket, TErrorEvent ErrorEvent,
                             int& ErrorCode);
    void RecibirClick();
    void PausarRecepcionClick();
    void CancelarRecepcionClick();
    void IntrusoTimer();

    // Handlers of the shared progress display.
    void TranscurridoTimer();
    void PausadoTimer();
    void ParpadeoTimer();

    // The routines of the two roles and of the progress display.
    void SenderDispatch(const SenderInput::Message& message, TSocketConnection* Socket);
    void SendBlock(qint64 index);
    void ReceiverDispatch(const ReceiverInput::Message& message, TSocketConnection* Socket);
    // Asks for the block at the file's end, or tells the peer the file is complete. The
    // length is measured with an open of the file unless the caller knows it already.
    void RequestNextBlock(std::optional<qint64> knownLength = std::nullopt);
    void ShowTransferProgress(qint64 index, qint64 total);
    void StepActivityBar();
    // The connection the receiving side serves: the oldest one open that was not told to
    // go; null when there is none.
    TSocketConnection* ServedConnection() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void bindHandlers();

    void StartSending();
    void CancelSending();
    void TakeOffer(const ReceiverInput::Message& message, TSocketConnection* Socket);
    void TakeBlock(const ReceiverInput::Message& message, TSocketConnection* Socket);
    int ActiveConnectionCount() const;
    void Dismiss(TSocketConnection* connection, const QByteArray& notice);
    // Reads the input of a peer straight into its framing, at most kInputSlice bytes per read
    // event: a flood is handled in slices (the rest is reported again at once), so the
    // window handles its other events in between.
    static void TakeInput(TSocketConnection* Socket, SenderInput& input);
    static void TakeInput(TSocketConnection* Socket, ReceiverInput& input);
    // Whether a peer leaves more than kMaxUnreadBytes of our answers unread (queued by us or
    // by the kernel). The protocol has one message in flight, so a peer that asks for more
    // meanwhile is no peer of it: its requests would pile up answers without bound. Our own
    // queue is looked at for every message, the kernel's (a system call) every
    // kKernelQueueCheckInterval messages, which still stops a flood within a few blocks.
    bool LeavesAnswersUnread(TSocketConnection* Socket);
    QString TargetPath() const;
    bool OfferStillOpen(const QPointer<TSocketConnection>& served, quint64 offer) const;

    FormOptions m_options;
    std::unique_ptr<UserDialogs> m_ownDialogs;
    UserDialogs* m_dialogs;
    std::unique_ptr<ToneDevice> m_ownTones;
    ToneDevice* m_tones;

    ProgressStrip* m_progressStrip = nullptr;  // Progreso, Frecuencia and Avance, paced
    FileAccess m_files;
    BlockMessageBuffer m_blockMessage;  // the block being sent, read straight into it
    SenderInput m_senderInput;
    ReceiverSession m_session;
    QPointer<TSocketConnection> m_served;
    bool m_servedDismissed = false;  // told to go: waits out its last moments unserved
    quint64 m_offerSerial = 0;       // counts offers, so an answer can tell it still fits
    bool m_dispatching = false;
    int m_messagesSinceKernelQueueCheck = 0;
};

// The program's one main window (the latest made, while it exists).
extern TFormruvo* Formruvo;
