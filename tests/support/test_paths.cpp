#include "support/test_paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace bmtest {
namespace fs = std::filesystem;

fs::path SharedStoresDir() {
    if (const char* env = std::getenv("BRIGHTMEND_STORES")) {
        if (fs::is_directory(env)) return env;
    }
    const fs::path dir = fs::path(BRIGHTMEND_SOURCE_DIR).parent_path() / "shared" / "stores";
    return fs::is_directory(dir) ? dir : fs::path();
}

std::string StoreTestName(const std::string& store) {
    std::string name = store;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

namespace {
struct ScratchRoot {
    fs::path root;
    ScratchRoot() {
        root = fs::temp_directory_path() / ("brightmend-tests-" + std::to_string(::getpid()));
        fs::create_directories(root);
    }
    ~ScratchRoot() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

ScratchRoot& Scratch() {
    static ScratchRoot scratch;
    return scratch;
}
}  // namespace

fs::path ScratchDir(const std::string& name) {
    const fs::path p = Scratch().root / name;
    std::error_code ec;
    fs::remove_all(p, ec);
    fs::create_directories(p);
    return p;
}

// The analysis and saving runs open their store exclusively, and ctest runs
// test programs side by side; so each test program works on its own copy of
// a shared store, made once on first use.
fs::path SharedStore(const std::string& name) {
    const fs::path dir = SharedStoresDir();
    if (dir.empty()) return {};
    const fs::path original = dir / name;
    if (!fs::is_regular_file(original)) return {};
    const fs::path copies = Scratch().root / "shared-stores";
    const fs::path copy = copies / name;
    if (!fs::exists(copy)) {
        fs::create_directories(copies);
        fs::copy_file(original, copy);
        fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    }
    return copy;
}

}  // namespace bmtest
