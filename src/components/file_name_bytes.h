#pragma once

#include <QString>
#include <string>

class QUrl;

// Qt decodes file names lossily: a byte that is not valid in the file system's encoding becomes
// U+FFFD, and encoding that text again gives other bytes. These lead from what a file dialog
// answers back to the bytes on disk, and from bytes to a directory a dialog can open.

// The bytes of the existing path that `path` shows: each component as it encodes, or else the
// entry of its directory that decodes to it (the first in byte order where several do). A path
// that leads nowhere comes back as it encodes.
std::string fileNameBytes(const QString& path);

// The same for a dialog's URL: its percent-encoded path keeps the bytes where the dialog had
// them (a desktop portal does); else as `fileNameBytes`. "" for a URL that is no local file.
std::string localFileBytes(const QUrl& url);

// Where a dialog should open for `dir`: `dir` itself when its name survives decoding, else its
// nearest parent that does, since a dialog cannot list a directory it cannot name.
QString dialogDirectoryFor(const std::string& dir);
