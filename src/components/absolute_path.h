#pragma once

#include <filesystem>
#include <string>
#include <system_error>

// `name` made absolute against the process's current directory now, its bytes kept: a bare
// name means the directory of the moment it was given. As given where that cannot be done
// (no current directory) and for "".
inline std::string absoluteOrAsGiven(const std::string& name) {
    if (name.empty()) return name;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
    return ec ? name : absolute.string();
}
