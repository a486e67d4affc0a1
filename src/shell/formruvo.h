#pragma once

#include <QByteArray>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "engine/outcome.h"
#include "engine/pairingoutcome.h"
#include "engine/receivingservice.h"
#include "engine/sendingsession.h"
#include "engine/transferprogress.h"
#include "shell/formoptions.h"
#include "sound/tuneplayer.h"

class QAction;
class QCheckBox;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class TFolderEdit;
class TGroupBox;
class TOpenDialog;
class TPageControl;
class TPercentGauge;
class TPlacementKeeper;
class AddressChooser;
class LaneIdentity;
class BackgroundTray;
class OfferNotifier;
class PairingRequest;
class PeerBrowser;
class ServiceAnnouncer;
class ProgressStrip;
class TStatusBar;
class TTimer;

// The main window: three pages ("Enviar", "Recibir", "Configurar") with tabs along the
// bottom, the status bar with the progress strip over its second panel, the five timers,
// the two socket endpoints, the two settings and the window placement.
//
// The window is a view of the two transfer roles (SendingSession and ReceivingService): the
// handlers below turn what the user does into calls of the roles, and what the roles report
// into captions, texts, timers that only draw (Pausado, Parpadeo) and tunes. The controls
// are public for the tests and the test harness.
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
    QCheckBox* Anunciar;   // "Visible en la red": announce this copy on the local network
    QCheckBox* ViaRapida;  // "Via rapida": the fast lane between two copies
    // An icon in the system tray, and receiving goes on with the window closed (off by
    // default). Shows the program's icon instead of a caption: the page has no room left.
    QCheckBox* Bandeja;
    // Lane offers from computers the user trusts are accepted without asking (off by
    // default). A button that stays pressed while on, by its icon alone (a shield, grey or
    // green), between Bandeja and "Via rapida": a box with a caption would not fit.
    QToolButton* AceptarConfianza;
    // The drop-down of DireccionEnviada: copies found on the network, recent addresses.
    AddressChooser* Direcciones;

    // Bottom strip.
    TStatusBar* BarraEstado;
    QFrame* Panel1;
    TPercentGauge* Progreso;
    QLabel* Frecuencia;
    QProgressBar* Avance;

    // Non-visual parts. The sockets, the intruder timer and the transfer's clock belong to
    // the engine; the window keeps what only draws.
    TOpenDialog* OpenDialog1;
    TTimer* Conectando;
    TTimer* Pausado;
    TTimer* Parpadeo;
    TPlacementKeeper* Placement1;

    SendingSession* Sending() const { return m_sending; }
    ReceivingService* Receiving() const { return m_receiving; }
    // This copy's side of a pairing it asks for ("Emparejar"); null without the lane.
    PairingRequest* Pairing() const { return m_pairing; }

    UserDialogs* Dialogs() const { return m_dialogs; }
    ToneDevice* Tones() const { return m_tones; }
    const FormOptions& Options() const { return m_options; }

    // Activates Servidor. On any failure panel 1 shows "[Recibir] No Disponible" and the
    // "Recibir" tab is hidden; the error goes no further. True when listening.
    bool StartListening();
    // Announces this copy while it listens and "Visible en la red" is on; withdraws the
    // announcement otherwise.
    void UpdateAnnouncement();
    // Both roles take the fast lane while "Via rapida" is on (and the window may use it).
    void ViaRapidaChange();
    // The mark of a transfer over the fast lane: the gauge is drawn in green, and says so to
    // a pointer and a screen reader.
    void MarkLane(bool lane);

    // "Bandeja" switched: the tray icon follows it.
    void BandejaChange();
    // Ends the program even while the tray keeps it running (SIGTERM, "Salir" in the tray's
    // menu); with the tray off it is the same as closing the window.
    void Quit();
    // This copy's name and addresses, in the status bar's tooltip and its description to a
    // screen reader, and in the tray icon's tooltip.
    void UpdateThisCopyText();
    BackgroundTray* Tray() const { return m_tray; }

    // The highlight of the "Recibir" tab (the blinking that announces an offer).
    void SetRecibirHighlight(bool on);
    bool RecibirHighlighted() const;

    // Handlers of the window itself.
    void FormCreate();
    void FormDestroy();
    void GuardarEnChange();
    void PaginasChange();

    // Handlers of the sending side ("Enviar" page and what the sending role reports).
    void ExaminarClick();
    // Chooses the file to send, as the open dialog does; false when it cannot be opened.
    bool ChooseFileToSend(const QString& path);
    // Chooses files and folders to send: one plain file as above, several (or a folder) as
    // one offer; false when nothing can be sent.
    bool ChooseFilesToSend(const QStringList& paths);
    void DireccionenviadaChange();
    // Key is a Qt::Key code; setting it to 0 swallows the key.
    void DireccionenviadaKeyDown(int& Key, Qt::KeyboardModifiers Shift);
    void EnviarClick();
    void PausarEnvioClick();
    void ConectandoTimer();
    void ClienteConnect();
    void ClienteBlockRequested();
    void ClientePaused();
    void ClienteDisconnect(Outcome outcome, bool listening);
    // A send stopped before offering anything because the computer at the address is known
    // by its identity and answered with another one, or not on the lane: the user is asked
    // whether to send all the same (accepting the new identity, or unencrypted).
    void AskToSendAgain(Outcome outcome);

    // Handlers of the receiving side ("Recibir" page and what the receiving role reports).
    void ServidorClientConnect();
    void ServidorOffer(const ReceivingService::Offer& offer);
    void ServidorQuestion(quint64 id, ReceivingService::Question question);
    void ServidorBlockArrived();
    void ServidorPeerPaused();
    void ServidorPeerResumed(bool userStillPaused);
    void ServidorDiskFull();
    void ServidorClientDisconnect(Outcome outcome, bool listening);
    void RecibirClick();
    // "Recibir" chosen on the desktop notification: the window comes to the front for the
    // questions, then it is as if the button was clicked.
    void RecibirFromNotification();
    void PausarRecepcionClick();
    void CancelarRecepcionClick();

    // Pairing ("Emparejar" in the address list, or asked for by another copy): the code is
    // shown in a question, the answer goes to the engine, the end is said in a box.
    void EmparejarClick(const QString& address);
    void PairingCodeShown(const QString& code, std::function<void(bool yes)> answer);
    void PairingEnded(PairingOutcome outcome, const QString& peer);

    // Handlers of the shared progress display.
    void PausadoTimer();
    void ParpadeoTimer();

    void ShowTransferProgress(const TransferProgress& progress);
    // The user paused and the peer was told: the pause look.
    void ShowPausedForUser();
    void StepActivityBar();
    // A tune, when "Notificar con sonidos" is on; it sounds on a thread of its own.
    void PlayTune(Tune tune);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void bindHandlers();
    void bindRoles();

    FormOptions m_options;
    std::unique_ptr<UserDialogs> m_ownDialogs;
    UserDialogs* m_dialogs;
    std::unique_ptr<ToneDevice> m_ownTones;
    ToneDevice* m_tones;
    std::unique_ptr<TunePlayer> m_tunes;

    ProgressStrip* m_progressStrip = nullptr;  // Progreso, Frecuencia and Avance, paced
    ReceivingService* m_receiving = nullptr;
    SendingSession* m_sending = nullptr;
    PairingRequest* m_pairing = nullptr;
    OfferNotifier* m_notifier = nullptr;
    PeerBrowser* m_browser = nullptr;                    // null without discovery
    std::shared_ptr<const LaneIdentity> m_laneIdentity;  // null without the lane
    std::unique_ptr<ServiceAnnouncer> m_announcer;
    quint16 m_announcedPort = 0;      // the port the window listens on between sends
    QAction* m_senderMark = nullptr;  // in DireccionRecibida: a lane sender trusted or not
    bool m_diskFullBoxOpen = false;
    bool m_sendOnLane = false;  // the send under way (or just ended) went over the lane
    BackgroundTray* m_tray = nullptr;
    bool m_quitting = false;
};

// The program's one main window (the latest made, while it exists).
extern TFormruvo* Formruvo;
