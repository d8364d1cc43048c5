#include "components/mp3_tags.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <cstring>
#include <memory>

namespace {

struct HandleCloser {
    void operator()(mpg123_handle* handle) const {
        mpg123_close(handle);
        mpg123_delete(handle);
    }
};

std::string fromV2(const mpg123_string* field) {
    if (!field || !field->p || field->fill == 0) return {};
    // `fill` counts the closing zero; libmpg123 has converted every ID3v2 text to UTF-8.
    return std::string(field->p, strnlen(field->p, field->fill));
}

// ID3v1 fields are fixed-width, zero- or blank-padded, in no declared encoding: Latin-1 is
// what writers used.
std::string fromV1(const char* field, size_t width) {
    size_t length = strnlen(field, width);
    while (length > 0 && field[length - 1] == ' ') --length;
    return QString::fromLatin1(field, qsizetype(length)).toUtf8().toStdString();
}

}  // namespace

Mp3Tags readMp3Tags(const std::string& path) {
    Mp3Tags tags;
    static const bool ready = mpg123_init() == MPG123_OK;
    if (!ready) return tags;
    std::unique_ptr<mpg123_handle, HandleCloser> handle(mpg123_new(nullptr, nullptr));
    if (!handle) return tags;
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // As the decoder opens: a FIFO or a device put where the file was must not hang the
    // caller in open() or read().
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return tags;
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return tags;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (mpg123_open_fd(handle.get(), fd) != MPG123_OK) return tags;
    // Finding the first frame parses an ID3v2 tag before it; the ID3v1 tag at the end is
    // read when the file is opened.
    long rate = 0;
    int channels = 0, encoding = 0;
    mpg123_getformat(handle.get(), &rate, &channels, &encoding);

    mpg123_id3v1* v1 = nullptr;
    mpg123_id3v2* v2 = nullptr;
    if (mpg123_id3(handle.get(), &v1, &v2) != MPG123_OK) return tags;
    if (v2) {
        tags.title = fromV2(v2->title);
        tags.artist = fromV2(v2->artist);
        tags.album = fromV2(v2->album);
    }
    if (v1) {
        if (tags.title.empty()) tags.title = fromV1(v1->title, sizeof v1->title);
        if (tags.artist.empty()) tags.artist = fromV1(v1->artist, sizeof v1->artist);
        if (tags.album.empty()) tags.album = fromV1(v1->album, sizeof v1->album);
    }
    return tags;
}
