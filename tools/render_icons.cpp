// Writes the window's icon as the PNG files of a hicolor icon theme, one per size given:
// OUTDIR/<size>x<size>/apps/velmor-mp3-player.png. The build runs it, so the icons the desktop
// shows are the one the window draws. It paints into images only: no display needed.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>

#include "app/form1_icon.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 4096) {
            std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        const QString file = dir + QStringLiteral("/velmor-mp3-player.png");
        if (!QDir().mkpath(dir) || !paintForm1Icon(size).save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}
