#pragma once

#include <QWidget>

// A caption-less group frame. Like a framed group with an empty caption, the frame's top
// edge lies half a text line below the widget's top, so a frame placed a few pixels above
// its page still shows its top edge.
class TGroupBox : public QWidget {
    Q_OBJECT

public:
    explicit TGroupBox(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
