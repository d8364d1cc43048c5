#include "components/file_name_bytes.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QUrl>
#include <memory>

namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string encoded(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// The entry of `dir` that shows as `name`; "" when none does.
std::string entryShownAs(const std::string& dir, const QString& name) {
    std::unique_ptr<DIR, DirCloser> stream(opendir(dir.c_str()));
    if (!stream) return {};
    std::string first;
    while (const dirent* entry = readdir(stream.get())) {
        const std::string bytes = entry->d_name;
        if (QFile::decodeName(entry->d_name) == name && (first.empty() || bytes < first))
            first = bytes;
    }
    return first;
}

}  // namespace

std::string fileNameBytes(const QString& path) {
    const std::string plain = encoded(path);
    if (plain.empty() || exists(plain) || !path.startsWith(u'/')) return plain;
    std::string resolved;
    for (const QString& part : path.split(u'/', Qt::SkipEmptyParts)) {
        std::string next = resolved + "/" + encoded(part);
        if (!exists(next)) {
            const std::string entry = entryShownAs(resolved.empty() ? "/" : resolved, part);
            if (entry.empty()) return plain;
            next = resolved + "/" + entry;
        }
        resolved = std::move(next);
    }
    if (path.endsWith(u'/')) resolved += '/';
    return resolved;
}

std::string localFileBytes(const QUrl& url) {
    if (!url.isLocalFile()) return {};
    const std::string direct =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
    if (exists(direct)) return direct;
    return fileNameBytes(url.toLocalFile());
}

QString dialogDirectoryFor(const std::string& dir) {
    std::string candidate = dir;
    for (;;) {
        const QString text = QFile::decodeName(QByteArray::fromStdString(candidate));
        if (encoded(text) == candidate) return text;
        while (candidate.size() > 1 && candidate.back() == '/') candidate.pop_back();
        const auto slash = candidate.rfind('/');
        if (slash == std::string::npos) return {};
        candidate.resize(slash + 1);
    }
}
