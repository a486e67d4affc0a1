// What assistive technology reads of the window, and files dropped on the "Enviar" page.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "discovery/serviceannouncer.h"
#include "engine/laneidentity.h"
#include "engine/receivingservice.h"
#include "engine/sendingsession.h"
#include "identity/fingerprint.h"
#include "identity/truststore.h"
#include "net/serverendpoint.h"
#include "shell/backgroundtray.h"
#include "shell/formruvo.h"
#include "shell/scripteduserdialogs.h"
#include "shell/tgroupbox.h"
#include "shell/thiscopy.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "sound/silenttonedevice.h"
#include "widgets/folderedit.h"
#include "widgets/innerbutton.h"
#include "widgets/percentgauge.h"

namespace {

class DesktopTest : public ::testing::Test {
protected:
    DesktopTest() : dialogs(0) {
        FormOptions options;
        options.listenPort = 0;
        options.connectPort = 1;
        options.configDir = config.path();
        options.dialogs = &dialogs;
        options.tones = &tones;
        form = std::make_unique<TFormruvo>(options);
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    QTemporaryDir config;
    ScriptedUserDialogs dialogs;
    SilentToneDevice tones;
    std::unique_ptr<TFormruvo> form;
};

TEST_F(DesktopTest, FieldsTabsAndTheFolderButtonHaveNames) {
    const std::pair<QWidget*, const char*> named[] = {
        {form->FicheroEnviado, "Archivo"},
        {form->Megasenviados, "Tamaño"},
        {form->DireccionEnviada, "Direccion"},
        {form->FicheroRecibido, "Archivo"},
        {form->MegasRecibidos, "Tamaño"},
        {form->DireccionRecibida, "Direccion"},
        {form->GuardarEn, "Guadar Archivos en:"},
        {form->TabSheet4, "Enviar"},
        {form->TabSheet5, "Recibir"},
        {form->TabSheet6, "Configurar"},
        {form->GuardarEn->Button(), "Elegir carpeta"},
    };
    for (const auto& [widget, name] : named) {
        SCOPED_TRACE(widget->objectName().toStdString());
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->text(QAccessible::Name), QString::fromUtf8(name));
    }
}

// (That a change is announced needs an accessibility bridge, which the offscreen platform
// has not: the AT-SPI test sees it through a real one.)
TEST_F(DesktopTest, TheStatusBarAndTheGaugeAreReadable) {
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(form->BarraEstado);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->role(), QAccessible::StatusBar);
    ASSERT_EQ(bar->childCount(), 2);
    EXPECT_EQ(bar->child(0)->text(QAccessible::Name), QStringLiteral("Desconectado."));
    EXPECT_EQ(bar->child(0)->parent(), bar);
    EXPECT_EQ(bar->indexOfChild(bar->child(1)), 1);
    form->BarraEstado->SetPanelText(1, QStringLiteral("Recibido!"));
    EXPECT_EQ(bar->child(1)->text(QAccessible::Name), QStringLiteral("Recibido!"));

    QAccessibleInterface* gauge = QAccessible::queryAccessibleInterface(form->Progreso);
    ASSERT_NE(gauge, nullptr);
    EXPECT_EQ(gauge->role(), QAccessible::ProgressBar);
    form->Progreso->SetProgress(42);
    QAccessibleValueInterface* value = gauge->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->currentValue().toInt(), 42);
    EXPECT_EQ(value->maximumValue().toInt(), 100);
    EXPECT_EQ(gauge->text(QAccessible::Value), QStringLiteral("42%"));
}

// Who this copy is, where no part of the layout changes: the status bar's tooltip and its
// description to a screen reader; the window listens on a port of its own here, so every
// address carries it.
TEST_F(DesktopTest, TheStatusBarTellsThisCopysNameAndAddresses) {
    const QString expected = thisCopyText(ServiceAnnouncer::defaultName(), localAddresses(),
                                          form->Receiving()->listeningPort());
    EXPECT_EQ(form->BarraEstado->toolTip(), expected);
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(form->BarraEstado);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->text(QAccessible::Description), expected);
    EXPECT_EQ(bar->text(QAccessible::Name), QStringLiteral("Barra de estado"));
    EXPECT_EQ(form->BarraEstado->geometry(), QRect(0, 114, 252, 20));
}

