#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <vector>

// The rows of the jump window's list: each maps to a playlist entry by index, so that showing
// thousands of matches makes no item per match. UI thread only.
class JumpMatches : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    // The texts of all entries, by index; empties the rows.
    void setEntryTexts(QStringList texts);
    // Rows for these entry indexes, in this order.
    void setMatches(std::vector<int> entryIndexes);
    // The entry index that `row` shows; -1 for no such row.
    int entryAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QStringList texts;
    std::vector<int> entries;
};
