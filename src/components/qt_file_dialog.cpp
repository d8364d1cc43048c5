#include "components/qt_file_dialog.h"

#include <unistd.h>

#include <QFileDialog>
#include <QUrl>

#include "components/file_name_bytes.h"

void QtFileDialog::setInitDir(const std::string& dir) {
    initDir = dialogDirectoryFor(dir);
}

void QtFileDialog::showOpen() {
    const QUrl url = QFileDialog::getOpenFileUrl(parent, QString(), QUrl::fromLocalFile(initDir));
    chosen = localFileBytes(url);
    // A bare name handed to a deck is looked up where the user last chose a file.
    const auto slash = chosen.rfind('/');
    if (slash != std::string::npos && ::chdir(chosen.substr(0, slash + 1).c_str()) != 0) {
        // Best effort: the names the dialog gives are full paths and do not depend on it.
    }
}
