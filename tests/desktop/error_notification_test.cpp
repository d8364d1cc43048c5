#include <gtest/gtest.h>

#include <QListWidget>

#include "desktop/desktop_session.h"
#include "desktop/notification_throttle.h"
#include "support/dbus_mock.h"
#include "support/form1_fixture.h"
#include "support/private_bus.h"
#include "support/serving_process.h"

namespace {

TEST(NotificationThrottle, OneAtOnceThenOnePerIntervalGatheringTheRest) {
    struct Step {
        const char* line;  // nullptr: only the clock moves on
        std::int64_t at;
        const char* sent;  // what goes out at that moment; nullptr for nothing
    } steps[] = {
        // The first line at once, the next ones gathered until 5 s have passed.
        {"a", 0, "a"},
        {"b", 100, nullptr},
        {"c", 200, nullptr},
        {"d", 300, nullptr},
        {nullptr, 4999, nullptr},
        {nullptr, 5000, "d\nand 2 more"},
        // Within 5 s of the gathered one.
        {"e", 6000, nullptr},
        {nullptr, 10000, "e"},
        // Long after: at once again.
        {"f", 16000, "f"},
        {"g", 21000, "g"},
    };
    NotificationThrottle throttle(5000);
    for (const auto& s : steps) {
        std::optional<QString> sent = s.line ? throttle.add(s.line, s.at) : throttle.takeDue(s.at);
        EXPECT_EQ(sent.value_or("-").toStdString(), s.sent ? s.sent : "-") << "at " << s.at;
        if (s.line && !sent) {
            EXPECT_TRUE(throttle.dueAt().has_value());
        }
    }
    EXPECT_FALSE(throttle.dueAt().has_value());
}

class ErrorNotificationTest : public Form1Fixture {
protected:
    static constexpr int kInterval = 400;
    PrivateBus bus;
    QDBusConnection connection{QString()};
    std::unique_ptr<DbusMock> daemon;
    std::unique_ptr<DesktopSession> session;

    void SetUp() override {
        if (!bus.running()) GTEST_SKIP() << "no dbus-daemon";
        connection = bus.connect("notifications-test");
        make();
        session = std::make_unique<DesktopSession>(connection, connection, kInterval);
    }
    void startDaemon() {
        if (!DbusMock::available()) GTEST_SKIP() << "no python3-dbusmock";
        daemon = std::make_unique<DbusMock>(bus, connection, "notification_daemon",
                                            "org.freedesktop.Notifications", false);
        ASSERT_TRUE(daemon->running());
    }
    // The bodies of the notifications so far; each checked for the app name.
    QStringList bodies() {
        QStringList out;
        for (const QVariantList& args : daemon->calls("/org/freedesktop/Notifications", "Notify")) {
            EXPECT_EQ(args.value(0).toString(), "Velmor´s MP3-Player");
            out << args.value(4).toString();
        }
        return out;
    }
    bool waitForNotifications(qsizetype count) {
        return serveUntil([&] { return bodies().size() >= count; }, 3000);
    }
};

TEST_F(ErrorNotificationTest, WhileTheListIsOutOfSightLinesGoOutAtMostOncePerInterval) {
    startDaemon();
    if (IsSkipped() || HasFatalFailure()) return;
    form->addErrorLine("10:00:00  before the window showed");
    session->attach(*form);
    ASSERT_TRUE(waitForNotifications(1));
    EXPECT_EQ(bodies(), QStringList{"10:00:00  before the window showed"});

    form->show();  // at its design size: the list lies below the window's edge
    ASSERT_FALSE(form->errorListInView());
    form->addErrorLine("10:00:01  one");
    form->addErrorLine("10:00:02  two");
    form->addErrorLine("10:00:03  three");
    ASSERT_TRUE(waitForNotifications(2));
    EXPECT_EQ(bodies().last(), "10:00:03  three\nand 2 more");
    serveUntil([] { return false; }, 2 * kInterval);
    EXPECT_EQ(bodies().size(), 2);

    // Enlarged by the user, the window shows the list: nothing more goes out.
    form->resize(700, 620);
    ASSERT_TRUE(form->errorListInView());
    form->addErrorLine("10:00:04  seen in the window");
    serveUntil([] { return false; }, 2 * kInterval);
    EXPECT_EQ(bodies().size(), 2);
    EXPECT_EQ(ui().List3->count(), 5);
}

TEST_F(ErrorNotificationTest, WithoutANotificationServiceNothingElseChanges) {
    session->attach(*form);
    form->addErrorLine("10:00:00  nobody to tell");
    form->addErrorLine("10:00:01  still nobody");
    serveUntil([] { return false; }, 2 * kInterval);
    EXPECT_EQ(ui().List3->count(), 2);
    EXPECT_TRUE(errors.taken().empty());
}

}  // namespace
