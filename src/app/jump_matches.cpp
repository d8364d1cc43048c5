#include "app/jump_matches.h"

#include <algorithm>
#include <cassert>

void JumpMatches::setEntryTexts(QStringList entryTexts) {
    beginResetModel();
    texts = std::move(entryTexts);
    entries.clear();
    endResetModel();
}

void JumpMatches::setMatches(std::vector<int> entryIndexes) {
    beginResetModel();
    entries = std::move(entryIndexes);
    assert(std::all_of(entries.begin(), entries.end(),
                       [this](int index) { return index >= 0 && index < texts.size(); }));
    endResetModel();
}

int JumpMatches::entryAt(int row) const {
    return row >= 0 && row < int(entries.size()) ? entries[size_t(row)] : -1;
}

int JumpMatches::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(entries.size());
}

QVariant JumpMatches::data(const QModelIndex& index, int role) const {
    const int entry = entryAt(index.row());
    if (!index.isValid() || entry < 0 || role != Qt::DisplayRole) return {};
    return texts[entry];
}
