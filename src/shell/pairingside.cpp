// Pairing in the window: "Emparejar" on a copy of the address list asks it for pairing, and
// another copy may ask this one. Either way the code is shown in a question whose answer goes
// to the engine, and how it ended is said in a box (not after the user's own "No").

#include <QLineEdit>
#include <QPointer>

#include "common/outcometext.h"
#include "engine/pairingrequest.h"
#include "shell/formruvo.h"
#include "shell/tstatusbar.h"
#include "shell/userdialogs.h"

void TFormruvo::EmparejarClick(const QString& address) {
    if (m_pairing == nullptr || m_pairing->isActive() || DireccionEnviada->isReadOnly()) {
        return;  // one at a time, and never while a send is under way
    }
    BarraEstado->SetPanelText(1, QStringLiteral("Emparejando..."));
    m_pairing->start(address);
}

void TFormruvo::PairingCodeShown(const QString& code, std::function<void(bool yes)> answer) {
    PlayTune(Tune::Attention);
    m_dialogs->askYesNoLater(
        this,
        QStringLiteral("Codigo de emparejamiento: %1. ¿Es el mismo en el otro equipo?").arg(code),
        std::move(answer));
}

void TFormruvo::PairingEnded(PairingOutcome outcome, const QString& peer) {
    const QString text = pairingText(outcome, peer);
    BarraEstado->SetPanelText(
        1, outcome == PairingOutcome::Paired ? QStringLiteral("Emparejado.") : QString());
    if (outcome != PairingOutcome::Refused) {
        m_dialogs->showMessageLater(this, text, [] {});
    }
}