// Sends a drag of `urls` over `target` and drops it there; whether the drop was taken.
bool dropOn(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

TEST_F(DesktopTest, FilesAndFoldersDroppedAnywhereOnTheSendPageAreChosen) {
    QTemporaryDir files;
    const QString a = files.filePath(QStringLiteral("a.bin"));
    const QString b = files.filePath(QStringLiteral("b.bin"));
    for (const QString& path : {a, b}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("12345");
    }
    // On the page itself, on a read-only field and on the address field (which would take a
    // path as text).
    for (QWidget* target :
         {static_cast<QWidget*>(form->GroupBox4), static_cast<QWidget*>(form->FicheroEnviado),
          static_cast<QWidget*>(form->DireccionEnviada)}) {
        SCOPED_TRACE(target->objectName().toStdString());
        form->FicheroEnviado->clear();
        ASSERT_TRUE(dropOn(target, {QUrl::fromLocalFile(a)}));
        EXPECT_EQ(form->FicheroEnviado->text(), a);
        EXPECT_EQ(form->TamanoEnviado->text(), QStringLiteral("5"));
        EXPECT_TRUE(form->DireccionEnviada->text().isEmpty());
        EXPECT_EQ(form->Sending()->file()->path, a);
    }
    // Several files, or a folder: chosen as one offer, the count or the folder's name shown
    // with the total.
    const struct {
        QList<QUrl> urls;
        QString shown;
    } chosen[] = {
        {{QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}, QStringLiteral("2 archivos")},
        {{QUrl::fromLocalFile(files.path())}, QFileInfo(files.path()).fileName()},
    };
    for (const auto& c : chosen) {
        SCOPED_TRACE(c.shown.toStdString());
        ASSERT_TRUE(dropOn(form->GroupBox4, c.urls));
        EXPECT_EQ(form->FicheroEnviado->text(), c.shown);
        EXPECT_EQ(form->TamanoEnviado->text(), QStringLiteral("10"));
        ASSERT_TRUE(form->Sending()->entries());
        EXPECT_EQ(form->Sending()->entries()->fileCount(), 2);
    }
    // What is not there is refused while dragged, with a word in the status bar.
    EXPECT_FALSE(
        dropOn(form->GroupBox4, {QUrl::fromLocalFile(files.filePath(QStringLiteral("ido")))}));
    EXPECT_EQ(form->BarraEstado->PanelText(1), QStringLiteral("No se puede abrir el archivo"));
    EXPECT_TRUE(form->Sending()->entries());  // the earlier choice stays
}

// A stand-in for the desktop's notification service: records what it is asked to show.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString summary, body;
        QStringList actions;
    };
    std::vector<Shown> shown;
    std::vector<uint> closed;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int) {
        shown.push_back({summary, body, actions});
        return static_cast<uint>(shown.size()) + 40;
    }
    void CloseNotification(uint id) { closed.push_back(id); }

signals:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);
};

// A private session bus for one test; empty address when dbus-daemon cannot run here.
class PrivateBus {
public:
    PrivateBus() {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"),
                        QStringLiteral("--print-address")});
        if (m_daemon.waitForStarted(5000) && m_daemon.waitForReadyRead(5000)) {
            address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        }
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in"));
        QDBusConnection::disconnectFromBus(QStringLiteral("ruvo-notifications"));
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
    QString address;

private:
    QProcess m_daemon;
};

