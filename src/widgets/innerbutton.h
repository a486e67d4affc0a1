#pragma once

#include <QAbstractButton>

// The small button inside the right end of a TButtonEdit. It never takes the keyboard focus
// itself: pressing the mouse on it gives the focus to the field it sits in, so the field
// has the focus while the button's action runs and gets it back afterwards.
class TInnerButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit TInnerButton(QWidget* field);

    // The picture drawn on the button: a small open folder, 14x12 pixels.
    static QImage folderPicture();

    QSize sizeHint() const override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
