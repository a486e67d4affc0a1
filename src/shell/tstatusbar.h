#pragma once

#include <QString>
#include <QWidget>

// A status bar with two sunken text panels: panel 0 is 85 pixels wide, panel 1 takes the
// rest of the bar. Each panel shows one line of text, clipped at its edge.
class TStatusBar : public QWidget {
    Q_OBJECT

public:
    explicit TStatusBar(QWidget* parent = nullptr);

    static constexpr int kPanelCount = 2;

    void SetPanelText(int index, const QString& text);
    QString PanelText(int index) const;
    QRect PanelRect(int index) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_texts[kPanelCount];
};
