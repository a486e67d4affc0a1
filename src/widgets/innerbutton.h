#pragma once

#include <QAbstractButton>

// The small button inside the right end of a TButtonEdit. It never takes the keyboard focus
// itself, so pressing the mouse on it gives the focus to the field it sits in (Qt hands a
// click's focus to the nearest parent that takes it): the field has the focus while the
// button's action runs.
class TInnerButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit TInnerButton(QWidget* field);

    // The picture drawn on the button: a small open folder, 14x12 pixels.
    static QImage folderPicture();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
