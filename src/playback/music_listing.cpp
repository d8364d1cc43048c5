#include "playback/music_listing.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <QCollator>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "shared/file_name_text.h"

bool hasMp3Extension(const char* name) {
    const size_t length = std::strlen(name);
    return length >= 4 && strcasecmp(name + length - 4, ".mp3") == 0;
}

namespace {

// The directory entry's own type spares a stat for all but links and file systems that do
// not report types.
bool isRegularFile(int dirFd, const dirent& entry) {
    if (entry.d_type == DT_REG) return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
    struct stat info {};
    return fstatat(dirFd, entry.d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

namespace {

QCollator naturalCollator() {
    // The C locale collates by code points and ignores numeric mode; English is a neutral
    // stand-in there.
    QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

}  // namespace

void sortNaturally(std::vector<std::string>& names) {
    const QCollator collator = naturalCollator();
    // Keys once per name: comparing through the collator for every pair would dominate large
    // folders.
    std::vector<std::pair<QCollatorSortKey, size_t>> keys;
    keys.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        keys.emplace_back(collator.sortKey(fileNameText(names[i])), i);
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

size_t naturalFirst(const std::vector<std::string>& names) {
    const QCollator collator = naturalCollator();
    // A comparison stops at the first difference, where a key covers the whole name.
    size_t first = 0;
    QString firstText = fileNameText(names.front());
    for (size_t i = 1; i < names.size(); ++i) {
        QString text = fileNameText(names[i]);
        const int c = collator.compare(text, firstText);
        if (c < 0 || (c == 0 && names[i] < names[first])) {
            first = i;
            firstText = std::move(text);
        }
    }
    return first;
}

size_t naturalPlace(const std::vector<std::string>& sorted, const std::string& name) {
    const QCollator collator = naturalCollator();
    const QString nameText = fileNameText(name);
    const auto place = std::lower_bound(
        sorted.begin(), sorted.end(), name, [&](const std::string& entry, const std::string&) {
            const int c = collator.compare(fileNameText(entry), nameText);
            return c < 0 || (c == 0 && entry < name);
        });
    return size_t(place - sorted.begin());
}

std::vector<std::string> readMp3Names(const std::string& dir, std::string& error,
                                      std::atomic<std::size_t>* entriesRead) {
    error.clear();
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> stream(opendir(dir.c_str()));
    if (!stream) {
        error = "Cannot read the directory " + dir + ": " + std::strerror(errno);
        return names;
    }
    const int dirFd = dirfd(stream.get());
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(stream.get());
        if (!entry) {
            if (errno != 0)
                error = "Cannot read the directory " + dir + ": " + std::strerror(errno);
            break;
        }
        if (entriesRead) entriesRead->fetch_add(1, std::memory_order_relaxed);
        if (hasMp3Extension(entry->d_name) && isRegularFile(dirFd, *entry))
            names.emplace_back(entry->d_name);
    }
    return names;
}
