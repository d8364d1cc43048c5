#include "playback/music_listing.h"

#include <QCollator>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
bool hasMp3Extension(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".mp3";
}
}  // namespace

void sortNaturally(std::vector<std::string>& names) {
    // The C locale collates by code points and ignores numeric mode; English is a neutral
    // stand-in there.
    QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Keys once per name: comparing QStrings built on the fly would dominate large folders.
    std::vector<std::pair<QCollatorSortKey, size_t>> keys;
    keys.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        keys.emplace_back(collator.sortKey(QString::fromStdString(names[i])), i);
    std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        const int c = a.first.compare(b.first);
        if (c != 0) return c < 0;
        return names[a.second] < names[b.second];
    });
    std::vector<std::string> sorted;
    sorted.reserve(names.size());
    for (const auto& k : keys) sorted.push_back(std::move(names[k.second]));
    names = std::move(sorted);
}

std::vector<std::string> listMp3Files(const std::string& dir, std::string& error) {
    error.clear();
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        error = "Cannot read the directory " + dir + ": " + ec.message();
        return names;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            error = "Cannot read the directory " + dir + ": " + ec.message();
            break;
        }
        std::string name = it->path().filename().string();
        std::error_code typeError;
        if (hasMp3Extension(name) && it->is_regular_file(typeError)) names.push_back(name);
    }
    sortNaturally(names);
    return names;
}
