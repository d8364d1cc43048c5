#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// Finds playlist entries by words typed in any order, ignoring case and accents: "e" finds
// "É" and "é", "ss" finds "ß". Entries are folded once when set, so that a query costs one
// scan of folded strings. UI thread only.
class EntryFilter {
public:
    // The entries' texts as shown, in playlist order.
    void setEntries(const QStringList& texts);
    int entryCount() const { return int(folded.size()); }

    // Indexes, in playlist order, of the entries holding every word of `query`; every entry
    // for a query without words.
    std::vector<int> matches(const QString& query) const;

    // Compatibility decomposition without its non-spacing marks, case-folded, "ß" as "ss".
    static QString fold(const QString& text);

private:
    std::vector<QString> folded;
    // Per entry, which of 64 classes of characters it holds: an entry that lacks one of a word's
    // is passed over without a search.
    std::vector<quint64> characterClasses;
};
