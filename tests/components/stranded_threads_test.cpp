// The threads disks hold, counted and bounded per disk, on a mount table given as text, and the
// process's own keeper on the real one.
#include "components/stranded_threads.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/hanging_mount.h"
#include "support/temp_dir.h"

namespace {

// A root disk, /proc, a home disk whose music folder is also bound elsewhere, a network share
// with another mounted inside it, a share whose name starts as the first's does, and a disk
// whose mount point holds a space.
const char* const kMountInfo =
    "21 1 0:20 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "22 21 0:21 / /proc rw,nosuid shared:5 - proc proc rw\n"
    "30 21 8:17 / /home rw,relatime shared:2 - ext4 /dev/sdb1 rw\n"
    "31 21 8:17 /u/music /srv/music rw,relatime shared:2 - ext4 /dev/sdb1 rw\n"
    "40 21 0:50 / /mnt/nas rw,relatime shared:7 - nfs nas:/export rw,vers=4.2\n"
    "41 40 0:51 / /mnt/nas/usb rw,relatime shared:8 - nfs nas:/usb rw,vers=4.2\n"
    "43 21 0:53 / /mnt/nasbackup rw,relatime - nfs backup:/export rw\n"
    "44 21 0:54 / /media/My\\040Disk\\011A rw,nosuid - fuseblk /dev/sdc1 rw\n";

StrandedThreads sample() {
    return StrandedThreads([] { return std::string(kMountInfo); });
}

TEST(StrandedThreads, FindsTheDiskOfAPathInTheMountTable) {
    StrandedThreads keeper = sample();
    const struct {
        const char* path;
        const char* mountPoint;
        const char* device;
    } cases[] = {
        {"/home/u/a.mp3", "/home", "8:17"},
        {"/srv/music/a.mp3", "/srv/music", "8:17"},  // bound: the same disk as /home
        {"/mnt/nas/a.mp3", "/mnt/nas", "0:50"},
        {"/mnt/nas", "/mnt/nas", "0:50"},
        {"/mnt/nas/", "/mnt/nas", "0:50"},
        {"/mnt/nas/usb/b.mp3", "/mnt/nas/usb", "0:51"},      // nested: a disk of its own
        {"/mnt/nasbackup/c.mp3", "/mnt/nasbackup", "0:53"},  // not within /mnt/nas
        {"/mnt/nas/../nasbackup/c.mp3", "/mnt/nasbackup", "0:53"},
        {"/mnt/nas/./usb//b.mp3", "/mnt/nas/usb", "0:51"},
        {"/media/My Disk\tA/d.mp3", "/media/My Disk\tA", "0:54"},
        {"/media/My\\040Disk\\011A/d.mp3", "/", "0:20"},  // the escape is the table's, not a name's
        {"/media/My Disk", "/", "0:20"},
        {"/tmp/e.mp3", "/", "0:20"},  // outside every mount but the root
        {"/", "/", "0:20"},
        {"/proc/self/task", "/proc", "0:21"},
    };
    for (const auto& c : cases) {
        const StrandedThreads::Disk disk = keeper.diskOf(c.path);
        EXPECT_EQ(disk.mountPoint, c.mountPoint) << c.path;
        EXPECT_EQ(disk.device, c.device) << c.path;
    }
}

// Steps on one keeper, in order: each admits or keeps threads on a path, or lets an earlier
// step's hold go, and says what it expects.
TEST(StrandedThreads, BoundsTheThreadsPerDiskAndInAll) {
    enum class Op { Admit, Keep, Release };
    struct Step {
        Op op;
        std::string path;  // for Release: the step whose hold goes, as a number
        bool admitted = true;
        std::string named = "";  // the file the refusal names
    };
    const std::string nas = "/mnt/nas/slow ";
    const std::vector<Step> steps = {
        {Op::Admit, nas + "0.mp3"},
        {Op::Admit, nas + "1.mp3"},
        {Op::Admit, nas + "2.mp3"},
        {Op::Admit, nas + "3.mp3"},
        {Op::Admit, nas + "4.mp3", false, nas + "0.mp3"},  // 4: the share holds its share
        {Op::Admit, "/mnt/nas/usb/x.mp3"},                 // 5: another disk, though within it
        {Op::Admit, "/home/u/ok.mp3"},                     // 6: the local disk is free
        {Op::Admit, "/mnt/nasbackup/y.mp3"},
        {Op::Release, "0"},
        {Op::Admit, nas + "5.mp3"},                        // 9: one ended, one more
        {Op::Admit, nas + "6.mp3", false, nas + "1.mp3"},  // the oldest held is named
        {Op::Keep, nas + "7.mp3"},                         // 11: counted, never refused
        {Op::Release, "1"},
        {Op::Admit, nas + "8.mp3", false, nas + "2.mp3"},  // the kept one fills it again
        {Op::Release, "11"},
        {Op::Admit, nas + "9.mp3"},
        // One disk under two mount points (a bind mount) is one disk.
        {Op::Admit, "/srv/music/a.mp3"},
        {Op::Admit, "/srv/music/b.mp3"},
        {Op::Admit, "/srv/music/c.mp3"},
        {Op::Admit, "/home/u/d.mp3", false, "/home/u/ok.mp3"},
    };
    StrandedThreads keeper = sample();
    std::vector<StrandedThreads::Hold> holds;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        std::string refusal;
        switch (step.op) {
            case Op::Admit:
                holds.push_back(keeper.admit(step.path, refusal));
                EXPECT_EQ(static_cast<bool>(holds.back()), step.admitted) << "step " << i;
                if (!step.admitted) {
                    EXPECT_EQ(refusal, "the player still waits on " + step.named +
                                           ", whose disk does not answer")
                        << "step " << i;
                }
                break;
            case Op::Keep:
                holds.push_back(keeper.keep(step.path));
                EXPECT_TRUE(static_cast<bool>(holds.back())) << "step " << i;
                break;
            case Op::Release:
                holds[std::stoul(step.path)].release();
                holds.emplace_back();
                break;
        }
    }
    EXPECT_EQ(keeper.held(nas + "x.mp3"), StrandedThreads::kPerDisk);
    EXPECT_EQ(keeper.held("/home"), StrandedThreads::kPerDisk);
    EXPECT_EQ(keeper.held("/mnt/nas/usb/z.mp3"), 1);
    EXPECT_EQ(keeper.held("/var/log"), 0);
    EXPECT_EQ(keeper.heldInAll(), 2 * StrandedThreads::kPerDisk + 1 + 1);
    holds.clear();
    EXPECT_EQ(keeper.heldInAll(), 0);
}