// A private session bus with a stand-in notification service, and the options of a window
// that notifies there.
class NotifyingDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus.address.isEmpty()) {
            GTEST_SKIP() << "dbus-daemon could not start a private session bus here";
        }
        standIn = QDBusConnection::connectToBus(bus.address, QStringLiteral("stand-in"));
        ASSERT_TRUE(standIn.isConnected());
        ASSERT_TRUE(standIn.registerObject(
            QStringLiteral("/org/freedesktop/Notifications"), &service,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(standIn.registerService(QStringLiteral("org.freedesktop.Notifications")));
        options.listenPort = 0;
        options.configDir = config.path();
        options.dialogs = &dialogs;
        options.tones = &tones;
        options.notificationBus = bus.address;
    }
    void TearDown() override {
        standIn.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in"));
    }

    // A raw classic peer that offers a file to `form`; its socket, to close.
    static int offerTo(TFormruvo& form) {
        const int peer = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(form.Receiving()->listeningPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const QByteArray offer = "i|informe.pdf|3145728";
        EXPECT_EQ(::send(peer, offer.constData(), offer.size(), 0), offer.size());
        return peer;
    }

    PrivateBus bus;
    QDBusConnection standIn{QString()};
    NotificationService service;
    QTemporaryDir config, folder;
    ScriptedUserDialogs dialogs{0};
    SilentToneDevice tones;
    FormOptions options;
};

TEST_F(NotifyingDesktop, TheDesktopShowsTheOfferAndItsRecibirActionAccepts) {
    TFormruvo form(options);  // never shown, so never the active window
    form.GuardarEn->setText(folder.path());
    form.Notificar->setChecked(true);

    const int peer = offerTo(form);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !service.shown.empty(); }, 10000));
    EXPECT_EQ(service.shown[0].body, QStringLiteral("informe.pdf (3.000 Mb) de 127.0.0.1"));
    EXPECT_TRUE(service.shown[0].actions.contains(QStringLiteral("Recibir")));
    emit service.ActionInvoked(41, QStringLiteral("recibir"));

    // "Recibir" from the notification accepts the offer: the first block is asked for.
    char request[8] = {};
    pollfd p{peer, POLLIN, 0};
    ASSERT_TRUE(QTest::qWaitFor([&] { return ::poll(&p, 1, 0) == 1; }, 10000));
    EXPECT_EQ(QByteArray(request, static_cast<int>(::recv(peer, request, sizeof request, 0))),
              QByteArray("a|0"));
    EXPECT_EQ(form.Paginas->currentIndex(), 1);
    ::close(peer);
}

// With the tray on, closing the window hides it: the copy still listens, an offer is told
// on the desktop even with "Notificar con sonidos" off (nothing else could tell of it), and
// only Quit (SIGTERM, "Salir") ends it, saving the placement as a close does.
TEST_F(NotifyingDesktop, ClosedIntoTheTrayTheCopyGoesOnReceivingUntilItQuits) {
    TFormruvo form(options);
    form.GuardarEn->setText(folder.path());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.Tray()->setTrayAvailable([] { return true; });
    form.Bandeja->setChecked(true);
    ASSERT_FALSE(form.Notificar->isChecked());

    EXPECT_FALSE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.Receiving()->isListening());
    const QString placement = config.filePath(QStringLiteral("Ruvo/ruvo.INI"));
    EXPECT_FALSE(QFile::exists(placement));

    const int peer = offerTo(form);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service.shown.empty(); }, 10000));
    EXPECT_EQ(service.shown[0].body, QStringLiteral("informe.pdf (3.000 Mb) de 127.0.0.1"));
    EXPECT_TRUE(form.Recibir->isEnabled());
    ::close(peer);

    form.Quit();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(QFile::exists(placement));
}

