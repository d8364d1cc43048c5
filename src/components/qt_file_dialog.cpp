#include "components/qt_file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

void QtFileDialog::showOpen() {
    chosen = QFileDialog::getOpenFileName(parent, QString(), initDir, QString());
    // A bare name handed to a deck is looked up where the user last chose a file.
    if (!chosen.isEmpty()) QDir::setCurrent(QFileInfo(chosen).absolutePath());
}
