// The real window on test doubles, handed folders and files on a disk that stops answering
// (a FUSE file system whose listings and lookups hang): the window's event loop, and with it
// MPRIS and the tick, goes on; once the disk answers, the window does what it would have done.
#include "playback/path_lookup.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/remote_control.h"
#include "components/stranded_threads.h"
#include "shared/file_uri.h"
#include "support/form1_fixture.h"
#include "support/hanging_mount.h"
#include "support/loop_probe.h"
#include "support/mount_watchdog.h"
#include "support/scoped_env.h"
#include "support/serving_process.h"
#include "support/temp_dir.h"

namespace {

using Names = std::vector<std::string>;

// What the deck is told when `path` is played.
Names played(const std::string& path) {
    return {"setFileName " + path, "play"};
}

std::vector<std::string> entries(const QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
    return out;
}

void makeFolder(const std::string& dir, std::initializer_list<const char*> names) {
    std::filesystem::create_directories(dir);
    for (const char* name : names) std::ofstream(dir + "/" + name) << "";
}

// The real window on doubles beside a disk that hangs. The disk answers when told, or 20 s
// after it was mounted whatever happens, and the test then fails.
class HungDiskForm : public Form1Fixture {
protected:
    // Folders, each holding `names`, on the disk; false where FUSE is missing.
    bool mountHanging(const std::vector<std::string>& folders,
                      std::initializer_list<const char*> names) {
        for (const auto& folder : folders) makeFolder(shared.file(folder), names);
        mount = std::make_unique<HangingMount>(shared.path(), fuse.path());
        if (!mount->available()) return false;
        releaser = std::make_unique<MountWatchdog>(*mount);
        return true;
    }
    std::vector<std::string> linesSince(size_t before) {
        auto lines = errors.taken();
        lines.erase(lines.begin(), lines.begin() + long(before));
        return lines;
    }

