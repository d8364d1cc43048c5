#pragma once

#include <optional>
#include <string>
#include <string_view>

// file: URIs of local paths, byte for byte: a path's bytes need not be valid text, so they
// are percent-encoded and decoded as bytes, never through a text type.
std::string fileUriOf(const std::string& absolutePath);

// The local path of a "file:" URI (host empty or "localhost"), percent escapes decoded;
// nothing for any other URI.
std::optional<std::string> pathOfFileUri(std::string_view uri);
