#include "playback/playlist_items.h"

#include <QByteArray>
#include <QListWidget>
#include <QSignalBlocker>
#include <QStringList>

#include "shared/file_name_text.h"

namespace {
constexpr int kBytesRole = Qt::UserRole;
}

void fillPlaylist(QListWidget* list, const std::vector<std::string>& names) {
    QStringList texts;
    texts.reserve(qsizetype(names.size()));
    for (const auto& name : names) texts << fileNameText(name);
    list->clear();
    // One insertion for all rows. The bytes are not shown, so the view need not hear of them
    // row by row.
    list->addItems(texts);
    const QSignalBlocker quiet(list->model());
    for (int row = 0; row < int(names.size()); ++row)
        list->item(row)->setData(kBytesRole,
                                 QByteArray(names[row].data(), qsizetype(names[row].size())));
}

std::string playlistEntry(const QListWidget* list, int row) {
    const QListWidgetItem* item = list->item(row);
    if (!item) return {};
    return item->data(kBytesRole).toByteArray().toStdString();
}

std::vector<std::string> playlistEntries(const QListWidget* list) {
    std::vector<std::string> entries;
    entries.reserve(size_t(list->count()));
    for (int row = 0; row < list->count(); ++row) entries.push_back(playlistEntry(list, row));
    return entries;
}
