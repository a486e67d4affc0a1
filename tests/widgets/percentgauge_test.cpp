#include "widgets/percentgauge.h"

#include <QPixmap>

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <stdexcept>

namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kNavy = qRgb(0, 0, 128);
const QRgb kLightYellow = qRgb(255, 255, 127);

// The gauge of the main window: 83x16, navy bar on white.
class PercentGaugeTest : public ::testing::Test {
protected:
    PercentGaugeTest() {
        gauge.resize(83, 16);
        gauge.SetForeColor(QColor(0, 0, 128));
    }

    TPercentGauge gauge;
};

// The picture without text: black border, navy columns 1..fillEnd-1 and white up to column
// 81, over rows 1..14.
QRgb barPixel(int x, int y, int fillEnd) {
    if (x == 0 || y == 0 || x == 82 || y == 15) {
        return kBlack;
    }
    return x < fillEnd ? kNavy : kWhite;
}

struct PictureCase {
    const char* name;
    int progress;
    bool showText;
    int fillEnd;  // first column not filled
    bool textOverWhite;
    bool textOverNavy;
};

void PrintTo(const PictureCase& c, std::ostream* out) {
    *out << c.name;
}

class GaugePictureTest : public PercentGaugeTest,
                         public ::testing::WithParamInterface<PictureCase> {};

TEST_P(GaugePictureTest, BarWithTextInvertedAgainstBothColours) {
    const PictureCase c = GetParam();
    gauge.SetShowText(c.showText);
    gauge.SetProgress(c.progress);

    const QImage picture = gauge.renderImage();
    ASSERT_EQ(picture.size(), QSize(83, 16));

    // Every pixel is the bar's own or its inverse; the inverse only inside the border.
    int overWhite = 0;
    int overNavy = 0;
    QRect textBounds;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 83; ++x) {
            const QRgb bar = barPixel(x, y, c.fillEnd);
            const QRgb shown = picture.pixel(x, y);
            if (shown == bar) {
                continue;
            }
            ASSERT_EQ(shown, bar ^ 0x00FFFFFFu) << "pixel " << x << "," << y;
            ASSERT_NE(bar, kBlack) << "text on the border at " << x << "," << y;
            if (bar == kWhite) {
                EXPECT_EQ(shown, kBlack);
                ++overWhite;
            } else {
                EXPECT_EQ(shown, kLightYellow);
                ++overNavy;
            }
            textBounds |= QRect(x, y, 1, 1);
        }
    }

    EXPECT_EQ(overWhite > 0, c.textOverWhite);
    EXPECT_EQ(overNavy > 0, c.textOverNavy);
    if (c.showText) {
        // Centred in the inner area.
        EXPECT_NEAR(textBounds.center().x(), 41, 3);
        EXPECT_NEAR(textBounds.center().y(), 7, 3);
    }

    // What the screen gets is that picture.
    EXPECT_EQ(gauge.grab().toImage().convertToFormat(QImage::Format_RGB32), picture);
}

