#include "components/file_name_bytes.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QUrl>
#include <cstdio>
#include <filesystem>

#include "support/temp_dir.h"

namespace {

QString shown(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

void touch(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    std::fclose(f);
}

}  // namespace

// What a dialog shows of a name that is not UTF-8 leads back to the file's bytes.
TEST(FileNameBytes, DialogAnswersLeadBackToTheBytesOnDisk) {
    TempDir dir;
    const std::string root = dir.path();
    std::filesystem::create_directory(root + "/m\xFCsik");
    for (const char* name : {"/plain.mp3", "/b\xF6.mp3", "/m\xFCsik/c\xE9.mp3", "/x\xFC.mp3",
                             "/x\xF6.mp3", "/b\xC3\xB6.mp3"})
        touch(root + name);
    struct Case {
        std::string shownAs;  // bytes whose decoded text the dialog answers
        std::string expected;
    } cases[] = {
        {"/plain.mp3", "/plain.mp3"},
        {"/b\xF6.mp3", "/b\xF6.mp3"},
        {"/b\xC3\xB6.mp3", "/b\xC3\xB6.mp3"},  // valid UTF-8 is left as it is
        {"/m\xFCsik/c\xE9.mp3", "/m\xFCsik/c\xE9.mp3"},
        {"/m\xFCsik/", "/m\xFCsik/"},
        {"/x\xFC.mp3", "/x\xF6.mp3"},  // two names show alike: the first in byte order
        {"/missing\xF6.mp3", "/missing\xEF\xBF\xBD.mp3"},
    };
    for (const auto& c : cases) {
        const std::string text = root + c.shownAs;
        EXPECT_EQ(fileNameBytes(shown(text)), root + c.expected) << c.shownAs;
        EXPECT_EQ(localFileBytes(QUrl::fromLocalFile(shown(text))), root + c.expected);
    }
    // A portal's URL carries the bytes percent-encoded.
    const std::string latin = root + "/x\xFC.mp3";
    EXPECT_EQ(localFileBytes(QUrl::fromEncoded(
                  "file://" + QByteArray::fromStdString(latin).toPercentEncoding("/"))),
              latin);
    EXPECT_EQ(localFileBytes(QUrl()), "");
    EXPECT_EQ(fileNameBytes(QString()), "");
}

TEST(FileNameBytes, DialogOpensInTheNearestDirectoryItCanName) {
    struct Case {
        std::string dir;
        QString opens;
    } cases[] = {
        {"/music/rock/", "/music/rock/"},
        {"/music/r\xC3\xB6"
         "ck/",
         QString::fromUtf8("/music/r\u00F6ck/")},
        {"/music/m\xFCsik/", "/music/"},
        {"/music/m\xFCsik/sub/", "/music/"},
        {"/m\xFC/", "/"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(dialogDirectoryFor(c.dir), c.opens) << c.dir;
}
