#pragma once

#include <optional>
#include <string>

class QMimeData;

// The local path a drop from a file manager carries: the first file: URI of its
// text/uri-list, as bytes (the list is read raw, never through text, so no name is mangled).
std::optional<std::string> droppedPath(const QMimeData& data);
