#include "shell/paintpacer.h"

#include <gtest/gtest.h>
#include <QPaintEvent>
#include <QTest>
#include <QWidget>

namespace {

// Paints a number; remembers the last number it painted and how often it painted.
class NumberWidget : public QWidget {
public:
    using QWidget::QWidget;
    int value = 0;
    int painted = -1;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        painted = value;
        ++paints;
    }
};

class PaintPacerTest : public ::testing::Test {
protected:
    // Long enough that no test step takes that long on a loaded machine.
    static constexpr int kInterval = 400;

    void SetUp() override {
        m_window.resize(100, 40);
        m_number = new NumberWidget(&m_window);
        m_number->setGeometry(0, 0, 100, 40);
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
        m_pacer = new PaintPacer(&m_window, kInterval);
    }

    bool paintedSoon(int value) {
        return QTest::qWaitFor([&] { return m_number->painted == value; }, 5000);
    }

    QWidget m_window;
    NumberWidget* m_number = nullptr;
    PaintPacer* m_pacer = nullptr;
};

TEST_F(PaintPacerTest, HeldPaintsCarryTheLatestStateAndPaintingGoesOn) {
    m_number->value = 1;
    m_number->repaint();
    EXPECT_EQ(m_number->painted, 1);  // the first request of an interval paints at once

    // Changes within the interval are held: repaint() no longer paints at once, and
    // update() requests pile into one paint.
    const int paintsBefore = m_number->paints;
    for (int v = 2; v <= 50; ++v) {
        m_number->value = v;
        if (v % 2 == 0) {
            m_number->repaint();
        } else {
            m_number->update();
        }
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(m_number->paints, paintsBefore);
    EXPECT_GT(m_pacer->HeldCount(), 0);
    ASSERT_TRUE(paintedSoon(50));
    EXPECT_EQ(m_number->paints, paintsBefore + 1);

    // After a held paint was delivered, later changes still reach the screen.
    m_number->value = 51;
    m_number->update();
    ASSERT_TRUE(paintedSoon(51));
    m_number->value = 52;
    m_number->repaint();
    ASSERT_TRUE(paintedSoon(52));
}

TEST_F(PaintPacerTest, AnIdleWindowPaintsAtOnce) {
    // Nothing was painted for an interval: the next request is not held.
    QTest::qWait(kInterval + 100);
    m_number->value = 7;
    m_number->repaint();
    EXPECT_EQ(m_number->painted, 7);
}

}  // namespace
