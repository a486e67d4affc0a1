#include "transfer/progress.h"
#include "transfer/protocol.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr qint64 kMegabyte = 1048576;

}  // namespace

TEST(Progress, RateAndPercentage) {
    struct Case {
        qint64 index;
        qint64 total;
        int elapsedTag;
        qint64 rate;
        int percent;
    };
    const std::vector<Case> cases = {
        {0, 5000, 0, 0, 0},                      // first block
        {500, 100 * kMegabyte, 10, 90, 0},       // 1000 / 11
        {30000, 100 * kMegabyte, 0, 60000, 58},  // 100 MB at block 30000
        {1000, 10 * kMegabyte, 0, 2000, 19},     // resumed: counts from the file's start
        {0, 4096, 0, 0, 0},                      // the display lags one block behind
        {1, 4096, 0, 2, 50},
        {0, 0, 0, 0, 0},  // empty file
        {7, 0, 3, 3, 0},
        {(Q_INT64_C(3) << 30) / 2048 - 1, Q_INT64_C(3) << 30, 100, 31145, 99},  // 3 GiB
        {10, 100, 0, 20, 100},  // an index past the end stays at 100
        {kMaxBlockIndex, Q_INT64_C(1) << 62, 0, 2 * kMaxBlockIndex, 100},
        {(Q_INT64_C(1) << 62) / 2048 / 2, Q_INT64_C(1) << 62, 0, (Q_INT64_C(1) << 62) / 2048, 50},
    };
    for (const Case& c : cases) {
        const ProgressFigures figures = computeProgress(c.index, c.total, c.elapsedTag);
        EXPECT_EQ(figures.rateKb, c.rate) << c.index << " " << c.total;
        EXPECT_EQ(figures.percent, c.percent) << c.index << " " << c.total;
    }
    EXPECT_EQ(rateText(90), QStringLiteral("90 Kb/s"));
    EXPECT_EQ(rateText(0), QStringLiteral("0 Kb/s"));
    // Over the lane: "Kb/s" while it fits the label, whole megabytes per second beyond.
    for (const auto& [rate, text] :
         std::vector<std::pair<qint64, const char*>>{{0, "0 Kb/s"},
                                                     {9999, "9999 Kb/s"},
                                                     {10000, "9 Mb/s"},
                                                     {1172000, "1144 Mb/s"},
                                                     {10239999, "9999 Mb/s"}}) {
        EXPECT_EQ(wideRateText(rate), QString::fromLatin1(text)) << rate;
    }
}

TEST(Progress, PercentageIsExactForEveryBlockOfFilesBelowTwoGigabytes) {
    for (const qint64 total :
         {Q_INT64_C(1), Q_INT64_C(4097), Q_INT64_C(104857600), Q_INT64_C(2147483647)}) {
        const qint64 lastIndex = (total - 1) / 2048;
        for (qint64 index = 0; index <= lastIndex; index += 1 + lastIndex / 997) {
            ASSERT_EQ(computeProgress(index, total, 0).percent, index * 204800 / total)
                << index << " of " << total;
        }
    }
}

TEST(Progress, FormatMegabytes) {
    struct Case {
        qint64 size;
        const char* text;
    };
    const std::vector<Case> cases = {
        {0, "0.000"},
        {kMegabyte, "1.000"},
        {kMegabyte * 3 / 2, "1.500"},
        {12945406, "12.300"},  // 12.3456 MB
        {524, "0.000"},
        {525, "0.001"},           // 0.0005007 MB
        {1000000000, "954.000"},  // 953.67 MB
        {1024 * kMegabyte, "1.02E3"},
        {kMegabyte * 9 / 8, "1.130"},    // 1.125: half away from zero
        {kMegabyte * 49 / 4, "12.300"},  // 12.25
        {kMegabyte * 201 / 2, "101.000"},
        {kMegabyte * 1999 / 2, "1E3"},  // 999.5 rounds up into the exponent form
        {1000 * kMegabyte, "1E3"},
        {1100 * kMegabyte, "1.1E3"},
        {10240 * kMegabyte, "1.02E4"},
        {9995 * kMegabyte, "1E4"},
        {Q_INT64_C(2147483647), "2.05E3"},
        {Q_INT64_C(9223372036854775807), "8.8E12"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatMegabytes(c.size, QLatin1Char('.')), QString::fromLatin1(c.text)) << c.size;
    }
}

TEST(Progress, FormatMegabytesUsesTheDecimalSeparatorGiven) {
    EXPECT_EQ(FormatMegabytes(kMegabyte * 3 / 2, QLatin1Char(',')), QStringLiteral("1,500"));
    EXPECT_EQ(FormatMegabytes(1024 * kMegabyte, QLatin1Char(',')), QStringLiteral("1,02E3"));
    EXPECT_EQ(FormatMegabytes(kMegabyte * 3 / 2), QStringLiteral("1.500"));  // C locale
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    EXPECT_EQ(FormatMegabytes(kMegabyte * 3 / 2), QStringLiteral("1,500"));
    QLocale::setDefault(QLocale::c());
}

TEST(Progress, ActivityBarRunsTwentyOnePositions) {
    std::vector<int> positions = {0};
    for (int i = 0; i < 21; ++i) {
        positions.push_back(nextActivityPosition(positions.back()));
    }
    std::vector<int> expected;
    for (int p = 0; p <= 100; p += 5) {
        expected.push_back(p);
    }
    expected.push_back(0);
    EXPECT_EQ(positions, expected);
}
