#pragma once

#include <QString>
#include <string>

// A file name is bytes; the window shows it decoded as the file system's encoding. Bytes that
// do not decode become U+FFFD, as in the desktop's own file dialog, so the same name reads
// the same in both. Never turn the text back into a path: keep the bytes for that.
QString fileNameText(const std::string& bytes);
