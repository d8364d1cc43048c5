#include "components/qt_file_dialog.h"

#include <unistd.h>

#include <QFileDialog>
#include <QUrl>

#include "components/file_name_bytes.h"

void QtFileDialog::setInitDir(const std::string& dir) {
    initDir = dialogDirectoryFor(dir);
}

void QtFileDialog::showOpen() {
    auto* dialog = new QFileDialog(parent);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setDirectoryUrl(QUrl::fromLocalFile(initDir));
    const bool accepted = dialog->exec() == QDialog::Accepted;
    const QList<QUrl> urls = dialog->selectedUrls();
    chosen = accepted && !urls.isEmpty() ? localFileBytes(urls.first()) : std::string();
    // Torn down once the caller has acted on the choice: dropping its view of the directory
    // and saving its state take tens of milliseconds, which would come between the user's
    // Return and the sound.
    dialog->hide();
    dialog->deleteLater();
    // A bare name handed to a deck is looked up where the user last chose a file.
    const auto slash = chosen.rfind('/');
    if (slash != std::string::npos && ::chdir(chosen.substr(0, slash + 1).c_str()) != 0) {
        // Best effort: the names the dialog gives are full paths and do not depend on it.
    }
}
