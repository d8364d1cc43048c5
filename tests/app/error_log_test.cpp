#include "app/error_log.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <string>

TEST(ErrorLog, LineCarriesTimeAndCause) {
    ErrorLog log;
    QSignalSpy spy(&log, &ErrorLog::lineAdded);
    log.report("cannot open x.mp3");
    ASSERT_EQ(spy.count(), 1);
    const QString line = spy.at(0).at(0).toString();
    EXPECT_TRUE(line.endsWith("cannot open x.mp3"));
    EXPECT_EQ(line.at(2), ':');
}

namespace {
std::string repeated(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}
}  // namespace

// What reaches the window, the notifications, standard error and the history alike.
TEST(ErrorLog, ACauseTooLongToReadIsCutInItsMiddle) {
    const std::size_t max = ErrorLog::kMaxCauseBytes;
    const std::string ellipsis = "\u2026";
    const std::string longPath = "/music/" + repeated("deep/", 13000) + "song.mp3";
    const struct {
        const char* what;
        std::string cause;
        std::string expected;  // "" where only the start and end are checked
        std::string start, end;
    } cases[] = {
        {"short", "cannot open a.mp3", "cannot open a.mp3", "", ""},
        {"empty", "", "", "", ""},
        {"at the limit", std::string(max, 'a'), std::string(max, 'a'), "", ""},
        {"one byte over", std::string(max + 1, 'a'),
         std::string((max - 3) / 2, 'a') + ellipsis + std::string(max - 3 - (max - 3) / 2, 'a'), "",
         ""},
        {"a 64 K path", "Opening " + longPath + ": no such file", "", "Opening /music/deep/",
         "deep/song.mp3: no such file"},
        // Two-byte characters: the cut falls between them, one byte short of the limit.
        {"two-byte characters", repeated("\u00e9", max),
         repeated("\u00e9", 254 / 2) + ellipsis + repeated("\u00e9", 254 / 2), "", ""},
        {"three-byte characters", repeated("\u20ac", max), "", "\u20ac\u20ac", "\u20ac\u20ac"},
        {"four-byte characters", repeated("\U0001D11E", max), "", "\U0001D11E", "\U0001D11E"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ErrorLog log;
        QSignalSpy spy(&log, &ErrorLog::lineAdded);
        log.report(c.cause);
        ASSERT_EQ(spy.count(), 1);
        const QString line = spy.at(0).at(0).toString();
        const QByteArray bytes = line.mid(10).toUtf8();  // after "HH:mm:ss  "
        const std::string shown(bytes.constData(), std::size_t(bytes.size()));
        EXPECT_LE(shown.size(), max);
        // No character cut in two: the text decodes without a replacement character.
        EXPECT_FALSE(line.contains(QChar::ReplacementCharacter));
        if (!c.expected.empty() || c.cause.empty()) {
            EXPECT_EQ(shown, c.expected);
        } else {
            EXPECT_EQ(shown.rfind(c.start, 0), 0u) << shown.substr(0, 40);
            EXPECT_NE(shown.find(ellipsis), std::string::npos);
            ASSERT_GE(shown.size(), c.end.size());
            EXPECT_EQ(shown.substr(shown.size() - c.end.size()), c.end);
            EXPECT_GE(shown.size(), max - 6) << "cut no shorter than it must be";
        }
        EXPECT_EQ(log.history().value(0), line);
    }
}
