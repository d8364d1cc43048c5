#include "playback/entry_filter.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <vector>

#include "shared/file_name_text.h"

TEST(EntryFilter, FindsEntriesHoldingEveryWordWhateverTheirCaseAndAccents) {
    const QStringList entries = {
        QString::fromUtf8("Café del Mar.mp3"),               // 0
        QString::fromUtf8("CAFE society.mp3"),               // 1
        QString::fromUtf8("Straße.mp3"),                     // 2
        QString::fromUtf8("strasse 2.mp3"),                  // 3
        QString::fromUtf8("Sigur Rós - Hoppípolla.mp3"),     // 4
        fileNameText("b\xF6se 12.mp3"),                      // 5: Latin-1, shown with U+FFFD
        QString::fromUtf8("\uFB01nal cut.mp3"),              // 6: a ligature, "fi"
        QString::fromUtf8("Beyonce\u0301 \u2013 Halo.mp3"),  // 7: é as e and a combining mark
        QString::fromUtf8("01 Intro.mp3"),                   // 8
        // 9: a mark (on the "x") and a symbol outside the basic plane
        QString::fromUtf8("ÅNGSTRÖM x\U0001D167y \U0001F3B5.mp3"),
    };
    EntryFilter filter;
    filter.setEntries(entries);
    ASSERT_EQ(filter.entryCount(), int(entries.size()));
    const std::vector<int> all = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const struct {
        const char* query;
        std::vector<int> found;
    } cases[] = {
        {"", all},
        {"  \t ", all},
        {"mp3", all},
        {"cafe", {0, 1}},
        {"CAFÉ", {0, 1}},
        {"mar cafe", {0}},  // any order
        {"café society", {1}},
        {"cafe jazz", {}},  // every word is needed
        {"cafe cafe", {0, 1}},
        {"strasse", {2, 3}},
        {"STRASSE 2", {3}},
        {"straße", {2, 3}},
        {"hoppipolla ros", {4}},
        {"se 12", {5}},  // what the name shows of itself is found
        {"böse", {}},    // the byte that does not decode is not an ö
        {"final", {6}},
        {"beyonce halo", {7}},
        {"beyoncé", {7}},
        {"angstrom", {9}},
        {"xy", {9}},
        {"\U0001F3B5", {9}},
        {"1", {5, 8}},
        {"xyz", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(filter.matches(QString::fromUtf8(c.query)), c.found) << c.query;
}

TEST(EntryFilter, NewEntriesReplaceTheOldOnes) {
    EntryFilter filter;
    EXPECT_TRUE(filter.matches("").empty());
    EXPECT_TRUE(filter.matches("a").empty());
    filter.setEntries({"a.mp3", "b.mp3", "ab.mp3"});
    EXPECT_EQ(filter.matches("b"), (std::vector<int>{1, 2}));
    filter.setEntries({"b.mp3"});
    EXPECT_EQ(filter.matches("b"), std::vector<int>{0});
    EXPECT_EQ(filter.entryCount(), 1);
}