// Many disks, each within its share, still meet the bound of all threads: then a path on a disk
// that holds none is refused, naming the oldest held anywhere.
TEST(StrandedThreads, AllDisksTogetherHaveABoundOfTheirOwn) {
    std::string table;
    for (int i = 0; i < StrandedThreads::kInAll; ++i)
        table += std::to_string(100 + i) + " 1 0:" + std::to_string(100 + i) + " / /mnt/d" +
                 std::to_string(i) + " rw - nfs s:/e rw\n";
    StrandedThreads keeper([table] { return table; });
    std::vector<StrandedThreads::Hold> holds;
    std::string refusal;
    for (int i = 0; i < StrandedThreads::kInAll; ++i) {
        holds.push_back(keeper.admit("/mnt/d" + std::to_string(i / 2) + "/f.mp3", refusal));
        ASSERT_TRUE(static_cast<bool>(holds.back())) << refusal;
    }
    EXPECT_FALSE(keeper.admits("/mnt/d15/g.mp3", refusal));
    EXPECT_EQ(refusal, "the player still waits on /mnt/d0/f.mp3, whose disk does not answer");
    EXPECT_FALSE(static_cast<bool>(keeper.admit("/mnt/d15/g.mp3", refusal)));
    // Threads kept by what a disk already had are counted past it.
    StrandedThreads::Hold kept = keeper.keep("/mnt/d15/g.mp3", 2);
    EXPECT_EQ(keeper.heldInAll(), StrandedThreads::kInAll + 2);
    holds.front().release();
    EXPECT_FALSE(keeper.admits("/mnt/d15/g.mp3", refusal));
    kept.release();
    EXPECT_TRUE(keeper.admits("/mnt/d15/g.mp3", refusal));
}

// A thread left on a disk lets its hold go from wherever it ends, even after the keeper went.
TEST(StrandedThreads, AHoldGoesFromAnyThreadAndOutlivesItsKeeper) {
    StrandedThreads::Hold late;
    {
        StrandedThreads keeper = sample();
        std::string refusal;
        StrandedThreads::Hold hold = keeper.admit("/mnt/nas/a.mp3", refusal, 2);
        std::thread([moved = std::move(hold)]() mutable { moved.release(); }).join();
        EXPECT_EQ(keeper.held("/mnt/nas"), 0);
        late = keeper.keep("/mnt/nas/b.mp3");
    }
    late.release();
    EXPECT_FALSE(static_cast<bool>(late));
}

// The process's keeper reads the real mount table, and notices a mount made after it read it.
TEST(StrandedThreads, TheProcessKeeperFollowsTheMountsAsTheyChange) {
    TempDir source, dir;
    StrandedThreads& keeper = StrandedThreads::process();
    EXPECT_EQ(keeper.diskOf("/proc/self/task").mountPoint, "/proc");
    const std::string before = keeper.diskOf(dir.path() + "/mnt/a.mp3").mountPoint;
    HangingMount mount(source.path(), dir.path());
    if (!mount.available()) GTEST_SKIP() << "no FUSE here: cannot mount a disk";
    EXPECT_NE(before, dir.path() + "/mnt");
    EXPECT_EQ(keeper.diskOf(mount.path("a.mp3")).mountPoint, dir.path() + "/mnt");
}

}  // namespace
