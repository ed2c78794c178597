#include "support/test_paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

fs::path SharedStore(const std::string& name) {
    const fs::path dir = SharedStoresDir();
    if (dir.empty()) return {};
    const fs::path p = dir / name;
    return fs::is_regular_file(p) ? p : fs::path();
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
}  // namespace

fs::path ScratchDir(const std::string& name) {
    static ScratchRoot scratch;
    const fs::path p = scratch.root / name;
    std::error_code ec;
    fs::remove_all(p, ec);
    fs::create_directories(p);
    return p;
}

}  // namespace bmtest
