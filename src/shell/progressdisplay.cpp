// The progress display both roles share: rate, percentage, the activity bar, the elapsed
// seconds, the blinking "Pausa" in panel 1 and the blinking "Recibir" tab.

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>

#include "engine/ttimer.h"
#include "shell/blinksteps.h"
#include "shell/formruvo.h"
#include "shell/progressstrip.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "widgets/percentgauge.h"

// The roles compute the figures per block; ProgressStrip puts them on the controls at the
// paint pace.
void TFormruvo::ShowTransferProgress(const TransferProgress& progress) {
    m_progressStrip->ShowFigures(progress.figures);
}

void TFormruvo::StepActivityBar() {
    m_progressStrip->StepActivity();
}

void TFormruvo::PlayTune(Tune tune) {
    if (Notificar->isChecked()) {
        m_tunes->play(tune);
    }
}

void TFormruvo::PausadoTimer() {
    if (const std::optional<QString> text = pauseBlinkStep(Pausado->Tag)) {
        BarraEstado->SetPanelText(1, *text);
    }
}

void TFormruvo::ParpadeoTimer() {
    if (Paginas->currentIndex() == 1) {
        SetRecibirHighlight(false);
        Parpadeo->SwitchOff();
        return;
    }
    const TabBlinkStep step = tabBlinkStep(Parpadeo->Tag);
    if (step.highlight != Highlight::Unchanged) {
        SetRecibirHighlight(step.highlight == Highlight::On);
    }
    if (step.stopTimer) {
        Parpadeo->SwitchOff();
    }
}
