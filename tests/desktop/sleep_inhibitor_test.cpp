#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QPushButton>

#include "desktop/desktop_session.h"
#include "support/dbus_mock.h"
#include "support/form1_fixture.h"
#include "support/private_bus.h"
#include "support/serving_process.h"

namespace {

class SleepInhibitorTest : public Form1Fixture {
protected:
    PrivateBus systemBus;
    QDBusConnection system{QString()};
    std::unique_ptr<DbusMock> logind;
    std::unique_ptr<DesktopSession> desktop;
    std::string music;

    void SetUp() override {
        if (!systemBus.running()) GTEST_SKIP() << "no dbus-daemon";
        music = makeFiles("music", {"a.mp3", "b.mp3"});
        system = systemBus.connect("inhibitor-test");
        make();
    }
    void attach() {
        desktop = std::make_unique<DesktopSession>(QDBusConnection("no-session-bus"), system);
        desktop->attach(*form);
    }
    void startLogind() {
        if (!DbusMock::available()) GTEST_SKIP() << "no python3-dbusmock";
        logind =
            std::make_unique<DbusMock>(systemBus, system, "logind", "org.freedesktop.login1", true);
        ASSERT_TRUE(logind->running());
    }
    int inhibitCalls() { return int(logind->calls("/org/freedesktop/login1", "Inhibit").size()); }
    // The inhibitors logind holds, each as "what|who|why|mode".
    QStringList held() {
        const QDBusMessage reply = logind->call("/org/freedesktop/login1",
                                                "org.freedesktop.login1.Manager", "ListInhibitors");
        QStringList out;
        if (reply.arguments().isEmpty()) return out;
        const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QString what, who, why, mode;
            uint uid = 0, pid = 0;
            list.beginStructure();
            list >> what >> who >> why >> mode >> uid >> pid;
            list.endStructure();
            out << QStringList{what, who, why, mode}.join('|');
        }
        list.endArray();
        return out;
    }
};

TEST_F(SleepInhibitorTest, HeldWhileADeckPlaysTakenOnceReleasedWhenNonePlays) {
    startLogind();
    if (IsSkipped() || HasFatalFailure()) return;
    attach();
    const QString inhibitor = "idle:sleep|Velmor´s MP3-Player|Playing music|block";
    struct Step {
        const char* what;
        std::function<void()> action;
        int calls;
        int holders;
    } steps[] = {
        {"nothing plays yet", [] {}, 0, 0},
        {"\"Play Dir\"", [&] { form->openPath(music); }, 1, 1},
        {"\"II\" pauses", [&] { ui().Command4->click(); }, 1, 0},
        {"\"II\" resumes", [&] { ui().Command4->click(); }, 2, 1},
        {"deck 2 plays as well",
         [&] {
             state().Deck2File = "b.mp3";
             ui().Command13->click();
         },
         2, 1},
        {"deck 1 stops, deck 2 plays on", [&] { ui().Command3->click(); }, 2, 1},
        {"deck 2's track ends", [&] { deck2.state = Deck::Stopped; }, 2, 0},
        {"\"Play\"", [&] { ui().Command1->click(); }, 3, 1},
        {"\"Stop\"", [&] { ui().Command3->click(); }, 3, 0},
    };
    for (const auto& s : steps) {
        s.action();
        serveUntil([&] { return inhibitCalls() == s.calls && held().size() == s.holders; }, 3000);
        serveUntil([] { return false; }, 50);  // and nothing more follows
        EXPECT_EQ(inhibitCalls(), s.calls) << s.what;
        const QStringList now = held();
        EXPECT_EQ(now.size(), s.holders) << s.what;
        for (const QString& h : now) EXPECT_EQ(h, inhibitor) << s.what;
    }
}

// logind absent at the first play (not started yet, or restarting): asked again at the next.
TEST_F(SleepInhibitorTest, ALogindThatComesLaterIsAskedAtTheNextPlay) {
    attach();
    form->openPath(music);
    serveUntil([] { return false; }, 300);
    ui().Command3->click();
    startLogind();
    if (IsSkipped() || HasFatalFailure()) return;
    ui().Command1->click();
    EXPECT_TRUE(serveUntil([&] { return held().size() == 1; }, 3000));
    EXPECT_EQ(inhibitCalls(), 1);
}

TEST_F(SleepInhibitorTest, WithoutLogindOrASystemBusOneLineOnStandardError) {
    for (const bool busThere : {true, false}) {
        if (!busThere) system = QDBusConnection("no-system-bus");
        make();
        testing::internal::CaptureStderr();
        attach();
        form->openPath(music);
        serveUntil([] { return false; }, 300);
        ui().Command3->click();
        form->openPath(music);
        serveUntil([] { return false; }, 300);
        const std::string err = testing::internal::GetCapturedStderr();
        size_t lines = 0;
        for (size_t at = err.find("may sleep"); at != std::string::npos;
             at = err.find("may sleep", at + 1))
            ++lines;
        EXPECT_EQ(lines, 1u) << (busThere ? "no logind: " : "no system bus: ") << err;
        EXPECT_EQ(deck1.state, Deck::Playing);
        desktop.reset();
        form.reset();
    }
}

}  // namespace
