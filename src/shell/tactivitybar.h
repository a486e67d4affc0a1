#pragma once

#include <QProgressBar>

// The activity bar of the progress strip: a progress bar that never shows a text. Its
// position moves with every read during a transfer, and on every move QProgressBar works
// out whether the picture changes from a style option that includes the formatted text;
// without a text to show, that text is not formatted (most of the cost of a move).
class TActivityBar : public QProgressBar {
    Q_OBJECT

public:
    explicit TActivityBar(QWidget* parent = nullptr);

    // Empty while the text is hidden (as it always is here).
    QString text() const override;
};
