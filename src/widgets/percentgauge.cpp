#include "widgets/percentgauge.h"

#include <QAccessible>

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

constexpr qint64 kLowestMinimum = -std::numeric_limits<qint32>::max();
constexpr qint64 kHighestMaximum = std::numeric_limits<qint32>::max();

std::out_of_range rangeError(qint64 low, qint64 high) {
    return std::out_of_range("Value must be between " + std::to_string(low) + " and " +
                             std::to_string(high));
}

// Combines source into target with exclusive-or of the colour bits; both are RGB32 of the
// same size, so the alpha byte of target stays opaque.
void xorInto(QImage& target, const QImage& source) {
    for (int y = 0; y < target.height(); ++y) {
        auto* to = reinterpret_cast<QRgb*>(target.scanLine(y));
        const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        for (int x = 0; x < target.width(); ++x) {
            to[x] ^= from[x] & 0x00FFFFFFu;
        }
    }
}

// Makes every pixel pure white or pure black. Some font engines hand back grey or coloured
// edge pixels even when antialiasing is switched off; combined with exclusive-or those would
// give colours that are neither the bar's colour nor its inverse.
void makeTwoTone(QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            line[x] = qGray(line[x]) >= 128 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
        }
    }
}

// Painting on an image uses the image's resolution for point sizes; give it the widget's, so
// the text has the size it has on the screen.
void matchResolution(QImage& image, const QWidget& widget) {
    constexpr double kInchesPerMeter = 0.0254;
    image.setDotsPerMeterX(qRound(widget.logicalDpiX() / kInchesPerMeter));
    image.setDotsPerMeterY(qRound(widget.logicalDpiY() / kInchesPerMeter));
}

}  // namespace

TPercentGauge::TPercentGauge(QWidget* parent) : QWidget(parent) {
    // The picture covers every pixel, so Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPercentGauge::SetMinValue(qint32 value) {
    if (value == m_minValue) {
        return;
    }
    if (value > m_maxValue) {
        throw rangeError(kLowestMinimum, qint64{m_maxValue} - 1);
    }
    m_minValue = value;
    if (m_progress < value) {
        m_progress = value;
    }
    requestRepaint();
}

void TPercentGauge::SetMaxValue(qint32 value) {
    if (value == m_maxValue) {
        return;
    }
    if (value < m_minValue) {
        throw rangeError(qint64{m_minValue} + 1, kHighestMaximum);
    }
    m_maxValue = value;
    if (m_progress > value) {
        m_progress = value;
    }
    requestRepaint();
}

void TPercentGauge::SetProgress(qint32 value) {
    value = std::clamp(value, m_minValue, m_maxValue);
    if (value == m_progress) {
        return;
    }
    const int before = Percent();
    m_progress = value;
    if (Percent() != before) {
        requestRepaint();
        if (QAccessible::isActive()) {
            QAccessibleValueChangeEvent event(this, Percent());
            QAccessible::updateAccessibility(&event);
        }
    }
}

int TPercentGauge::Percent() const {
    // In 64 bits: the span of two 32-bit values times 100 does not fit in 32.
    const qint64 span = qint64{m_maxValue} - m_minValue;
    if (span == 0) {
        return 0;
    }
    return static_cast<int>((qint64{m_progress} - m_minValue) * 100 / span);
}

void TPercentGauge::SetKind(TGaugeKind kind) {
    if (kind != m_kind) {
        m_kind = kind;
        requestRepaint();
    }
}

void TPercentGauge::SetShowText(bool show) {
    if (show != m_showText) {
        m_showText = show;
        requestRepaint();
    }
}

void TPercentGauge::SetBorderStyle(TGaugeBorderStyle style) {
    if (style != m_borderStyle) {
        m_borderStyle = style;
        requestRepaint();
    }
}

void TPercentGauge::SetForeColor(const QColor& color) {
    if (color != m_foreColor) {
        m_foreColor = color;
        requestRepaint();
    }
}

void TPercentGauge::SetBackColor(const QColor& color) {
    if (color != m_backColor) {
        m_backColor = color;
        requestRepaint();
    }
}

void TPercentGauge::requestRepaint() {
    ++m_repaintRequests;
    update();
}

QImage TPercentGauge::renderImage() const {
    const QSize area = size();
    if (area.isEmpty()) {
        return {};
    }

    // Inner rectangle: left and top inclusive, right and bottom exclusive. With a single
    // border the one-pixel ring around it stays black and is the border.
    const int border = m_borderStyle == TGaugeBorderStyle::bsSingle ? 1 : 0;
    const int left = border;
    const int top = border;
    const int right = area.width() - border;
    const int bottom = area.height() - border;
    const QRect inner(left, top, std::max(0, right - left), std::max(0, bottom - top));
    const int percent = Percent();

    QImage picture(area, QImage::Format_RGB32);
    picture.fill(Qt::black);

    QImage bar(area, QImage::Format_RGB32);
    bar.fill(Qt::black);
    {
        QPainter painter(&bar);
        painter.fillRect(inner, m_backColor);
        // Width and height count one more than the inner rectangle has; the bar's far edge
        // is the fill size itself, so a full bar ends exactly at the inner right edge.
        const qint64 width = right - left + 1;
        const qint64 height = bottom - top + 1;
        QRect filled;
        if (m_kind == TGaugeKind::gkVerticalBar) {
            const int fillSize = static_cast<int>(std::min(height * percent / 100, height));
            filled = QRect(QPoint(left, bottom - fillSize), QPoint(right - 1, bottom - 1));
        } else if (m_kind != TGaugeKind::gkText) {
            const int fillSize = static_cast<int>(std::min(width * percent / 100, width));
            filled = QRect(QPoint(left, top), QPoint(fillSize - 1, static_cast<int>(height) - 1));
        }
        filled = filled.intersected(inner);
        if (!filled.isEmpty()) {
            painter.fillRect(filled, m_foreColor);
        }
    }
    xorInto(picture, bar);

    if (m_showText && !inner.isEmpty()) {
        const QString text = QString::asprintf("%d%%", percent);
        QImage textImage(area, QImage::Format_RGB32);
        textImage.fill(Qt::black);
        matchResolution(textImage, *this);
        QFont textFont = font();
        textFont.setStyleStrategy(QFont::NoAntialias);
        {
            QPainter painter(&textImage);
            painter.setFont(textFont);
            painter.setPen(Qt::white);
            painter.setClipRect(inner);
            const QFontMetrics metrics(textFont, &textImage);
            // Centred in the inner area but measured from the image's own corner.
            const int x = (right - left + 1 - metrics.horizontalAdvance(text)) / 2;
            const int y = (bottom - top + 1 - metrics.height()) / 2;
            painter.drawText(x, y + metrics.ascent(), text);
        }
        makeTwoTone(textImage);
        xorInto(picture, textImage);
    }
    return picture;
}

void TPercentGauge::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawImage(0, 0, renderImage());
}
