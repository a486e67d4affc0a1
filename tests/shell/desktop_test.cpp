// What assistive technology reads of the window, and files dropped on the "Enviar" page.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>
#include <vector>

#include "shell/formruvo.h"
#include "shell/scripteduserdialogs.h"
#include "shell/tgroupbox.h"
#include "shell/tstatusbar.h"
#include "transfer/silenttonedevice.h"
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

TEST_F(DesktopTest, OneFileDroppedAnywhereOnTheSendPageIsChosen) {
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
    // Several files, or a folder: refused while dragged, with a word in the status bar.
    const struct {
        QList<QUrl> urls;
        const char* text;
    } refused[] = {
        {{QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}, "Solo un archivo a la vez"},
        {{QUrl::fromLocalFile(files.path())}, "Una carpeta no se envia"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.text);
        EXPECT_FALSE(dropOn(form->GroupBox4, r.urls));
        EXPECT_EQ(form->BarraEstado->PanelText(1), QString::fromUtf8(r.text));
        EXPECT_EQ(form->Sending()->file()->path, a);  // the earlier choice stays
    }
}

}  // namespace
