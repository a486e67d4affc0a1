#include "shell/formruvo.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <memory>
#include <stdexcept>

#include "common/signalcloser.h"
#include "engine/ttimer.h"
#include "net/clientendpoint.h"
#include "net/serverendpoint.h"
#include "shell/addresschooser.h"
#include "shell/backgroundtray.h"
#include "shell/placementkeeper.h"
#include "shell/ruvoapplication.h"
#include "shell/scripteduserdialogs.h"
#include "shell/tgroupbox.h"
#include "shell/topendialog.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "sound/silenttonedevice.h"
#include "widgets/folderedit.h"
#include "widgets/percentgauge.h"

// The offscreen platform has an 800x800 screen at 96 dots per inch and a fake 2-pixel frame
// around every window, so the 252x134 client area has a 256x138 frame.

namespace {

using Kind = ScriptedUserDialogs::Kind;

// A port that nothing listens on at the moment (0 if none could be had).
quint16 freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

// A blocking connect to the loopback address; the descriptor, or -1.
int connectTo(quint16 port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

class FormruvoTest : public ::testing::Test {
protected:
    std::unique_ptr<TFormruvo> makeForm(quint16 listenPort = 0) {
        FormOptions options;
        options.listenPort = listenPort;
        options.connectPort = 1;
        options.configDir = m_dir.path();
        options.dialogs = &m_dialogs;
        options.tones = &m_tones;
        return std::make_unique<TFormruvo>(options);
    }

    std::unique_ptr<TFormruvo> shownForm(quint16 listenPort = 0) {
        auto form = makeForm(listenPort);
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        return form;
    }

    QString settingsPath() const { return m_dir.filePath(QStringLiteral("Ruvo/Ruvo.ini")); }
    QString placementPath() const { return m_dir.filePath(QStringLiteral("Ruvo/ruvo.INI")); }

    void writeSettings(const QByteArray& values) {
        QDir().mkpath(m_dir.filePath(QStringLiteral("Ruvo")));
        QFile file(settingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Software]\n" + values);
    }

    QVariant storedSetting(const char* name) const {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        return settings.value(QStringLiteral("Software/Ruvo/") + QString::fromLatin1(name));
    }

    static QString defaultFolder() {
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        return (QFileInfo(desktop).isDir() ? desktop : QDir::homePath()) + QLatin1Char('/');
    }

    QTemporaryDir m_dir;
    ScriptedUserDialogs m_dialogs{1};
    SilentToneDevice m_tones;
};

TEST_F(FormruvoTest, StartsWithEveryControlInItsStartState) {
    auto form = shownForm();
    TFormruvo& f = *form;
    EXPECT_EQ(Formruvo, form.get());
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Ruvo v1.0b"));
    EXPECT_EQ(f.size(), QSize(252, 134));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(f.frameGeometry().topLeft(), QPoint(182, 224));
    EXPECT_EQ(f.style()->name(), QStringLiteral("fusion"));
    EXPECT_EQ(f.font().pixelSize(), 11);
    EXPECT_TRUE(m_dialogs.asked().empty());

    struct Row {
        QWidget* widget;
        const char* name;
        QString caption;
        QRect geometry;  // in its parent; an empty size is not checked
        bool enabled;
        bool shown;
    };
    const QString none;
    const Row rows[] = {
        {f.Label16, "Label16", QStringLiteral("Archivo"), {5, 12, 0, 0}, true, true},
        {f.FicheroEnviado, "FicheroEnviado", none, {62, 10, 107, 21}, true, true},
        {f.Examinar, "Examinar", QStringLiteral("Examinar"), {175, 11, 60, 21}, true, true},
        {f.Label15, "Label15", QStringLiteral("Tamaño"), {5, 37, 0, 0}, true, true},
        {f.Megasenviados, "Megasenviados", none, {62, 33, 85, 21}, true, true},
        {f.TamanoEnviado, "TamanoEnviado", none, {62, 33, 76, 21}, true, false},
        {f.Label13, "Label13", QStringLiteral("Mb"), {150, 37, 0, 0}, true, true},
        {f.PausarEnvio, "PausarEnvio", QStringLiteral("Pausa"), {175, 35, 60, 21}, false, true},
        {f.Label14, "Label14", QStringLiteral("Direccion"), {5, 63, 0, 0}, true, true},
        {f.DireccionEnviada, "DireccionEnviada", none, {62, 58, 107, 21}, true, true},
        {f.Enviar, "Enviar", QStringLiteral("Enviar"), {175, 59, 60, 21}, false, true},
        {f.Label20, "Label20", QStringLiteral("Archivo"), {5, 12, 0, 0}, true, true},
        {f.FicheroRecibido, "FicheroRecibido", none, {62, 10, 107, 21}, true, true},
        {f.Recibir, "Recibir", QStringLiteral("Recibir"), {175, 11, 60, 21}, false, true},
        {f.Label19, "Label19", QStringLiteral("Tamaño"), {5, 37, 0, 0}, true, true},
        {f.MegasRecibidos, "MegasRecibidos", none, {62, 33, 85, 21}, true, true},
        {f.TamanoRecibido, "TamanoRecibido", none, {62, 33, 76, 21}, true, false},
        {f.Label18, "Label18", QStringLiteral("Mb"), {150, 37, 0, 0}, true, true},
        {f.PausarRecepcion,
         "PausarRecepcion",
         QStringLiteral("Pausa"),
         {175, 35, 60, 21},
         false,
         true},
        {f.Label17, "Label17", QStringLiteral("Direccion"), {5, 63, 0, 0}, true, true},
        {f.DireccionRecibida, "DireccionRecibida", none, {62, 58, 107, 21}, true, true},
        {f.CancelarRecepcion,
         "CancelarRecepcion",
         QStringLiteral("Cancelar"),
         {175, 59, 60, 21},
         false,
         true},
        {f.Label21, "Label21", QStringLiteral("Guadar Archivos en:"), {6, 10, 0, 0}, true, true},
        {f.GuardarEn, "GuardarEn", none, {8, 24, 225, 20}, true, true},
        {f.Notificar,
         "Notificar",
         QStringLiteral("Notificar con sonidos"),
         {8, 52, 121, 17},
         true,
         true},
        {f.GroupBox4, "GroupBox4", none, {1, -5, 239, 84}, true, true},
        {f.GroupBox5, "GroupBox5", none, {1, -5, 239, 84}, true, true},
        {f.GroupBox6, "GroupBox6", none, {1, -5, 239, 84}, true, true},
        {f.Paginas, "Paginas", none, {2, 2, 249, 111}, true, true},
        {f.BarraEstado, "BarraEstado", none, {0, 114, 252, 20}, true, true},
        {f.Panel1, "Panel1", none, {87, 116, 164, 18}, true, false},
        {f.Progreso, "Progreso", none, {0, 1, 83, 16}, true, true},
        {f.Avance, "Avance", none, {144, 0, 20, 18}, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NE(row.widget, nullptr);
        EXPECT_EQ(f.findChild<QWidget*>(QString::fromLatin1(row.name)), row.widget);
        EXPECT_EQ(row.widget->geometry().topLeft(), row.geometry.topLeft());
        if (!row.geometry.size().isEmpty()) {
            EXPECT_EQ(row.widget->size(), row.geometry.size());
        }
        EXPECT_EQ(row.widget->isEnabled(), row.enabled);
        EXPECT_EQ(!row.widget->isHidden(), row.shown);
        if (auto* label = qobject_cast<QLabel*>(row.widget)) {
            EXPECT_EQ(label->text(), row.caption);
            EXPECT_EQ(label->font().bold(), row.widget != f.Label21);
        } else if (auto* button = qobject_cast<QAbstractButton*>(row.widget)) {
            EXPECT_EQ(button->text(), row.caption);
        } else if (auto* edit = qobject_cast<QLineEdit*>(row.widget); edit && edit != f.GuardarEn) {
            EXPECT_TRUE(edit->text().isEmpty());
            // Fields only the program fills take no Tab stop.
            const bool typed = edit == f.DireccionEnviada;
            EXPECT_EQ(edit->isReadOnly(), !typed);
            EXPECT_EQ(edit->focusPolicy(), typed ? Qt::StrongFocus : Qt::ClickFocus);
        }
    }

    // Pages and tabs.
    ASSERT_EQ(f.Paginas->count(), 3);
    EXPECT_EQ(f.Paginas->tabPosition(), QTabWidget::South);
    const QString captions[] = {QStringLiteral("Enviar"), QStringLiteral("Recibir"),
                                QStringLiteral("Configurar")};
    QWidget* sheets[] = {f.TabSheet4, f.TabSheet5, f.TabSheet6};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.Paginas->tabText(i), captions[i]);
        EXPECT_EQ(f.Paginas->widget(i), sheets[i]);
        EXPECT_TRUE(f.Paginas->isTabVisible(i));
        EXPECT_FALSE(f.Paginas->tabIcon(i).pixmap(16, 16).isNull());
        EXPECT_EQ(f.Paginas->tabBar()->tabRect(i).size(), QSize(81, 18));
    }
    EXPECT_EQ(f.Paginas->currentIndex(), 0);
    EXPECT_FALSE(f.RecibirHighlighted());

    // Bottom strip.
    EXPECT_EQ(f.BarraEstado->PanelText(0), QStringLiteral("Desconectado."));
    EXPECT_EQ(f.BarraEstado->PanelText(1), QString());
    EXPECT_EQ(f.BarraEstado->PanelRect(0).width(), 85);
    EXPECT_EQ(f.BarraEstado->mapTo(&f, f.BarraEstado->PanelRect(1).topLeft()), QPoint(87, 116));
    EXPECT_EQ(f.Progreso->Progress(), 0);
    EXPECT_EQ(f.Progreso->ForeColor(), QColor(0, 0, 128));
    EXPECT_TRUE(f.Frecuencia->text().isEmpty());
    EXPECT_EQ(f.Frecuencia->geometry().right() + 1, 138);
    EXPECT_EQ(f.Frecuencia->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(f.Avance->orientation(), Qt::Vertical);
    EXPECT_EQ(f.Avance->minimum(), 0);
    EXPECT_EQ(f.Avance->maximum(), 100);
    EXPECT_EQ(f.Avance->value(), 0);
    EXPECT_FALSE(f.Avance->isTextVisible());

    // Timers, endpoints, settings.
    const std::pair<TTimer*, int> timers[] = {
        {f.Conectando, 150}, {f.Pausado, 350}, {f.Parpadeo, 350}};
    for (const auto& [timer, interval] : timers) {
        SCOPED_TRACE(timer->objectName().toStdString());
        EXPECT_EQ(timer->interval(), interval);
        EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
        EXPECT_FALSE(timer->isActive());
        EXPECT_EQ(timer->Tag, 0);
    }
    EXPECT_TRUE(f.Receiving()->isListening());
    EXPECT_EQ(f.Sending()->state(), SendingSession::State::Idle);
    EXPECT_EQ(f.Receiving()->state(), ReceivingService::State::Idle);
    EXPECT_EQ(f.GuardarEn->text(), defaultFolder());
    EXPECT_FALSE(f.Notificar->isChecked());
    EXPECT_TRUE(f.Placement1->Restored());
    EXPECT_EQ(f.Dialogs(), &m_dialogs);
    EXPECT_EQ(f.Tones(), &m_tones);
}

TEST_F(FormruvoTest, TabVisitsTheEnabledControlsOfEachPageInOrder) {
    auto form = shownForm();
    TFormruvo& f = *form;
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.FicheroEnviado->setText(QStringLiteral("/tmp/file"));
    f.DireccionEnviada->setText(QStringLiteral("127.0.0.1"));
    f.PausarEnvio->setEnabled(true);
    f.Recibir->setEnabled(true);
    f.PausarRecepcion->setEnabled(true);
    f.CancelarRecepcion->setEnabled(true);

    auto visits = [&](QWidget* first, int steps) {
        std::vector<QWidget*> seen{first};
        first->setFocus(Qt::OtherFocusReason);
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen.push_back(QApplication::focusWidget());
        }
        return seen;
    };
    EXPECT_EQ(visits(f.Examinar, 3),
              (std::vector<QWidget*>{f.Examinar, f.DireccionEnviada, f.Enviar, f.PausarEnvio}));
    f.Paginas->setCurrentIndex(1);
    EXPECT_EQ(visits(f.Recibir, 2),
              (std::vector<QWidget*>{f.Recibir, f.CancelarRecepcion, f.PausarRecepcion}));
    f.Paginas->setCurrentIndex(2);
    EXPECT_EQ(visits(f.GuardarEn, 2),
              (std::vector<QWidget*>{f.GuardarEn, f.Notificar, f.Anunciar}));
    EXPECT_EQ(visits(f.ViaRapida, 2),
              (std::vector<QWidget*>{f.ViaRapida, f.Bandeja, f.AceptarConfianza}));
}

TEST_F(FormruvoTest, FirstRunShowsTheDefaultsAndWritesThemOnlyAtShutdown) {
    auto form = makeForm();
    EXPECT_EQ(form->GuardarEn->text(), defaultFolder());
    EXPECT_FALSE(form->Notificar->isChecked());
    EXPECT_EQ(form->OpenDialog1->InitialDir + QLatin1Char('/'), defaultFolder());
    // Changes are not written at once.
    form->GuardarEn->setText(QStringLiteral("/srv/elsewhere/"));
    form->Notificar->setChecked(true);
    EXPECT_FALSE(QFile::exists(settingsPath()));
    form->GuardarEn->setText(defaultFolder());
    form->Notificar->setChecked(false);
    form.reset();
    EXPECT_EQ(storedSetting("guardaren"), defaultFolder());
    EXPECT_EQ(storedSetting("notificar"), QStringLiteral("0"));
    EXPECT_TRUE(m_dialogs.asked().empty());
}

TEST_F(FormruvoTest, AStoredFolderGetsItsFinalSlashAndIsWrittenBackWithIt) {
    writeSettings("Ruvo\\guardaren=/srv/recibidos\nRuvo\\notificar=1\n");
    auto form = makeForm();
    EXPECT_EQ(form->GuardarEn->text(), QStringLiteral("/srv/recibidos/"));
    EXPECT_TRUE(form->Notificar->isChecked());
    form.reset();
    EXPECT_EQ(storedSetting("guardaren"), QStringLiteral("/srv/recibidos/"));
    EXPECT_EQ(storedSetting("notificar"), QStringLiteral("1"));
}

TEST_F(FormruvoTest, RecentAddressesAndVisibilityRoundTripThroughTheSettings) {
    auto form = makeForm();
    EXPECT_TRUE(form->Anunciar->isChecked());  // visible unless the user said otherwise
    EXPECT_TRUE(form->Direcciones->recent().isEmpty());
    form->Direcciones->remember(QStringLiteral("10.0.0.9"));
    form->Direcciones->remember(QStringLiteral("portatil.local"));
    form->Anunciar->setChecked(false);
    form.reset();
    EXPECT_EQ(storedSetting("recientes"), QStringLiteral("portatil.local 10.0.0.9"));
    EXPECT_EQ(storedSetting("anunciar"), QStringLiteral("0"));

    form = makeForm();
    EXPECT_EQ(form->Direcciones->recent(),
              (QStringList{QStringLiteral("portatil.local"), QStringLiteral("10.0.0.9")}));
    EXPECT_FALSE(form->Anunciar->isChecked());
    EXPECT_TRUE(form->Direcciones->choose(QStringLiteral("10.0.0.9")));
    EXPECT_EQ(form->DireccionEnviada->text(), QStringLiteral("10.0.0.9"));
}

TEST_F(FormruvoTest, TheTrayIsOffUntilTheUserTurnsItOnAndItsBoxFitsBesideTheOthers) {
    auto form = shownForm();
    TFormruvo& f = *form;
    // Between the folder's caption and "Via rapida", touching neither, and wide enough for
    // its box and icon.
    for (QWidget* neighbour : std::vector<QWidget*>{f.Label21, f.ViaRapida, f.GuardarEn}) {
        EXPECT_FALSE(f.Bandeja->geometry().intersects(neighbour->geometry()))
            << neighbour->objectName().toStdString();
    }
    EXPECT_LE(f.Bandeja->sizeHint().width(), f.Bandeja->width());
    EXPECT_FALSE(f.Bandeja->accessibleName().isEmpty());

    // Off by default: closing ends the program as ever.
    EXPECT_FALSE(f.Bandeja->isChecked());
    EXPECT_FALSE(f.Tray()->isOn());
    EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    EXPECT_TRUE(f.close());
    EXPECT_FALSE(f.isVisible());
    form.reset();
    EXPECT_EQ(storedSetting("bandeja"), QStringLiteral("0"));

    writeSettings("Ruvo\\bandeja=1\n");
    form = shownForm();
    EXPECT_TRUE(form->Bandeja->isChecked());
    EXPECT_TRUE(form->Tray()->isOn());
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
    // With no tray to show the icon in, a close still closes: a hidden window could not be
    // brought back.
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
    form.reset();
    EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    EXPECT_EQ(storedSetting("bandeja"), QStringLiteral("1"));
}

// Taking trusted computers' offers without the question is the user's choice: off until
// then, kept in the settings, and only while the lane, which alone can tell who sends, is on.
TEST_F(FormruvoTest, AcceptingTrustedSendersIsOffUntilTheUserTurnsItOn) {
    auto form = shownForm();
    TFormruvo& f = *form;
    for (QWidget* neighbour :
         std::vector<QWidget*>{f.Label21, f.Bandeja, f.ViaRapida, f.GuardarEn}) {
        EXPECT_FALSE(f.AceptarConfianza->geometry().intersects(neighbour->geometry()))
            << neighbour->objectName().toStdString();
    }
    EXPECT_EQ(f.AceptarConfianza->accessibleName(),
              QStringLiteral("Aceptar sin preguntar lo que envien equipos de confianza"));
    EXPECT_TRUE(f.AceptarConfianza->isCheckable());
    EXPECT_FALSE(f.AceptarConfianza->isChecked());
    EXPECT_TRUE(f.AceptarConfianza->isEnabled());
    f.ViaRapida->setChecked(false);
    EXPECT_FALSE(f.AceptarConfianza->isEnabled());
    f.ViaRapida->setChecked(true);
    form.reset();
    EXPECT_EQ(storedSetting("aceptarconfianza"), QStringLiteral("0"));

    writeSettings("Ruvo\\aceptarconfianza=1\n");
    form = makeForm();
    EXPECT_TRUE(form->AceptarConfianza->isChecked());
    form.reset();
    EXPECT_EQ(storedSetting("aceptarconfianza"), QStringLiteral("1"));
}

TEST_F(FormruvoTest, OnlyExactlyOneChecksNotificar) {
    const std::pair<const char*, bool> cases[] = {
        {"1", true},   {"\"1\"", true},   {"0", false}, {"true", false},
        {"01", false}, {"\" 1\"", false}, {"", false},  {"1.0", false},
    };
    for (const auto& [stored, checked] : cases) {
        SCOPED_TRACE(stored);
        writeSettings(QByteArray("Ruvo\\notificar=") + stored + '\n');
        auto form = makeForm();
        EXPECT_EQ(form->Notificar->isChecked(), checked);
        form.reset();
        EXPECT_EQ(storedSetting("notificar"), checked ? QStringLiteral("1") : QStringLiteral("0"));
    }
}

TEST_F(FormruvoTest, AValueOfTheWrongTypeIsShownAndTheRestOfStartUpIsSkipped) {
    writeSettings("Ruvo\\guardaren=/srv/a,b\n");
    auto form = makeForm();
    EXPECT_EQ(m_dialogs.texts(Kind::Error),
              QStringList{QStringLiteral("Invalid data type for 'guardaren'")});
    EXPECT_TRUE(form->GuardarEn->text().isEmpty());
    EXPECT_TRUE(form->BarraEstado->PanelText(0).isEmpty());
    EXPECT_FALSE(form->Receiving()->isListening());
    form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
}

TEST_F(FormruvoTest, SettingsThatCannotBeOpenedAreNeitherReadNorWritten) {
    ASSERT_TRUE(QDir().mkpath(settingsPath()));  // a folder where the file should be
    auto form = makeForm();
    EXPECT_TRUE(form->GuardarEn->text().isEmpty());
    EXPECT_FALSE(form->Notificar->isChecked());
    // The rest of start-up runs.
    EXPECT_EQ(form->BarraEstado->PanelText(0), QStringLiteral("Desconectado."));
    EXPECT_TRUE(form->Receiving()->isListening());
    form.reset();
    EXPECT_TRUE(QFileInfo(settingsPath()).isDir());
    EXPECT_TRUE(m_dialogs.asked().empty());
}

TEST_F(FormruvoTest, AFailedWriteAtShutdownIsShownAndShutdownGoesOn) {
    auto form = makeForm();
    // A plain file where the settings folder should be: the settings read as missing, and
    // the write cannot make the folder. (Permissions would not stop root.)
    QFile blocker(m_dir.filePath(QStringLiteral("Ruvo")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    form.reset();
    EXPECT_EQ(m_dialogs.texts(Kind::Error),
              QStringList{QStringLiteral("Failed to set data for 'guardaren'")});
}

TEST_F(FormruvoTest, GuardarEnChangeAddsTheFinalSlashWithASecondChange) {
    auto form = shownForm();
    TFolderEdit* field = form->GuardarEn;
    QSignalSpy changes(field, &QLineEdit::textChanged);
    struct Case {
        QString set;
        QString shown;
        int events;
    };
    const Case cases[] = {
        {QStringLiteral("/srv/in"), QStringLiteral("/srv/in/"), 2},
        {QStringLiteral("/srv/out/"), QStringLiteral("/srv/out/"), 1},
        {QString(), QString(), 1},
        {QStringLiteral("/"), QStringLiteral("/"), 1},
    };
    for (const Case& c : cases) {
        changes.clear();
        field->setText(c.set);
        EXPECT_EQ(field->text(), c.shown);
        EXPECT_EQ(changes.size(), c.events) << c.set.toStdString();
    }

    // Through the folder chooser: Alt+Down asks the dialogs, which answer a folder.
    QTemporaryDir chosen;
    m_dialogs.queueFolder(chosen.path());
    changes.clear();
    QTest::keyClick(field, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(field->text(), chosen.path() + QLatin1Char('/'));
    EXPECT_EQ(changes.size(), 2);
    EXPECT_TRUE(m_dialogs.failures().isEmpty());
}

TEST_F(FormruvoTest, APortAlreadyTakenHidesTheRecibirTabAndSendingStaysUsable) {
    const int taken = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(taken, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length), 0);

    auto form = shownForm(ntohs(address.sin_port));
    TFormruvo& f = *form;
    EXPECT_FALSE(f.Receiving()->isListening());
    EXPECT_EQ(f.BarraEstado->PanelText(0), QStringLiteral("Desconectado."));
    EXPECT_EQ(f.BarraEstado->PanelText(1), QStringLiteral("[Recibir] No Disponible"));
    EXPECT_FALSE(f.Paginas->isTabVisible(1));
    EXPECT_TRUE(f.Paginas->isTabVisible(0));
    EXPECT_TRUE(f.Paginas->isTabVisible(2));
    EXPECT_EQ(f.Paginas->currentIndex(), 0);
    EXPECT_TRUE(m_dialogs.asked().empty());  // the error itself is not shown

    // The "Enviar" page works: Enviar follows the two texts, untrimmed.
    EXPECT_TRUE(f.Examinar->isEnabled());
    QTest::keyClicks(f.DireccionEnviada, QStringLiteral(" "));
    EXPECT_FALSE(f.Enviar->isEnabled());
    f.FicheroEnviado->setText(QStringLiteral("/tmp/file"));
    EXPECT_TRUE(f.Enviar->isEnabled());
    f.DireccionEnviada->clear();
    EXPECT_FALSE(f.Enviar->isEnabled());

    // Once the port is free, Start listening succeeds and shows nothing.
    close(taken);
    f.BarraEstado->SetPanelText(1, QString());
    EXPECT_TRUE(f.StartListening());
    EXPECT_TRUE(f.Receiving()->isListening());
    EXPECT_EQ(f.BarraEstado->PanelText(1), QString());
}

TEST_F(FormruvoTest, BringingTheRecibirPageForwardSwitchesItsHighlightOff) {
    auto form = shownForm();
    TFormruvo& f = *form;
    QTabBar* tabs = f.Paginas->tabBar();
    const QImage plain = tabs->grab().toImage();
    f.SetRecibirHighlight(true);
    EXPECT_TRUE(f.RecibirHighlighted());
    const QImage lit = tabs->grab().toImage();
    // The highlight is drawn on the "Recibir" tab and nowhere else.
    EXPECT_NE(lit.copy(tabs->tabRect(1)), plain.copy(tabs->tabRect(1)));
    EXPECT_EQ(lit.copy(tabs->tabRect(0).adjusted(0, 0, -3, 0)),
              plain.copy(tabs->tabRect(0).adjusted(0, 0, -3, 0)));

    f.Paginas->setCurrentIndex(2);
    EXPECT_TRUE(f.RecibirHighlighted());
    f.Paginas->setCurrentIndex(1);
    EXPECT_FALSE(f.RecibirHighlighted());
    EXPECT_FALSE(f.Parpadeo->isActive());
}

TEST_F(FormruvoTest, CloseSavesThePlacementAndTheNextStartOpensThere) {
    auto form = shownForm();
    form->move(300, 100);
    QTest::qWait(10);
    form->close();
    QFile file(placementPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              "[TFormruvo]\n"
              "FormVersion=0\n"
              "Flags=0\n"
              "ShowCmd=1\n"
              "PixelsPerInch=96\n"
              "MinMaxPos(800x800)=-1,-1,-1,-1\n"
              "MinMaxPos=-1,-1,-1,-1\n"
              "NormPos(800x800)=300,100,556,238\n"
              "NormPos=300,100,556,238\n"
              "Visible=0\n");
    form.reset();

    form = shownForm();
    EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(300, 100));
    EXPECT_EQ(form->size(), QSize(252, 134));
}

TEST_F(FormruvoTest, TermClosesTheWindowInOrder) {
    auto form = shownForm();
    form->Notificar->setChecked(true);
    SignalCloser closer([&] { form->close(); });
    ASSERT_EQ(raise(SIGTERM), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 5000));
    EXPECT_TRUE(QFile::exists(placementPath()));
    EXPECT_FALSE(QFile::exists(settingsPath()));  // settings go when the window is destroyed
    form.reset();
    EXPECT_EQ(storedSetting("notificar"), QStringLiteral("1"));
    QSettings placement(placementPath(), QSettings::IniFormat);
    EXPECT_EQ(placement.value(QStringLiteral("TFormruvo/Visible")), QStringLiteral("0"));
}

TEST_F(FormruvoTest, AnExceptionFromAHandlerIsShownAndTheWindowGoesOn) {
    auto* app = qobject_cast<RuvoApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    auto form = shownForm();
    app->setErrorDialogs(form->Dialogs());
    // A timer tick, as the transfer handlers get them. (An exception that unwinds through
    // Qt's widget code, as from a click, also ends here, but leaves behind the few objects
    // those frames held, which the leak checker of the sanitizer build reports.)
    QObject::connect(form->Conectando, &QTimer::timeout, form.get(), [&] {
        form->Conectando->SwitchOff();
        throw std::runtime_error("No se puede");
    });
    form->Conectando->SwitchOn();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_dialogs.asked().empty(); }, 5000));
    EXPECT_EQ(m_dialogs.texts(Kind::Error), QStringList{QStringLiteral("No se puede")});
    // Later events are handled as before.
    form->FicheroEnviado->setText(QStringLiteral("/tmp/file"));
    QTest::keyClicks(form->DireccionEnviada, QStringLiteral("10.0.0.1"));
    EXPECT_TRUE(form->Enviar->isEnabled());
    app->setErrorDialogs(nullptr);
}

TEST_F(FormruvoTest, AnExceptionFromASocketHandlerIsShownAndListeningGoesOn) {
    auto* app = qobject_cast<RuvoApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    auto form = shownForm(port);
    ASSERT_TRUE(form->Receiving()->isListening());
    app->setErrorDialogs(form->Dialogs());
    // The first peer's handler throws; the second is told the window is busy.
    int connects = 0;
    QObject::connect(form->Receiving(), &ReceivingService::peerConnected, form.get(), [&] {
        ++connects;
        throw std::runtime_error("Fallo en el manejador");
    });
    QObject::connect(form->Receiving(), &ReceivingService::busyPeerDismissed, form.get(),
                     [&] { ++connects; });
    const int first = connectTo(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_dialogs.asked().empty(); }, 5000));
    EXPECT_EQ(m_dialogs.texts(Kind::Error), QStringList{QStringLiteral("Fallo en el manejador")});
    // The server still accepts.
    const int second = connectTo(port);
    EXPECT_TRUE(QTest::qWaitFor([&] { return connects == 2; }, 5000));
    EXPECT_TRUE(form->Receiving()->isListening());
    close(first);
    close(second);
    app->setErrorDialogs(nullptr);
}

}  // namespace
