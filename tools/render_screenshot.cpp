// Renders the window as a user first meets it, on the real components, into a PNG for the
// AppStream metainfo: render_screenshot OUT.png. The build runs it on Qt's offscreen platform,
// with a settings file of its own and no sound server to reach, so what the machine that
// builds has (its music, its settings, its mixers) never shows.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "app/form1.h"
#include "app/real_components.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QTemporaryDir settingsDir;
    if (!settingsDir.isValid()) {
        std::fprintf(stderr, "%s: no temporary directory\n", argv[0]);
        return 1;
    }
    Form1* form = createWindowOnRealComponents(
        QFile::encodeName(settingsDir.filePath("s.ini")).toStdString());
    form->show();
    for (int i = 0; i < 10; ++i) QApplication::processEvents();
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!form->grab().save(out, "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(out));
        return 1;
    }
    // The real components are never torn down (see real_components.h), so nothing else would
    // remove the directory.
    settingsDir.remove();
    std::fflush(stderr);
    std::_Exit(0);
}
