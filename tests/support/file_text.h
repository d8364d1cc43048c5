#pragma once

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The whole text (or bytes) of a file; "" when it cannot be read.
inline std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A file of raw 32-bit floats (what SDL's disk driver writes), as samples.
inline std::vector<float> fileFloats(const std::string& path) {
    const std::string bytes = fileText(path);
    std::vector<float> out(bytes.size() / sizeof(float));
    std::copy_n(bytes.data(), out.size() * sizeof(float), reinterpret_cast<char*>(out.data()));
    return out;
}
