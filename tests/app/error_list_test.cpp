#include "app/error_list.h"

#include <gtest/gtest.h>

#include <QListWidget>

#include "app/error_log.h"

namespace {

QString line(int second, const QString& cause) {
    return QStringLiteral("12:%1:%2  ")
               .arg(second / 60, 2, 10, QChar('0'))
               .arg(second % 60, 2, 10, QChar('0')) +
           cause;
}

TEST(ErrorListTest, KeepsTheNewestLinesAndOneLineForARepeatedCause) {
    const struct {
        const char* what;
        std::vector<QString> causes;  // one line a second
        int distinct;                 // then this many lines of causes all different
        int rows;
        QString first;
        QString last;
    } cases[] = {
        {"a cause repeated in a row",
         {"gone", "gone", "gone"},
         0,
         1,
         "12:00:02  gone (3 times)",
         "12:00:02  gone (3 times)"},
        {"not in a row", {"gone", "lost", "gone"}, 0, 3, "12:00:00  gone", "12:00:02  gone"},
        {"one more than is kept",
         {},
         ErrorList::kKept + 1,
         ErrorList::kKept + 1,
         "(1 older lines dropped)",
         "12:16:40  cause 1000"},
        {"many more",
         {},
         2500,
         ErrorList::kKept + 1,
         "(1500 older lines dropped)",
         "12:41:39  cause 2499"},
    };
    for (const auto& c : cases) {
        QListWidget list;
        ErrorList errors(&list);
        std::vector<QString> causes = c.causes;
        for (int i = 0; i < c.distinct; ++i) causes.push_back(QStringLiteral("cause %1").arg(i));
        for (int i = 0; i < int(causes.size()); ++i) errors.add(line(i, causes[i]));
        EXPECT_EQ(list.count(), c.rows) << c.what;
        EXPECT_EQ(list.item(0)->text(), c.first) << c.what;
        EXPECT_EQ(list.item(list.count() - 1)->text(), c.last) << c.what;
    }
}

// Lines of absurd paths, thousands of them: the list holds a bounded amount of text, the
// newest lines, each cut in its middle to a length one can read.
TEST(ErrorListTest, LongLinesAreCutAndTheTextKeptIsBoundedInBytes) {
    const struct {
        const char* what;
        int lines;
        int pathChars;
    } cases[] = {
        {"a few long lines", 3, 65536},
        {"many long lines", 1200, 65536},
        {"many lines short enough to stay whole", 3000, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QListWidget list;
        ErrorList errors(&list);
        for (int i = 0; i < c.lines; ++i)
            errors.add(line(i % 3600, QStringLiteral("/%1 %2.mp3: no such file")
                                          .arg(QString(c.pathChars, QChar('x')))
                                          .arg(i)));
        qsizetype textBytes = 0;
        for (int row = 0; row < list.count(); ++row) {
            const QString text = list.item(row)->text();
            textBytes += text.size() * qsizetype(sizeof(QChar));
            EXPECT_LE(text.toUtf8().size(), 10 + qsizetype(ErrorLog::kMaxCauseBytes)) << row;
        }
        EXPECT_LE(textBytes, ErrorList::kKeptBytes + 100) << "with the notice";
        const QString newest = list.item(list.count() - 1)->text();
        EXPECT_TRUE(newest.mid(10).startsWith(QStringLiteral("/xxx")));
        EXPECT_TRUE(newest.endsWith(QStringLiteral(" %1.mp3: no such file").arg(c.lines - 1)))
            << newest.right(40).toStdString();
        EXPECT_EQ(newest.contains(QChar(0x2026)), c.pathChars > int(ErrorLog::kMaxCauseBytes));
        if (list.count() < c.lines) {
            const int kept = list.count() - 1;
            EXPECT_EQ(list.item(0)->text(),
                      QStringLiteral("(%1 older lines dropped)").arg(c.lines - kept));
        }
    }
}

}  // namespace
