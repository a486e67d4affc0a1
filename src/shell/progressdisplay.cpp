// The progress display both roles share: rate, percentage, the activity bar, the elapsed
// seconds, the blinking "Pausa" in panel 1 and the blinking "Recibir" tab.

#include <QLabel>
#include <QProgressBar>

#include "shell/formruvo.h"
#include "shell/tpagecontrol.h"
#include "shell/tstatusbar.h"
#include "shell/ttimer.h"
#include "transfer/progress.h"
#include "widgets/percentgauge.h"

void TFormruvo::ShowTransferProgress(qint64 index, qint64 total) {
    const ProgressFigures figures = computeProgress(index, total, Transcurrido->Tag);
    Frecuencia->setText(rateText(figures.rateKb));
    Progreso->SetProgress(figures.percent);
}

void TFormruvo::StepActivityBar() {
    Avance->setValue(nextActivityPosition(Avance->value()));
}

void TFormruvo::TranscurridoTimer() {
    ++Transcurrido->Tag;
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