INSTANTIATE_TEST_SUITE_P(Percentages, GaugePictureTest,
                         ::testing::Values(PictureCase{"p0", 0, true, 0, true, false},
                                           PictureCase{"p1", 1, true, 0, true, false},
                                           // the bar's edge runs through the text
                                           PictureCase{"p50", 50, true, 41, true, true},
                                           PictureCase{"p100", 100, true, 82, false, true},
                                           PictureCase{"p50_noText", 50, false, 41, false, false},
                                           PictureCase{"minus5", -5, true, 0, true, false},
                                           PictureCase{"p250", 250, true, 82, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PercentGaugeTest, ProgressIsClampedIntoRange) {
    gauge.SetProgress(-5);
    EXPECT_EQ(gauge.Progress(), 0);
    EXPECT_EQ(gauge.Percent(), 0);
    gauge.SetProgress(250);
    EXPECT_EQ(gauge.Progress(), 100);
    EXPECT_EQ(gauge.Percent(), 100);
}

TEST_F(PercentGaugeTest, RepaintsOnlyWhenWholePercentageChanges) {
    gauge.SetProgress(40);
    int requests = gauge.repaintRequestCount();
    gauge.SetProgress(40);
    EXPECT_EQ(gauge.repaintRequestCount(), requests);
    gauge.SetProgress(41);
    EXPECT_EQ(gauge.repaintRequestCount(), ++requests);

    gauge.SetMaxValue(1000);  // changes the range: repaints
    requests = gauge.repaintRequestCount();
    gauge.SetProgress(405);  // 40 %, as 41 of 1000 was 4 %: repaints
    EXPECT_EQ(gauge.repaintRequestCount(), ++requests);
    gauge.SetProgress(409);  // still 40 %: stored, not repainted
    EXPECT_EQ(gauge.Progress(), 409);
    EXPECT_EQ(gauge.repaintRequestCount(), requests);
    gauge.SetProgress(410);
    EXPECT_EQ(gauge.repaintRequestCount(), ++requests);
}

TEST_F(PercentGaugeTest, AppearanceSettersRepaintOnlyOnChange) {
    int requests = gauge.repaintRequestCount();
    gauge.SetForeColor(QColor(0, 0, 128));
    gauge.SetBackColor(Qt::white);
    gauge.SetShowText(true);
    gauge.SetKind(TGaugeKind::gkHorizontalBar);
    gauge.SetBorderStyle(TGaugeBorderStyle::bsSingle);
    EXPECT_EQ(gauge.repaintRequestCount(), requests);

    gauge.SetForeColor(Qt::red);
    gauge.SetBackColor(Qt::gray);
    gauge.SetShowText(false);
    gauge.SetKind(TGaugeKind::gkText);
    gauge.SetBorderStyle(TGaugeBorderStyle::bsNone);
    EXPECT_EQ(gauge.repaintRequestCount(), requests + 5);
}

TEST_F(PercentGaugeTest, EmptyRangeShowsZeroPercent) {
    gauge.SetMinValue(50);
    EXPECT_EQ(gauge.Progress(), 50);  // raised with the minimum
    gauge.SetMaxValue(50);
    EXPECT_EQ(gauge.Percent(), 0);
    const QImage picture = gauge.renderImage();
    for (int x = 1; x < 82; ++x) {
        EXPECT_NE(picture.pixel(x, 1), kNavy) << "column " << x;
    }
}

TEST_F(PercentGaugeTest, PercentOverTheWholeIntegerRange) {
    constexpr qint32 lowest = std::numeric_limits<qint32>::min();
    constexpr qint32 highest = std::numeric_limits<qint32>::max();
    gauge.SetMinValue(lowest);
    gauge.SetMaxValue(highest);
    gauge.SetProgress(-1);
    EXPECT_EQ(gauge.Percent(), 49);  // 49.99...
    gauge.SetProgress(0);
    EXPECT_EQ(gauge.Percent(), 50);
    gauge.SetProgress(highest);
    EXPECT_EQ(gauge.Percent(), 100);
    gauge.SetProgress(lowest);
    EXPECT_EQ(gauge.Percent(), 0);
}

TEST_F(PercentGaugeTest, RangeSettersKeepProgressInside) {
    gauge.SetProgress(80);
    gauge.SetMaxValue(60);
    EXPECT_EQ(gauge.Progress(), 60);
    EXPECT_EQ(gauge.Percent(), 100);
    gauge.SetMinValue(-20);
    EXPECT_EQ(gauge.Progress(), 60);
    EXPECT_EQ(gauge.Percent(), 100);
}

TEST_F(PercentGaugeTest, InvertedRangeIsRefusedWithItsMessage) {
    gauge.SetProgress(30);
    try {
        gauge.SetMinValue(101);
        FAIL() << "no error";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "Value must be between -2147483647 and 99");
    }
    try {
        gauge.SetMaxValue(-1);
        FAIL() << "no error";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "Value must be between 1 and 2147483647");
    }
    EXPECT_EQ(gauge.MinValue(), 0);
    EXPECT_EQ(gauge.MaxValue(), 100);
    EXPECT_EQ(gauge.Progress(), 30);

    // The bounds in the message are computed without overflow at the extremes.
    gauge.SetMinValue(std::numeric_limits<qint32>::min());
    gauge.SetMaxValue(std::numeric_limits<qint32>::min());
    EXPECT_THROW(gauge.SetMinValue(0), std::out_of_range);
}

}  // namespace