// A lane offer says who sends: whether the computer is trusted, with its short fingerprint, in
// the address field's description, its mark and the notification. With the button to accept
// trusted computers' offers on, a trusted sender's file goes in without the question; an
// unverified sender, and any classic offer, is asked about exactly as before.
TEST_F(NotifyingDesktop, ALaneOfferSaysWhoSendsAndATrustedOneMayGoInWithoutAsking) {
    options.lane = true;
    QTemporaryDir senderFolder, source;
    QString error;
    const std::shared_ptr<const LaneIdentity> senderIdentity =
        LaneIdentity::load(senderFolder.path(), &error);
    ASSERT_TRUE(senderIdentity) << error.toStdString();
    const QString senderFingerprint = senderIdentity->identity().fingerprint();
    const QString path = source.filePath(QStringLiteral("informe.pdf"));
    QByteArray bytes(3 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 4096);
    }
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const QString shortForm = fingerprint::shortForm(senderFingerprint);
    struct Case {
        const char* what;
        bool lane, trusted, acceptTrusted, taken;
        QString sender;  // as the notification and the field's description say it
        QString mark;    // the field's mark, empty for none
    };
    const Case cases[] = {
        {"unverified", true, false, true, false,
         QStringLiteral("127.0.0.1, sin verificar ") + shortForm, QStringLiteral("sin verificar")},
        {"trusted, asked", true, true, false, false,
         QStringLiteral("127.0.0.1, de confianza ") + shortForm, QStringLiteral("de confianza")},
        {"trusted, taken", true, true, true, true,
         QStringLiteral("127.0.0.1, de confianza ") + shortForm, QStringLiteral("de confianza")},
        {"classic", false, false, true, false, QStringLiteral("127.0.0.1"), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TrustStore trust(config.filePath(QStringLiteral("Ruvo")));
        ASSERT_TRUE(trust.load(&error));
        if (c.trusted) {
            ASSERT_TRUE(trust.add(senderFingerprint, QStringLiteral("portatil"), &error));
        } else if (trust.isTrusted(senderFingerprint)) {
            ASSERT_TRUE(trust.remove(senderFingerprint, &error));
        }
        QFile::remove(folder.filePath(QStringLiteral("informe.pdf")));
        service.shown.clear();

        TFormruvo form(options);  // never shown, so never the active window
        if (!form.Receiving()->laneListening()) {
            GTEST_SKIP() << "the port after the one the system gave is taken";
        }
        form.GuardarEn->setText(folder.path());
        form.Notificar->setChecked(true);
        form.AceptarConfianza->setChecked(c.acceptTrusted);
        QSignalSpy ended(form.Receiving(), &ReceivingService::receptionEnded);
        SendingSession sender(form.Receiving()->listeningPort(), nullptr);
        int classicPeer = -1;
        if (c.lane) {
            sender.setLaneIdentity(senderIdentity);
            sender.setLaneEnabled(true);
            ASSERT_TRUE(sender.chooseFile(path));
            sender.start(QStringLiteral("127.0.0.1"));
        } else {
            classicPeer = offerTo(form);
        }

        if (c.taken) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !ended.isEmpty(); }, 20000));
            EXPECT_EQ(ended.at(0).at(0).value<Outcome>(), Outcome::Received);
            QFile received(folder.filePath(QStringLiteral("informe.pdf")));
            ASSERT_TRUE(received.open(QIODevice::ReadOnly));
            EXPECT_TRUE(received.readAll() == bytes);
            EXPECT_TRUE(service.shown.empty());
        } else {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !service.shown.empty(); }, 10000));
            EXPECT_EQ(service.shown[0].body,
                      QStringLiteral("informe.pdf (3.000 Mb) de %1").arg(c.sender));
            EXPECT_TRUE(form.Recibir->isEnabled());
            EXPECT_EQ(form.Receiving()->state(), ReceivingService::State::Offered);
        }
        EXPECT_TRUE(dialogs.asked().empty());
        EXPECT_EQ(form.DireccionRecibida->text(), QStringLiteral("127.0.0.1"));
        EXPECT_EQ(form.DireccionRecibida->toolTip(), c.sender);
        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(form.DireccionRecibida);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->text(QAccessible::Description), c.sender);
        QString mark;
        for (const QAction* action : form.DireccionRecibida->actions()) {
            if (action->isVisible()) {
                mark = action->text();
            }
        }
        EXPECT_EQ(mark, c.mark);
        if (classicPeer >= 0) {
            ::close(classicPeer);
        }
    }
}

}  // namespace

#include "desktop_test.moc"
