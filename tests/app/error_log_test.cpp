#include "app/error_log.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

TEST(ErrorLog, LineCarriesTimeAndCause) {
    ErrorLog log;
    QSignalSpy spy(&log, &ErrorLog::lineAdded);
    log.report("cannot open x.mp3");
    ASSERT_EQ(spy.count(), 1);
    const QString line = spy.at(0).at(0).toString();
    EXPECT_TRUE(line.endsWith("cannot open x.mp3"));
    EXPECT_EQ(line.at(2), ':');
}
