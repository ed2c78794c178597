// Small file and message helpers for the engine tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"

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

// A message with only its class and subject.
inline bm::pst::Message MessageOf(const std::string& cls, const std::string& subject) {
    bm::pst::Message m;
    m.properties.SetString(bm::pst::tags::kMessageClass, cls);
    m.properties.SetString(bm::pst::tags::kSubject, subject);
    return m;
}

}  // namespace bmtest
