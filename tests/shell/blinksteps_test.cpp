#include "shell/blinksteps.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

TEST(BlinkSteps, PauseBlinkShowsTwoTicksAndHidesTwo) {
    int tag = 0;
    const std::optional<QString> pausa = QStringLiteral("Pausa");
    const std::optional<QString> empty = QString();
    const std::optional<QString> nothing;
    const std::vector<std::optional<QString>> expected = {pausa, nothing, empty, empty,
                                                          pausa, nothing, empty, empty};
    std::vector<std::optional<QString>> shown;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        shown.push_back(pauseBlinkStep(tag));
    }
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(tag, 0);

    // Switched off after the second tick, on again later: it goes on from that phase.
    tag = 0;
    pauseBlinkStep(tag);
    pauseBlinkStep(tag);
    EXPECT_EQ(pauseBlinkStep(tag), empty);
    EXPECT_EQ(tag, 3);
}

TEST(BlinkSteps, TabBlinksThreeTimesThenStaysLit) {
    int tag = 0;
    std::vector<Highlight> highlights;
    std::vector<bool> stops;
    for (int i = 0; i < 7; ++i) {
        const TabBlinkStep step = tabBlinkStep(tag);
        highlights.push_back(step.highlight);
        stops.push_back(step.stopTimer);
    }
    using enum Highlight;
    EXPECT_EQ(highlights, (std::vector<Highlight>{On, Off, On, Off, On, Off, On}));
    EXPECT_EQ(stops, (std::vector<bool>{false, false, false, false, false, false, true}));
    EXPECT_EQ(tag, 7);
}

}  // namespace
