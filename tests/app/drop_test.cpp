#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>

#include "shared/file_uri.h"
#include "support/form1_fixture.h"
#include "support/serving_process.h"

namespace {

class DropTest : public Form1Fixture {};

TEST_F(DropTest, UriListOfAFolderOrAnMp3DoesWhatTheCommandLineDoes) {
    const std::string music = makeFiles("my music", {"b.mp3", "a.mp3"});
    const std::string other = makeFiles("other", {"song.MP3", "notes.txt"});
    struct Case {
        QByteArray uriList;
        bool accepted;
        std::string currentFile;
        std::string playlistDir;
        bool error;
    } cases[] = {
        {QByteArray::fromStdString(fileUriOf(music.substr(0, music.size() - 1)) + "\r\n"), true,
         "a.mp3", music, false},
        {QByteArray::fromStdString("# from a file manager\r\n" + fileUriOf(other + "song.MP3") +
                                   "\r\n" + fileUriOf(music)),
         true, other + "song.MP3", "", false},
        {QByteArray::fromStdString(fileUriOf(other + "notes.txt")), true, "", "", true},
        {"http://example.com/a.mp3\r\n", false, "", "", false},
        {"", false, "", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uriList.toStdString());
        make();
        const size_t errorsBefore = errors.taken().size();
        QMimeData data;
        data.setData("text/uri-list", c.uriList);
        const QPoint at(100, 100);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &enter);
        EXPECT_EQ(enter.isAccepted(), c.accepted);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &drop);
        serveUntil([] { return false; }, 20);

        EXPECT_EQ(state().CurrentFile, c.currentFile);
        EXPECT_EQ(state().PlaylistDir, c.playlistDir);
        EXPECT_EQ(ui().List4->count(), c.playlistDir.empty() ? 0 : 2);
        EXPECT_EQ(errors.taken().size(), errorsBefore + (c.error ? 1 : 0));
        form.reset();
    }
}

}  // namespace
