#include "app/settings_writer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "components/error_sink.h"
#include "shared/ini_lines.h"
#include "shared/module1.h"
#include "support/file_text.h"
#include "support/serving_process.h"

namespace {

using Lines = std::vector<std::string>;
constexpr std::chrono::milliseconds kGuard{10000};  // against a hang only

// Records each report and whether it came on the UI thread.
class ThreadCheckingSink : public ErrorSink {
public:
    void report(std::string_view cause) override {
        std::lock_guard lock(mutex);
        lines.emplace_back(cause);
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) ++offThread;
    }
    Lines taken() {
        std::lock_guard lock(mutex);
        return lines;
    }
    int offThread = 0;

private:
    std::mutex mutex;
    Lines lines;
};

class SettingsWriterTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ThreadCheckingSink errors;
    SettingsWriter writer{errors};
    std::promise<void> gate, entered;
    std::mutex ranMutex;
    Lines ran;

    std::string file() const { return dir.filePath("settings.ini").toStdString(); }
    // Holds the writer's thread until the gate opens, so that what follows queues behind it.
    void holdWriter() {
        gate = {};
        entered = {};
        writer.write(
            "G",
            [this, opened = gate.get_future().share()](std::string&) {
                entered.set_value();
                opened.wait();
                return true;
            },
            "G not saved: ");
    }
    // "K=V": K's value V in [S], as the settings classes save it.
    void save(const std::string& assignment) {
        const std::string key = assignment.substr(0, assignment.find('='));
        const std::string value = assignment.substr(key.size() + 1);
        writer.write(
            key,
            [this, assignment, key, value, path = file()](std::string& error) {
                {
                    std::lock_guard lock(ranMutex);
                    ran.push_back(assignment);
                }
                int16_t status = 0;
                Module1::WriteIniValue("S", key, value, path, status, &error);
                return status != 0;
            },
            key + " not saved: ");
    }
};

TEST_F(SettingsWriterTest, SavesInOrderAndANewerValueTakesTheQueuedOnesPlace) {
    struct Case {
        Lines writes;  // queued behind a held save, in this order
        Lines ran;     // what the writer saved, in its order
    };
    // clang-format off
    const Case cases[] = {
        {{"A=1", "B=1"}, {"A=1", "B=1"}},
        {{"B=1", "A=1"}, {"B=1", "A=1"}},
        {{"A=1", "B=1", "A=2"}, {"A=2", "B=1"}},
        {{"A=1", "A=2", "A=3"}, {"A=3"}},
        {{"A=1", "B=1", "C=1", "B=2", "A=3"}, {"A=3", "B=2", "C=1"}},
        // The held save is under way, not queued: a newer one of its key runs after it.
        {{"G=2", "A=1"}, {"G=2", "A=1"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.writes));
        std::remove(file().c_str());
        ran.clear();
        holdWriter();
        for (const std::string& assignment : c.writes) save(assignment);
        gate.set_value();
        ASSERT_EQ(writer.flush(kGuard), Lines{});
        EXPECT_EQ(ran, c.ran);
        // The file as if every save had run in turn: each key's last value, in the order the
        // keys first came.
        std::string expected;
        for (const std::string& assignment : c.writes) {
            const std::string key = assignment.substr(0, assignment.find('='));
            expected = IniLines::withValue(expected, "S", key, assignment.substr(key.size() + 1));
        }
        EXPECT_EQ(fileText(file()), expected);
        EXPECT_EQ(errors.taken(), Lines{});
    }
}

TEST_F(SettingsWriterTest, AFailureIsReportedOnceOnTheUiThreadUntilASaveSucceeds) {
    struct Step {
        std::string key;
        std::string cause;  // "" succeeds
    };
    // clang-format off
    const Step steps[] = {
        {"A", "disk full"}, {"B", "disk full"}, {"C", "disk full"},
        {"D", "read-only"}, {"E", "read-only"},
        {"F", ""}, {"H", "read-only"}, {"I", ""}, {"J", ""}, {"K", "read-only"},
    };
    // clang-format on
    const Lines expected = {"A not saved: disk full", "D not saved: read-only",
                            "H not saved: read-only", "K not saved: read-only"};
    holdWriter();
    for (const Step& step : steps)
        writer.write(
            step.key,
            [cause = step.cause](std::string& error) {
                error = cause;
                return cause.empty();
            },
            step.key + " not saved: ");
    gate.set_value();
    // Posted to the UI thread: they come with its event loop, not before.
    EXPECT_TRUE(serveUntil([&] { return errors.taken().size() >= expected.size(); }, 10000));
    EXPECT_EQ(errors.taken(), expected);
    EXPECT_EQ(writer.flush(kGuard), Lines{});
    EXPECT_EQ(errors.taken(), expected);
    EXPECT_EQ(errors.offThread, 0);
}

TEST_F(SettingsWriterTest, AFlushGivesUpAtItsBoundNamingWhatIsUndoneAndReportsWhatFailed) {
    writer.write(
        "Early",
        [](std::string& error) {
            error = "no space";
            return false;
        },
        "Early not saved: ");
    holdWriter();
    save("A=1");
    save("B=1");
    save("A=2");
    entered.get_future().wait();
    // The failure before the held save is handed over by the flush itself, undone or not.
    EXPECT_EQ(writer.flush(std::chrono::milliseconds(50)), (Lines{"G", "A", "B"}));
    EXPECT_EQ(errors.taken(), Lines{"Early not saved: no space"});
    EXPECT_EQ(fileText(file()), "");
    gate.set_value();
    EXPECT_EQ(writer.flush(kGuard), Lines{});
    EXPECT_EQ(fileText(file()), "[S]\nA=2\nB=1\n");
    EXPECT_EQ(errors.offThread, 0);
}

}  // namespace
