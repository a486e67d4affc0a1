#include "shell/formruvo.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QToolButton>

#include <exception>
#include <utility>

#include "common/settingsstore.h"
#include "discovery/peerbrowser.h"
#include "discovery/serviceannouncer.h"
#include "engine/laneidentity.h"
#include "engine/pairingrequest.h"
#include "engine/receivefolder.h"
#include "engine/ttimer.h"
#include "shell/accessibility.h"
#include "shell/addresschooser.h"
#include "shell/apptitle.h"
#include "shell/backgroundtray.h"
#include "shell/offernotifier.h"
#include "shell/paintpacer.h"
#include "shell/placementkeeper.h"
#include "shell/progressstrip.h"
#include "shell/qtuserdialogs.h"
#include "shell/sendpagedrop.h"
#include "shell/tabicons.h"
#include "shell/tactivitybar.h"
#include "shell/tgroupbox.h"
#include "shell/thiscopy.h"
#include "shell/topendialog.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "sound/tonedevice.h"
#include "sound/tuneplayer.h"
#include "widgets/folderedit.h"
#include "widgets/innerbutton.h"
#include "widgets/percentgauge.h"

TFormruvo* Formruvo = nullptr;

namespace {

constexpr int kClientWidth = 252;
constexpr int kClientHeight = 134;
const QPoint kDesignedPosition(182, 224);
const QRect kFrameGeometry(1, -5, 239, 84);  // each page's frame, inside its page

// The window's font: a sans-serif face whose 11-pixel size (8 points at 96 dots per inch)
// has a 13-pixel line and is narrow enough for the labels and status texts of the layout.
QFont windowFont() {
    QFont font;
    font.setFamilies(
        {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    return font;
}

template <typename T>
T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

TFormruvo::TFormruvo(const FormOptions& options, QWidget* parent)
    : QWidget(parent), m_options(options), m_dialogs(options.dialogs), m_tones(options.tones) {
    if (!m_dialogs) {
        m_ownDialogs = std::make_unique<QtUserDialogs>();
        m_dialogs = m_ownDialogs.get();
    }
    if (!m_tones) {
        m_ownTones = probeToneDevice();
        m_tones = m_ownTones.get();
    }
    m_tunes = std::make_unique<TunePlayer>(*m_tones);
    Formruvo = this;
    installAccessibility();
    createControls();
    bindHandlers();
    // A transfer changes the progress strip with every block; the window paints it at a
    // steady pace instead.
    new PaintPacer(this);

    const QString configDir =
        m_options.configDir.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            : m_options.configDir;
    Placement1 =
        named(new TPlacementKeeper(this, configDir + QStringLiteral("/Ruvo/ruvo.INI"), m_dialogs),
              "Placement1");

    // FormCreate runs before the event loop, outside the application's own catch.
    try {
        FormCreate();
    } catch (const std::exception& e) {
        m_dialogs->showError(this, QString::fromUtf8(e.what()));
    }
}

TFormruvo::~TFormruvo() {
    Placement1->OwnerDestroying();
    try {
        FormDestroy();
    } catch (const std::exception& e) {
        m_dialogs->showError(this, QString::fromUtf8(e.what()));
    }
    // The roles go first, while every control their last events could touch exists.
    delete m_sending;
    m_sending = nullptr;
    delete m_receiving;
    m_receiving = nullptr;
    if (Formruvo == this) {
        Formruvo = nullptr;
    }
}

void TFormruvo::createControls() {
    setObjectName(QStringLiteral("Formruvo"));
    if (QApplication::style()->name() != QLatin1String("fusion")) {
        QApplication::setStyle(QStringLiteral("Fusion"));
    }
    setWindowTitle(appTitle());
    setWindowIcon(programIcon());
    // Single border, system menu and minimize button; no maximize, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    move(kDesignedPosition);
    const QFont font = windowFont();
    setFont(font);
    QFont bold = font;
    bold.setBold(true);

    auto label = [&](QWidget* parent, const char* name, const QString& text, int x, int y,
                     bool isBold = true) {
        QLabel* l = named(new QLabel(text, parent), name);
        if (isBold) {
            l->setFont(bold);
        }
        l->move(x, y);
        l->adjustSize();
        return l;
    };
    auto edit = [&](QWidget* parent, const char* name, const QRect& geometry, bool readOnly) {
        QLineEdit* e = named(new QLineEdit(parent), name);
        e->setGeometry(geometry);
        if (readOnly) {
            e->setReadOnly(true);
            e->setFocusPolicy(Qt::ClickFocus);  // no Tab stop; text can still be selected
        }
        return e;
    };
    auto button = [&](QWidget* parent, const char* name, const QString& text, const QRect& g,
                      bool enabled) {
        QPushButton* b = named(new QPushButton(text, parent), name);
        b->setGeometry(g);
        b->setEnabled(enabled);
        b->setAutoDefault(true);  // Enter on a focused button clicks it
        return b;
    };

    Paginas = named(new TPageControl(this), "Paginas");
    Paginas->setGeometry(2, 2, 249, 111);
    TabSheet4 = named(new QWidget, "TabSheet4");
    TabSheet5 = named(new QWidget, "TabSheet5");
    TabSheet6 = named(new QWidget, "TabSheet6");
    Paginas->addTab(TabSheet4, sendTabIcon(), QStringLiteral("Enviar"));
    Paginas->addTab(TabSheet5, receiveTabIcon(), QStringLiteral("Recibir"));
    Paginas->addTab(TabSheet6, settingsTabIcon(), QStringLiteral("Configurar"));
    GroupBox4 = named(new TGroupBox(TabSheet4), "GroupBox4");
    GroupBox5 = named(new TGroupBox(TabSheet5), "GroupBox5");
    GroupBox6 = named(new TGroupBox(TabSheet6), "GroupBox6");
    for (TGroupBox* g : {GroupBox4, GroupBox5, GroupBox6}) {
        g->setGeometry(kFrameGeometry);
    }

    // "Enviar".
    Label16 = label(GroupBox4, "Label16", QStringLiteral("Archivo"), 5, 12);
    FicheroEnviado = edit(GroupBox4, "FicheroEnviado", QRect(62, 10, 107, 21), true);
    Examinar =
        button(GroupBox4, "Examinar", QStringLiteral("Examinar"), QRect(175, 11, 60, 21), true);
    Label15 = label(GroupBox4, "Label15", QStringLiteral("Tamaño"), 5, 37);
    Megasenviados = edit(GroupBox4, "Megasenviados", QRect(62, 33, 85, 21), true);
    TamanoEnviado = edit(GroupBox4, "TamanoEnviado", QRect(62, 33, 76, 21), true);
    TamanoEnviado->hide();
    Label13 = label(GroupBox4, "Label13", QStringLiteral("Mb"), 150, 37);
    PausarEnvio =
        button(GroupBox4, "PausarEnvio", QStringLiteral("Pausa"), QRect(175, 35, 60, 21), false);
    Label14 = label(GroupBox4, "Label14", QStringLiteral("Direccion"), 5, 63);
    DireccionEnviada = edit(GroupBox4, "DireccionEnviada", QRect(62, 58, 107, 21), false);
    Enviar = button(GroupBox4, "Enviar", QStringLiteral("Enviar"), QRect(175, 59, 60, 21), false);

    // "Recibir".
    Label20 = label(GroupBox5, "Label20", QStringLiteral("Archivo"), 5, 12);
    FicheroRecibido = edit(GroupBox5, "FicheroRecibido", QRect(62, 10, 107, 21), true);
    Recibir =
        button(GroupBox5, "Recibir", QStringLiteral("Recibir"), QRect(175, 11, 60, 21), false);
    Label19 = label(GroupBox5, "Label19", QStringLiteral("Tamaño"), 5, 37);
    MegasRecibidos = edit(GroupBox5, "MegasRecibidos", QRect(62, 33, 85, 21), true);
    TamanoRecibido = edit(GroupBox5, "TamanoRecibido", QRect(62, 33, 76, 21), true);
    TamanoRecibido->hide();
    Label18 = label(GroupBox5, "Label18", QStringLiteral("Mb"), 150, 37);
    PausarRecepcion = button(GroupBox5, "PausarRecepcion", QStringLiteral("Pausa"),
                             QRect(175, 35, 60, 21), false);
    Label17 = label(GroupBox5, "Label17", QStringLiteral("Direccion"), 5, 63);
    DireccionRecibida = edit(GroupBox5, "DireccionRecibida", QRect(62, 58, 107, 21), true);
    CancelarRecepcion = button(GroupBox5, "CancelarRecepcion", QStringLiteral("Cancelar"),
                               QRect(175, 59, 60, 21), false);
    // Whether a lane offer's sender is trusted, at the field's end; a classic offer shows
    // none.
    m_senderMark = new QAction(DireccionRecibida);
    DireccionRecibida->addAction(m_senderMark, QLineEdit::TrailingPosition);
    m_senderMark->setVisible(false);

    // "Configurar".
    Label21 = label(GroupBox6, "Label21", QStringLiteral("Guadar Archivos en:"), 6, 10, false);
    GuardarEn = named(new TFolderEdit(GroupBox6), "GuardarEn");
    GuardarEn->setGeometry(8, 24, 225, 20);
    Notificar =
        named(new QCheckBox(QStringLiteral("Notificar con sonidos"), GroupBox6), "Notificar");
    Notificar->setGeometry(8, 52, 121, 17);
    Anunciar = named(new QCheckBox(QStringLiteral("Visible en la red"), GroupBox6), "Anunciar");
    Anunciar->setGeometry(132, 52, 103, 17);
    Anunciar->setChecked(true);
    ViaRapida = named(new QCheckBox(QStringLiteral("Via rapida"), GroupBox6), "ViaRapida");
    ViaRapida->setGeometry(166, 6, 69, 17);
    ViaRapida->setChecked(true);
    // Between the folder's caption and "Via rapida", where a caption would not fit.
    Bandeja = named(new QCheckBox(GroupBox6), "Bandeja");
    Bandeja->setIcon(programIcon());
    Bandeja->setIconSize(QSize(12, 12));
    Bandeja->setGeometry(108, 6, 40, 17);
    Bandeja->setToolTip(QStringLiteral(
        "Icono en la bandeja del sistema: al cerrar la ventana se sigue recibiendo"));
    Bandeja->setAccessibleName(QStringLiteral("Recibir con la ventana cerrada"));
    Bandeja->setAccessibleDescription(Bandeja->toolTip());
    AceptarConfianza = named(new QToolButton(GroupBox6), "AceptarConfianza");
    AceptarConfianza->setCheckable(true);
    AceptarConfianza->setIcon(trustedToggleIcon());
    AceptarConfianza->setIconSize(QSize(12, 12));
    AceptarConfianza->setGeometry(149, 6, 16, 17);
    AceptarConfianza->setFocusPolicy(Qt::StrongFocus);
    AceptarConfianza->setToolTip(
        QStringLiteral("Aceptar sin preguntar lo que envien equipos de confianza"));
    AceptarConfianza->setAccessibleName(AceptarConfianza->toolTip());

    // Names for assistive technology: each field is named by its caption.
    for (auto [field, caption] : {std::pair<QWidget*, QLabel*>{FicheroEnviado, Label16},
                                  {Megasenviados, Label15},
                                  {DireccionEnviada, Label14},
                                  {FicheroRecibido, Label20},
                                  {MegasRecibidos, Label19},
                                  {DireccionRecibida, Label17},
                                  {GuardarEn, Label21}}) {
        field->setAccessibleName(caption->text());
    }
    TabSheet4->setAccessibleName(QStringLiteral("Enviar"));
    TabSheet5->setAccessibleName(QStringLiteral("Recibir"));
    TabSheet6->setAccessibleName(QStringLiteral("Configurar"));
    GuardarEn->Button()->setAccessibleName(QStringLiteral("Elegir carpeta"));

    // Tab order inside the pages; disabled and hidden controls are skipped.
    setTabOrder(Examinar, DireccionEnviada);
    setTabOrder(DireccionEnviada, Enviar);
    setTabOrder(Enviar, PausarEnvio);
    setTabOrder(PausarEnvio, Recibir);
    setTabOrder(Recibir, CancelarRecepcion);
    setTabOrder(CancelarRecepcion, PausarRecepcion);
    setTabOrder(PausarRecepcion, GuardarEn);
    setTabOrder(GuardarEn, Notificar);
    setTabOrder(Notificar, Anunciar);
    setTabOrder(Anunciar, ViaRapida);
    setTabOrder(ViaRapida, Bandeja);
    setTabOrder(Bandeja, AceptarConfianza);
    Paginas->setCurrentIndex(0);

    // Bottom strip.
    BarraEstado = named(new TStatusBar(this), "BarraEstado");
    BarraEstado->setGeometry(0, 114, kClientWidth, 20);
    Panel1 = named(new QFrame(this), "Panel1");
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setGeometry(87, 116, 164, 18);
    Panel1->raise();
    Panel1->hide();
    Progreso = named(new TPercentGauge(Panel1), "Progreso");
    Progreso->setGeometry(0, 1, 83, 16);
    Progreso->SetForeColor(QColor(0, 0, 128));
    Progreso->setAccessibleName(QStringLiteral("Progreso"));
    Frecuencia = named(new QLabel(Panel1), "Frecuencia");
    Frecuencia->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Frecuencia->setGeometry(84, 2, 138 - 84, 14);  // the right edge stays at 138
    // Of fixed size, so that a new rate text (nearly every block) does not ask the strip
    // for a new layout through a posted event each time.
    Frecuencia->setFixedSize(Frecuencia->size());
    Avance = named(new TActivityBar(Panel1), "Avance");
    Avance->setOrientation(Qt::Vertical);
    Avance->setRange(0, 100);
    Avance->setValue(0);
    Avance->setTextVisible(false);
    Avance->setGeometry(144, 0, 20, 18);
    m_progressStrip = new ProgressStrip(Frecuencia, Progreso, Avance, this);

    // Non-visual parts.
    m_receiving = new ReceivingService(m_options.listenPort, this);
    m_sending = new SendingSession(m_options.connectPort, m_receiving, this);
    if (m_options.lane) {
        // The lane's identity lives beside the settings. Without a usable one the lane stays
        // closed and the classic port works as before; the file is left for the user.
        const QString folder = m_options.configDir.isEmpty()
                                   ? Identity::defaultFolder()
                                   : m_options.configDir + QStringLiteral("/Ruvo");
        QString error;
        m_laneIdentity = LaneIdentity::load(folder, &error, ServiceAnnouncer::defaultName());
        if (!m_laneIdentity) {
            qWarning("%s", qPrintable(error));
        }
        m_receiving->setLaneIdentity(m_laneIdentity);
        m_sending->setLaneIdentity(m_laneIdentity);
        if (m_laneIdentity) {
            // The window can ask its user to compare a code.
            m_receiving->setPairingAllowed(true);
            m_pairing = new PairingRequest(m_options.connectPort, m_laneIdentity, this);
        }
    }
    if (m_options.discovery) {
        m_browser = new PeerBrowser(this);
    }
    Direcciones = new AddressChooser(DireccionEnviada, m_browser, this);
    if (m_laneIdentity) {
        Direcciones->setTrust([identity = m_laneIdentity](const QString& fingerprint) {
            return identity->trusts(fingerprint);
        });
    }
    Conectando = named(new TTimer(150, this), "Conectando");
    OpenDialog1 = named(new TOpenDialog(this, m_dialogs), "OpenDialog1");
    Pausado = named(new TTimer(350, this), "Pausado");
    Parpadeo = named(new TTimer(350, this), "Parpadeo");
    m_tray = new BackgroundTray(this);
}

void TFormruvo::bindHandlers() {
    connect(FicheroEnviado, &QLineEdit::textChanged, this, &TFormruvo::DireccionenviadaChange);
    connect(DireccionEnviada, &QLineEdit::textChanged, this, &TFormruvo::DireccionenviadaChange);
    DireccionEnviada->installEventFilter(this);
    connect(Anunciar, &QCheckBox::toggled, this, &TFormruvo::UpdateAnnouncement);
    connect(ViaRapida, &QCheckBox::toggled, this, &TFormruvo::ViaRapidaChange);
    connect(Bandeja, &QCheckBox::toggled, this, &TFormruvo::BandejaChange);
    connect(m_tray, &BackgroundTray::quitRequested, this, &TFormruvo::Quit);
    BarraEstado->installEventFilter(this);
    connect(Examinar, &QPushButton::clicked, this, &TFormruvo::ExaminarClick);
    connect(Enviar, &QPushButton::clicked, this, &TFormruvo::EnviarClick);
    connect(PausarEnvio, &QPushButton::clicked, this, &TFormruvo::PausarEnvioClick);
    connect(Recibir, &QPushButton::clicked, this, &TFormruvo::RecibirClick);
    connect(PausarRecepcion, &QPushButton::clicked, this, &TFormruvo::PausarRecepcionClick);
    connect(CancelarRecepcion, &QPushButton::clicked, this, &TFormruvo::CancelarRecepcionClick);
    connect(GuardarEn, &QLineEdit::textChanged, this, &TFormruvo::GuardarEnChange);
    GuardarEn->setFolderChooser([this](QWidget* parent, const QString& start) {
        return m_dialogs->chooseFolder(parent, start);
    });
    connect(Paginas, &QTabWidget::currentChanged, this, &TFormruvo::PaginasChange);
    new SendPageDrop(TabSheet4,
                     {[this] { return Examinar->isEnabled(); },
                      [this](const QStringList& paths) {
                          BarraEstado->SetPanelText(1, QString());
                          ChooseFilesToSend(paths);
                      },
                      [this](const QString& text) { BarraEstado->SetPanelText(1, text); }});

    connect(Pausado, &QTimer::timeout, this, &TFormruvo::PausadoTimer);
    connect(Parpadeo, &QTimer::timeout, this, &TFormruvo::ParpadeoTimer);
    connect(Conectando, &QTimer::timeout, this, &TFormruvo::ConectandoTimer);
    bindRoles();
}

void TFormruvo::bindRoles() {
    SendingSession* s = m_sending;
    connect(s, &SendingSession::connected, this, &TFormruvo::ClienteConnect);
    connect(s, &SendingSession::blockRequested, this, &TFormruvo::ClienteBlockRequested);
    connect(s, &SendingSession::progress, this, &TFormruvo::ShowTransferProgress);
    connect(s, &SendingSession::pausedForUser, this, &TFormruvo::ShowPausedForUser);
    connect(s, &SendingSession::peerPaused, this, &TFormruvo::ClientePaused);
    connect(s, &SendingSession::sendingEnded, this, &TFormruvo::ClienteDisconnect);
    connect(s, &SendingSession::activity, this, &TFormruvo::StepActivityBar);

    connect(Direcciones, &AddressChooser::pairRequested, this,
            [this](const QString& address) { EmparejarClick(address); });
    if (m_pairing != nullptr) {
        const QPointer<PairingRequest> pairing(m_pairing);
        connect(m_pairing, &PairingRequest::codeReady, this, [this, pairing](const QString& code) {
            PairingCodeShown(code, [pairing](bool yes) {
                if (pairing) {
                    pairing->confirm(yes);  // ignored once that pairing is over
                }
            });
        });
        connect(m_pairing, &PairingRequest::ended, this, &TFormruvo::PairingEnded);
    }

    ReceivingService* r = m_receiving;
    connect(r, &ReceivingService::listenFailed, this, [this] {
        BarraEstado->SetPanelText(1, QStringLiteral("[Recibir] No Disponible"));
        Paginas->setTabVisible(1, false);
    });
    connect(r, &ReceivingService::peerConnected, this, &TFormruvo::ServidorClientConnect);
    connect(r, &ReceivingService::busyPeerDismissed, this,
            [this] { BarraEstado->SetPanelText(1, QStringLiteral("Ocupado")); });
    connect(r, &ReceivingService::offerArrived, this, &TFormruvo::ServidorOffer);
    connect(r, &ReceivingService::questionAsked, this, &TFormruvo::ServidorQuestion);
    // Another file of the offered name stays: the name field shows where this one goes.
    connect(r, &ReceivingService::savedUnderOtherName, this,
            [this](const QString& path) { FicheroRecibido->setText(QFileInfo(path).fileName()); });
    connect(r, &ReceivingService::receptionStarted, this,
            [this] { PausarRecepcion->setEnabled(true); });
    connect(r, &ReceivingService::blockArrived, this, &TFormruvo::ServidorBlockArrived);
    connect(r, &ReceivingService::progress, this, &TFormruvo::ShowTransferProgress);
    connect(r, &ReceivingService::peerPaused, this, &TFormruvo::ServidorPeerPaused);
    connect(r, &ReceivingService::peerResumed, this, &TFormruvo::ServidorPeerResumed);
    connect(r, &ReceivingService::pausedForUser, this, &TFormruvo::ShowPausedForUser);
    connect(r, &ReceivingService::diskFull, this, &TFormruvo::ServidorDiskFull);
    connect(r, &ReceivingService::receptionEnded, this, &TFormruvo::ServidorClientDisconnect);
    connect(r, &ReceivingService::pairingCodeShown, this,
            [this](quint64 serial, const QString& code) {
                const QPointer<TFormruvo> self(this);
                PairingCodeShown(code, [self, serial](bool yes) {
                    if (self) {
                        self->m_receiving->answerPairing(serial, yes);
                    }
                });
            });
    connect(r, &ReceivingService::pairingEnded, this,
            [this](PairingOutcome outcome, const QString& peer) {
                BarraEstado->SetPanelText(0, QStringLiteral("Desconectado."));
                PairingEnded(outcome, peer);
            });

    m_notifier =
        new OfferNotifier(m_options.notificationBus.isEmpty()
                              ? QDBusConnection::sessionBus()
                              : QDBusConnection::connectToBus(m_options.notificationBus,
                                                              QStringLiteral("ruvo-notifications")),
                          this);
    connect(m_notifier, &OfferNotifier::receiveRequested, this,
            &TFormruvo::RecibirFromNotification);
    connect(r, &ReceivingService::activity, this, &TFormruvo::StepActivityBar);
}

void TFormruvo::FormCreate() {
    {
        const SettingsStore settings(m_options.configDir);
        if (settings.isOpen()) {
            const QString folder = settings.readString(QStringLiteral("guardaren"));
            // Either way GuardarEnChange runs and adds the final "/".
            GuardarEn->setText(folder.isEmpty() ? withFinalSlash(desktopFolder()) : folder);
            if (settings.readString(QStringLiteral("notificar")) == QLatin1String("1")) {
                Notificar->setChecked(true);
            }
            // Visible unless the user said otherwise.
            Anunciar->setChecked(settings.readString(QStringLiteral("anunciar")) !=
                                 QLatin1String("0"));
            Direcciones->setRecent(settings.readString(QStringLiteral("recientes")));
            ViaRapida->setChecked(settings.readString(QStringLiteral("viarapida")) !=
                                  QLatin1String("0"));
            // Off unless the user asked for it: a close ends the program.
            Bandeja->setChecked(settings.readString(QStringLiteral("bandeja")) ==
                                QLatin1String("1"));
            // Off unless the user asked for it: an offer is a question by default.
            AceptarConfianza->setChecked(settings.readString(QStringLiteral("aceptarconfianza")) ==
                                         QLatin1String("1"));
        }
    }
    OpenDialog1->InitialDir = desktopFolder();
    BarraEstado->SetPanelText(0, QStringLiteral("Desconectado."));
    StartListening();
}

void TFormruvo::FormDestroy() {
    SettingsStore settings(m_options.configDir);
    if (!settings.isOpen()) {
        return;
    }
    settings.writeString(QStringLiteral("guardaren"), GuardarEn->text());
    settings.writeString(QStringLiteral("notificar"),
                         Notificar->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    settings.writeString(QStringLiteral("anunciar"),
                         Anunciar->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    settings.writeString(QStringLiteral("recientes"), Direcciones->recentSetting());
    settings.writeString(QStringLiteral("viarapida"),
                         ViaRapida->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    settings.writeString(QStringLiteral("bandeja"),
                         Bandeja->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    settings.writeString(QStringLiteral("aceptarconfianza"),
                         AceptarConfianza->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void TFormruvo::GuardarEnChange() {
    const QString text = GuardarEn->text();
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('/'))) {
        GuardarEn->setText(text + QLatin1Char('/'));  // runs GuardarEnChange once more
    }
}

void TFormruvo::PaginasChange() {
    if (Paginas->currentIndex() == 1) {
        SetRecibirHighlight(false);
    }
}

void TFormruvo::MarkLane(bool lane) {
    Progreso->SetForeColor(lane ? QColor(0, 112, 0) : QColor(0, 0, 128));
    const QString mark = lane ? QStringLiteral("Via rapida") : QString();
    Progreso->setToolTip(mark);
    Progreso->setAccessibleDescription(mark);
    m_progressStrip->SetWide(lane);
}

void TFormruvo::ViaRapidaChange() {
    const bool on = m_options.lane && ViaRapida->isChecked();
    m_sending->setLaneEnabled(on);
    m_receiving->setLaneEnabled(on);
    // Only the lane can tell a trusted sender.
    AceptarConfianza->setEnabled(ViaRapida->isChecked());
    // The announcement says whether the lane is on.
    m_announcer.reset();
    UpdateAnnouncement();
}

bool TFormruvo::StartListening() {
    m_receiving->setLaneEnabled(m_options.lane && ViaRapida->isChecked());
    m_sending->setLaneEnabled(m_options.lane && ViaRapida->isChecked());
    const bool listening = m_receiving->startListening();
    if (listening) {
        m_announcedPort = m_receiving->listeningPort();
    }
    UpdateAnnouncement();
    UpdateThisCopyText();
    return listening;
}

void TFormruvo::UpdateThisCopyText() {
    const quint16 port = m_announcedPort != 0 ? m_announcedPort : m_options.listenPort;
    const QString text = thisCopyText(ServiceAnnouncer::defaultName(), localAddresses(), port);
    BarraEstado->setToolTip(text);
    BarraEstado->setAccessibleDescription(text);
    m_tray->setToolTip(appTitle() + QLatin1Char('\n') + text);
}

void TFormruvo::BandejaChange() {
    m_tray->setOn(Bandeja->isChecked());
}

void TFormruvo::Quit() {
    m_quitting = true;
    close();
    m_quitting = false;
}

// The announcement follows the port opened at start: while a send stops listening for a
// moment it stays, so that the copy does not flicker in others' lists.
void TFormruvo::UpdateAnnouncement() {
    const bool wanted = m_options.discovery && Anunciar->isChecked() && m_announcedPort != 0;
    if (!wanted) {
        m_announcer.reset();
    } else if (!m_announcer) {
        m_announcer = std::make_unique<ServiceAnnouncer>(
            ServiceAnnouncer::defaultName(), m_announcedPort,
            ServiceAnnouncer::txtRecord(
                m_receiving->laneListening(),
                m_laneIdentity ? m_laneIdentity->identity().fingerprint() : QString()));
    }
}

void TFormruvo::SetRecibirHighlight(bool on) {
    Paginas->SetTabHighlighted(1, on);
}

bool TFormruvo::RecibirHighlighted() const {
    return Paginas->TabHighlighted(1);
}

void TFormruvo::closeEvent(QCloseEvent* event) {
    if (!m_quitting && m_tray->keepsRunning()) {
        event->ignore();
        hide();
        return;
    }
    QWidget::closeEvent(event);
    if (event->isAccepted()) {
        Placement1->OwnerClosed();
        // With the tray on, the application does not quit by itself when this window goes.
        if (m_tray->isOn()) {
            QCoreApplication::quit();
        }
    }
}

bool TFormruvo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == BarraEstado && event->type() == QEvent::ToolTip) {
        UpdateThisCopyText();  // the addresses may have changed since
        return false;
    }
    if (watched == DireccionEnviada && event->type() == QEvent::KeyPress) {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        if (keyEvent->key() == Qt::Key_Down && keyEvent->modifiers() == Qt::AltModifier) {
            Direcciones->popup();
            return true;
        }
        int key = keyEvent->key();
        DireccionenviadaKeyDown(key, keyEvent->modifiers());
        return key == 0;
    }
    return QWidget::eventFilter(watched, event);
}
