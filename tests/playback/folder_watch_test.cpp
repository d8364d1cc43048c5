// A watched folder whose disk stops answering holds the watch's thread, never the window, and
// says so in one line.
#include "playback/folder_watch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "components/stranded_threads.h"
#include "doubles/recording_error_sink.h"
#include "support/hanging_mount.h"
#include "support/loop_probe.h"
#include "support/mount_watchdog.h"
#include "support/serving_process.h"
#include "support/temp_dir.h"

TEST(FolderWatchHang, AFolderWhoseDiskHangsHoldsOnlyItsThreadAndSaysSoOnce) {
    TempDir shared, fuse;
    std::filesystem::create_directories(shared.file("hang folder"));
    std::ofstream(shared.file("hang folder/a.mp3")) << "";
    HangingMount mount(shared.path(), fuse.path());
    if (!mount.available()) GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    MountWatchdog releaser(mount);
    const std::string folder = mount.path("hang folder") + "/";

    RecordingErrorSink errors;
    int listings = 0;
    FolderWatch watch(errors, [&](FolderWatch::Listing&&) { ++listings; });
    LoopProbe probe;
    watch.watch(folder);
    ASSERT_TRUE(serveUntil([&] { return mount.holds("hang folder"); }, 10000));
    // Long past the 2 s after which a disk counts as not answering.
    serveUntil([] { return false; }, 5000);
    std::printf("longest event-loop gap while the folder's listing hung: %lld ms\n",
                static_cast<long long>(probe.longestGap()));
    EXPECT_FALSE(releaser.fired()) << "the window waited for the disk";
    ASSERT_EQ(errors.taken().size(), 1u);
    EXPECT_EQ(errors.taken()[0],
              "Listing " + folder + " has taken more than 2 s: its disk does not answer");
    EXPECT_EQ(StrandedThreads::process().held(folder), 1);

    // Given up while it hangs: once the disk answers, the thread ends and its listing is dropped.
    watch.stop();
    EXPECT_EQ(watch.folder(), "");
    releaser.releaseNow();
    ASSERT_TRUE(serveUntil([&] { return StrandedThreads::process().held(folder) == 0; }, 10000));
    serveUntil([] { return false; }, 200);
    EXPECT_EQ(listings, 0);
    EXPECT_EQ(errors.taken().size(), 1u);
}
