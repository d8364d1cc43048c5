#pragma once

#include <fstream>
#include <sstream>
#include <string>

// The whole text of a file; "" when it cannot be read.
inline std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
