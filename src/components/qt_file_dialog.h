#pragma once

#include <QString>
#include <string>

#include "components/file_dialog.h"

class QWidget;

// The desktop's own open-file dialog. Paths go in and come out as bytes on disk, whatever
// the dialog made of names that are not valid in the file system's encoding.
class QtFileDialog : public FileDialog {
public:
    explicit QtFileDialog(QWidget* parent = nullptr) : parent(parent) {}
    void setParent(QWidget* p) { parent = p; }

    void setInitDir(const std::string& dir) override;
    void showOpen() override;
    std::string fileName() const override { return chosen; }

private:
    QWidget* parent;
    QString initDir;
    std::string chosen;
};
