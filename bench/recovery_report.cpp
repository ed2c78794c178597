// Recovery report: for each store, the items the runs' walk lists from the
// sound store and from each damaged copy (made the way the deep recovery
// tests make them), and the deep scan's speed over the cached file.
//
//   recovery_report [store ...]    (default: every store in ../shared/stores)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_cli.h"
#include "support/store_damage.h"

namespace fs = std::filesystem;

namespace {

double ScanMegabytesPerSecond(const fs::path& path) {
    bm::StoreFile store;
    if (bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead) != 0 || store.layout == nullptr) return 0;
    bm::ScanStoreFile(store.file, *store.layout);  // warm the cache
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t bytes = 0;
    int rounds = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(1) || rounds < 3) {
        bytes += bm::ScanStoreFile(store.file, *store.layout).bytesScanned;
        ++rounds;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return static_cast<double>(bytes) / seconds / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> stores;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs("usage: recovery_report [STORE...]\n"
                       "  for each store (default: every store in ../shared/stores), the items listed\n"
                       "  from it and from each damaged copy, and the deep scan's speed. The copies\n"
                       "  are made in a directory of its own in the temporary directory.\n",
                       stdout);
            return 0;
        }
        if (arg.empty() || arg[0] == '-') {
            std::fprintf(stderr, "usage: recovery_report [STORE...]\n");
            return 2;
        }
        std::error_code ec;
        if (!fs::is_regular_file(arg, ec)) {
            std::fprintf(stderr, "recovery_report: no store file at %s\n", arg.c_str());
            return 1;
        }
        stores.emplace_back(arg);
    }
    if (stores.empty()) {
        const fs::path dir = fs::path(BRIGHTMEND_SOURCE_DIR) / ".." / "shared" / "stores";
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            const auto ext = entry.path().extension();
            if (ext == ".pst" || ext == ".ost") stores.push_back(entry.path());
        }
        std::sort(stores.begin(), stores.end());
    }
    const bmbench::ScratchDir work(fs::temp_directory_path(), "recovery-report");
    if (!work.ok()) {
        std::fprintf(stderr, "recovery_report: %s\n", work.error().c_str());
        return 1;
    }
    const fs::path& scratch = work.path();
    for (const fs::path& source : stores) {
        const fs::path sound = scratch / source.filename();
        fs::copy_file(source, sound, fs::copy_options::overwrite_existing);
        fs::permissions(sound, fs::perms::owner_read | fs::perms::owner_write);
        const bmtest::StoreListing plain = bmtest::ListStore(sound, false);
        const bmtest::StoreListing deep = bmtest::ListStore(sound, true);
        std::printf("%s: %zu items in %zu folders; with --deep-scan %zu items (%s listing); scan %.0f MB/s\n",
                    source.filename().c_str(), plain.items, plain.folders, deep.items,
                    plain.lines == deep.lines ? "same" : "DIFFERENT", ScanMegabytesPerSecond(sound));
        for (const bmtest::Damage damage : bmtest::AllDamages()) {
            const fs::path copy = scratch / ("damaged-" + source.filename().string());
            fs::copy_file(sound, copy, fs::copy_options::overwrite_existing);
            if (!bmtest::DamageStore(copy, damage)) {
                std::printf("  %-34s n/a\n", bmtest::DamageName(damage));
                continue;
            }
            const bmtest::StoreListing walkOnly = bmtest::ListStore(copy, false, false);
            const bmtest::StoreListing got = bmtest::ListStore(copy, false);
            const double share = plain.items == 0 ? 0 : 100.0 * static_cast<double>(got.items) / static_cast<double>(plain.items);
            std::printf("  %-34s walk alone %5zu items; recovered %5zu items (%5.1f%%), %zu folders; deep recovery %s, %llu orphan heaps, %llu in Recovered Items\n",
                        bmtest::DamageName(damage), walkOnly.items, got.items, share, got.folders, got.deepRecoveryRan ? "ran" : "not needed",
                        static_cast<unsigned long long>(got.report.orphanHeaps),
                        static_cast<unsigned long long>(got.report.recoveredItems));
            fs::remove(copy);
        }
    }
    return 0;
}
