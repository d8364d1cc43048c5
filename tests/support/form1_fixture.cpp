#include "support/form1_fixture.h"

#include <QDir>
#include <QFile>

Form1& Form1Fixture::make() {
    form = std::make_unique<Form1>(
        Components{deck1, deck2, mixer, playFileDialog, playDirDialog, joystick, errors},
        settingsFile());
    return *form;
}

std::string Form1Fixture::makeFiles(const std::string& sub,
                                    std::initializer_list<const char*> names) {
    const QString path = dir.filePath(QString::fromStdString(sub));
    QDir().mkpath(path);
    for (const char* name : names) {
        QFile f(path + "/" + name);
        f.open(QIODevice::WriteOnly);
    }
    return path.toStdString() + "/";
}
