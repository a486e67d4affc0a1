#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

// What the gauge draws. Only the horizontal bar (with or without the text) is a faithful
// picture; gkVerticalBar fills from the bottom up, and gkPie and gkNeedle are drawn as the
// horizontal bar.
enum class TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

enum class TGaugeBorderStyle { bsNone, bsSingle };

// A painted gauge that shows how far Progress has got between MinValue and MaxValue as a
// filled bar with the whole percentage written over it. The text is combined into the bar
// with exclusive-or, so it stays readable over both the filled and the unfilled part.
//
// The gauge repaints only when what it shows changes: setting Progress to a value with the
// same whole percentage stores the value and requests no repaint. Repaints are requested
// with update(), so several changes within one pass of the event loop are painted once.
class TPercentGauge : public QWidget {
    Q_OBJECT

public:
    explicit TPercentGauge(QWidget* parent = nullptr);

    qint32 MinValue() const { return m_minValue; }
    // Throws std::out_of_range("Value must be between -2147483647 and <MaxValue - 1>") when
    // value is above MaxValue; nothing changes then.
    void SetMinValue(qint32 value);

    qint32 MaxValue() const { return m_maxValue; }
    // Throws std::out_of_range("Value must be between <MinValue + 1> and 2147483647") when
    // value is below MinValue; nothing changes then.
    void SetMaxValue(qint32 value);

    qint32 Progress() const { return m_progress; }
    // Clamps value into MinValue..MaxValue.
    void SetProgress(qint32 value);

    // (Progress - MinValue) * 100 / (MaxValue - MinValue) truncated, 0 when the range is empty.
    int Percent() const;

    TGaugeKind Kind() const { return m_kind; }
    void SetKind(TGaugeKind kind);

    bool ShowText() const { return m_showText; }
    void SetShowText(bool show);

    TGaugeBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TGaugeBorderStyle style);

    QColor ForeColor() const { return m_foreColor; }
    void SetForeColor(const QColor& color);

    QColor BackColor() const { return m_backColor; }
    void SetBackColor(const QColor& color);

    // The gauge's picture at its current size, exactly as paintEvent puts it on the screen
    // (RGB32, one pixel per device-independent pixel). Null when the gauge has no area.
    QImage renderImage() const;

    // How many repaints the gauge has requested since it was made.
    int repaintRequestCount() const { return m_repaintRequests; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void requestRepaint();

    qint32 m_minValue = 0;
    qint32 m_maxValue = 100;
    qint32 m_progress = 0;
    TGaugeKind m_kind = TGaugeKind::gkHorizontalBar;
    bool m_showText = true;
    TGaugeBorderStyle m_borderStyle = TGaugeBorderStyle::bsSingle;
    QColor m_foreColor = Qt::black;
    QColor m_backColor = Qt::white;
    int m_repaintRequests = 0;
};
