#include "app/error_list.h"

#include <gtest/gtest.h>

#include <QListWidget>

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

}  // namespace
