#pragma once

#include <QString>

#include "components/file_dialog.h"

class QWidget;

// The desktop's own open-file dialog.
class QtFileDialog : public FileDialog {
public:
    explicit QtFileDialog(QWidget* parent = nullptr) : parent(parent) {}
    void setParent(QWidget* p) { parent = p; }

    void setInitDir(const std::string& dir) override { initDir = QString::fromStdString(dir); }
    void showOpen() override;
    std::string fileName() const override { return chosen.toStdString(); }

private:
    QWidget* parent;
    QString initDir;
    QString chosen;
};