    TempDir shared, fuse;
    std::unique_ptr<HangingMount> mount;
    std::unique_ptr<MountWatchdog> releaser;  // goes first: lets the disk answer before it unmounts
};

enum class Entry { CommandLine, OpenUri, Drop, PlayDir };

struct Case {
    const char* name;
    Entry entry;
    std::string handed;  // under the mount
    std::string folder;  // the one whose disk hangs, under the mount
    bool playsFolder;    // "Play Dir" on `folder`, else "Play File" on `handed`
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class PathLookupHang : public HungDiskForm, public ::testing::WithParamInterface<Case> {
protected:
    void hand(Entry entry, const std::string& path) {
        switch (entry) {
            case Entry::CommandLine:  // as main hands it over
                QTimer::singleShot(0, form.get(), [this, path] { form->openPath(path); });
                break;
            case Entry::OpenUri:  // as MPRIS calls it, from the event loop
                QTimer::singleShot(0, form.get(), [this, path] { form->remote().openPath(path); });
                break;
            case Entry::Drop:
                QTimer::singleShot(0, form.get(), [this, path] {
                    QMimeData data;
                    data.setData("text/uri-list", QByteArray::fromStdString(fileUriOf(path)));
                    const QPoint at(100, 100);
                    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton,
                                          Qt::NoModifier);
                    QCoreApplication::sendEvent(form.get(), &enter);
                    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
                    QCoreApplication::sendEvent(form.get(), &drop);
                });
                break;
            case Entry::PlayDir:
                playDirDialog.answer = path;
                QTimer::singleShot(0, form.get(), [this] { ui().Command6->click(); });
                break;
        }
    }
};

TEST_P(PathLookupHang, TheWindowAnswersMeanwhileAndPlaysWhatItWouldHaveOnceTheDiskAnswers) {
    const Case& c = GetParam();
    if (!mountHanging({"hang folder", "lookuphang folder"},
                      {"10 c.mp3", "2 b.mp3", "1 a.mp3", "cover.jpg"}))
        GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    const std::string before = makeFiles("before", {"y.mp3", "x.mp3"});
    make();
    form->openPath(before);
    ASSERT_EQ(entries(ui().List4), (Names{"x.mp3", "y.mp3"}));
    deck1.calls.clear();
    const size_t linesBefore = errors.taken().size();

    {
        LoopProbe probe;
        hand(c.entry, mount->path(c.handed));
        serveUntil([] { return false; }, 2500);
        std::printf("%s: longest event-loop gap while the disk hung %lld ms\n", c.name,
                    static_cast<long long>(probe.longestGap()));
        EXPECT_FALSE(releaser->fired()) << "the window waited for the disk";
    }
    // Meanwhile the window shows what it played, and says once why nothing else comes.
    EXPECT_TRUE(deck1.transport().empty());
    EXPECT_EQ(entries(ui().List4), (Names{"x.mp3", "y.mp3"}));
    EXPECT_EQ(state().PlaylistDir, before);
    const auto lines = linesSince(linesBefore);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("has taken more than 2 s"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(mount->path(c.folder)), std::string::npos) << lines[0];

    releaser->releaseNow();
    ASSERT_TRUE(serveUntil([&] { return !deck1.transport().empty(); }, 10000));
    const std::string folder = mount->path(c.folder) + "/";
    if (c.playsFolder) {
        EXPECT_EQ(deck1.transport(), played(folder + "1 a.mp3"));
        EXPECT_EQ(entries(ui().List4), (Names{"1 a.mp3", "2 b.mp3", "10 c.mp3"}));
        EXPECT_EQ(state().PlaylistDir, folder);
        EXPECT_EQ(state().DataPath, folder);
        EXPECT_EQ(state().CurrentFile, "1 a.mp3");
        EXPECT_EQ(state().TrackCount, 3);
        EXPECT_EQ(state().playerState, PlayerState::Playing);
    } else {
        EXPECT_EQ(deck1.transport(), played(mount->path(c.handed)));
        EXPECT_EQ(state().CurrentFile, mount->path(c.handed));
        EXPECT_EQ(entries(ui().List4), (Names{"x.mp3", "y.mp3"}));
        EXPECT_EQ(state().PlaylistDir, before);
    }
    EXPECT_EQ(errors.taken().size(), linesBefore + 1);
}

INSTANTIATE_TEST_SUITE_P(
    EntryPoints, PathLookupHang,
    ::testing::Values(
        Case{"CommandLineListingHangs", Entry::CommandLine, "hang folder", "hang folder", true},
        Case{"CommandLineLookupHangs", Entry::CommandLine, "lookuphang folder", "lookuphang folder",
             true},
        Case{"OpenUriListingHangs", Entry::OpenUri, "hang folder", "hang folder", true},
        Case{"OpenUriLookupOfAFileHangs", Entry::OpenUri, "lookuphang folder/2 b.mp3",
             "lookuphang folder", false},
        Case{"DropListingHangs", Entry::Drop, "hang folder", "hang folder", true},
        Case{"DropLookupHangs", Entry::Drop, "lookuphang folder", "lookuphang folder", true},
        Case{"PlayDirListingHangs", Entry::PlayDir, "hang folder/cover.jpg", "hang folder", true},
        Case{"PlayDirLookupHangs", Entry::PlayDir, "lookuphang folder/1 a.mp3", "lookuphang folder",
             true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

class PathLookupSupersede : public HungDiskForm {};

// A folder handed over while an earlier one still hangs is played at once; the earlier
// answer, when it comes, is dropped. Past a few threads held by the disk, a request is
// refused with a line, until the disk answers again.
TEST_F(PathLookupSupersede, ANewerRequestWinsAndStrandedLookupsAreBounded) {
    std::vector<std::string> folders;
    for (int i = 0; i <= StrandedThreads::kPerDisk; ++i)
        folders.push_back("hang " + std::to_string(i));
    if (!mountHanging(folders, {"h.mp3"}))
        GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    const std::string local = makeFiles("local", {"b.mp3", "a.mp3"});
    make();

    form->openPath(mount->path("hang 0"));
    form->openPath(local);
    EXPECT_FALSE(releaser->fired()) << "the window waited for the disk";
    EXPECT_EQ(deck1.transport(), played(local + "a.mp3"));
    EXPECT_EQ(entries(ui().List4), (Names{"a.mp3", "b.mp3"}));

    for (int i = 1; i <= StrandedThreads::kPerDisk; ++i)
        form->openPath(mount->path("hang " + std::to_string(i)));
    serveUntil([] { return false; }, 100);
    auto lines = errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Cannot open " + mount->path("hang 4")), std::string::npos) << lines[0];
    EXPECT_NE(
        lines[0].find("still waits on " + mount->path("hang 0") + ", whose disk does not answer"),
        std::string::npos)
        << lines[0];

    // Once the disk answers, the stranded lookups end; their answers change nothing.
    releaser->releaseNow();
    for (int i = 0; i < StrandedThreads::kPerDisk; ++i) {
        std::error_code ec;
        std::filesystem::directory_iterator(mount->path("hang " + std::to_string(i)), ec);
    }
    deck1.calls.clear();
    ASSERT_TRUE(serveUntil(
        [&] {
            form->openPath(local);
            return !deck1.transport().empty();
        },
        5000));
    serveUntil([] { return false; }, 300);
    EXPECT_EQ(deck1.transport(), played(local + "a.mp3"));
    EXPECT_EQ(entries(ui().List4), (Names{"a.mp3", "b.mp3"}));
    EXPECT_EQ(state().PlaylistDir, local);
}

// Once the hung disk holds its share of lookups, a folder on a disk that answers still opens at
// once: a thread held on one disk never counts against another.
TEST_F(PathLookupSupersede, AFolderOnADiskThatAnswersOpensWhileAHungDiskHoldsItsShare) {
    std::vector<std::string> folders;
    for (int i = 0; i <= StrandedThreads::kPerDisk; ++i)
        folders.push_back("hang " + std::to_string(i));
    if (!mountHanging(folders, {"h.mp3"}))
        GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    const std::string local = makeFiles("local", {"b.mp3", "a.mp3"});
    make();
    for (const auto& folder : folders) form->openPath(mount->path(folder));
    ASSERT_EQ(errors.taken().size(), 1u);  // the last, refused
    EXPECT_EQ(StrandedThreads::process().held(mount->path("hang 0")), StrandedThreads::kPerDisk);

    form->openPath(local);
    EXPECT_EQ(deck1.transport(), played(local + "a.mp3"));
    EXPECT_EQ(entries(ui().List4), (Names{"a.mp3", "b.mp3"}));
    EXPECT_EQ(errors.taken().size(), 1u);
}

// A file played while a folder is still being listed stays: the folder's answer is dropped.
TEST_F(PathLookupSupersede, AFilePlayedMeanwhileIsNotReplacedByTheHungFolder) {
    if (!mountHanging({"hang folder"}, {"h.mp3"}))
        GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    make();
    form->openPath(mount->path("hang folder"));
    playFileDialog.answer = "/elsewhere/solo.mp3";
    ui().Command2->click();
    const Names solo = played("/elsewhere/solo.mp3");
    EXPECT_EQ(deck1.transport(), solo);

    releaser->releaseNow();
    std::error_code ec;
    std::filesystem::directory_iterator(mount->path("hang folder"), ec);  // the disk answers
    serveUntil([] { return false; }, 500);
    EXPECT_EQ(deck1.transport(), solo);
    EXPECT_EQ(ui().List4->count(), 0);
    EXPECT_EQ(state().CurrentFile, "/elsewhere/solo.mp3");
}

class PlayDirDialogStart : public HungDiskForm {};

// The "Play Dir" dialog looks up the directory it opens at on the window's thread (its listing
// is done on a thread of the dialog's own): a saved music directory whose disk does not answer
// is not where it opens.
TEST_F(PlayDirDialogStart, ASavedDirectoryWhoseDiskDoesNotAnswerIsNotWhereItOpens) {
    if (!mountHanging({"good", "hang folder", "lookuphang folder"}, {"a.mp3"}))
        GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    const std::string home = dir.path().toStdString() + "/";
    const ScopedEnv homeEnv("HOME", home);
    make();
    const struct {
        std::string saved, opensAt;
    } cases[] = {
        {mount->path("good") + "/", mount->path("good") + "/"},
        {mount->path("hang folder") + "/", mount->path("hang folder") + "/"},  // listed off it
        {mount->path("lookuphang folder") + "/", home},
        {"/no/such/dir/", "/no/such/dir/"},  // the dialog copes with that, as it always did
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.saved);
        state().DataPath = c.saved;
        playDirDialog.answer = "";  // cancelled
        const size_t linesBefore = errors.taken().size();
        ui().Command6->click();
        EXPECT_FALSE(releaser->fired()) << "the window waited for the disk";
        ASSERT_FALSE(playDirDialog.initDirs.empty());
        EXPECT_EQ(playDirDialog.initDirs.back(), c.opensAt);
        EXPECT_EQ(state().DataPath, c.saved);
        const auto lines = linesSince(linesBefore);
        if (c.opensAt == c.saved) {
            EXPECT_TRUE(lines.empty()) << lines.front();
        } else {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_NE(lines[0].find(c.saved + ": its disk does not answer"), std::string::npos)
                << lines[0];
        }
    }
}

}  // namespace
