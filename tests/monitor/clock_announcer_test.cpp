#include "monitor/clock_announcer.h"

#include <gtest/gtest.h>

#include <QLabel>

namespace {

TEST(ClockAnnouncerTest, OnceASecondAtMostOnlyWhatChangedAndOnlyToAListener) {
    const struct {
        const char* what;
        bool listening;
        bool textRuns;
        int announcements;  // over three seconds of ticks
    } cases[] = {
        {"nobody listens", false, true, 0},
        {"a screen reader listens", true, true, 3},
        {"the time stands still", true, false, 1},
    };
    for (const auto& c : cases) {
        QLabel clock;
        int heard = 0;
        ClockAnnouncer announcer({&clock},
                                 {[&] { return c.listening; }, [&](QLabel*) { ++heard; }});
        for (int tick = 0; tick < 3 * ClockAnnouncer::kTicksPerAnnouncement; ++tick) {
            clock.setText(QString::number(c.textRuns ? tick : 0));
            announcer.afterTick();
        }
        EXPECT_EQ(heard, c.announcements) << c.what;
    }
}

}  // namespace
