// Small file helpers for the engine tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace bmtest {

inline void WriteTextFile(const std::filesystem::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

inline std::string ReadTextFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace bmtest
