// Checks that must neither kill a release build nor pass in silence: where assertions are on
// (the sanitizer builds) they stop the program; in a release build they are reported.
#include <gtest/gtest.h>

#include "support/manual_deck_rig.h"

namespace {

TEST(AudioOutputChecks, AFifthDeckIsNotIgnoredInSilence) {
    const std::string line = "Sound output: room for 4 decks only; one more stays silent";
#ifdef NDEBUG
    ManualDeckRig rig(44100, 5);
    const auto lines = rig.errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], line);
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ManualDeckRig(44100, 5), "check failed: " + line);
#endif
}

}  // namespace
