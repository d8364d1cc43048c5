#pragma once

#include <string>

// A modal dialog choosing one file; every file is offered.
class FileDialog {
public:
    virtual ~FileDialog() = default;
    virtual void setInitDir(const std::string& dir) = 0;
    // Returns when the user closes the dialog; the event loop keeps running meanwhile.
    virtual void showOpen() = 0;
    // Full path of the chosen file; "" when cancelled.
    virtual std::string fileName() const = 0;
};
