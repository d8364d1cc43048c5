#pragma once

#include <functional>
#include <string>
#include <vector>

#include "components/file_dialog.h"

// Answers with a preset path; duringShow runs while "the dialog is open" (for ticks).
class FakeFileDialog : public FileDialog {
public:
    std::string answer;
    std::vector<std::string> initDirs;
    int shown = 0;
    std::function<void()> duringShow;

    void setInitDir(const std::string& dir) override { initDirs.push_back(dir); }
    void showOpen() override {
        ++shown;
        if (duringShow) duringShow();
    }
    std::string fileName() const override { return answer; }
};
