// Speed of the deep scan over a cached file (target: at least 200 MB/s).
//
//   Scan/<store>          one sequential scan of a real store for blocks
//                         and index pages (../shared/stores/, or the folder
//                         named by BRIGHTMEND_STORES)
//   ScanSynthetic         a 256 MiB file of 8 KiB blocks with valid
//                         trailers: every candidate end checked, every
//                         block's CRC computed
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/format_tables.h"
#include "store/store.h"
#include "store/store_scan.h"

namespace {

namespace fs = std::filesystem;

fs::path StoresDir() {
    if (const char* env = std::getenv("BRIGHTMEND_STORES")) return env;
    return fs::path(BRIGHTMEND_SOURCE_DIR).parent_path() / "shared" / "stores";
}

void ScanFile(benchmark::State& state, const fs::path& path) {
    bm::StoreFileHandle file;
    if (!file.Open(path, bm::StoreFileHandle::Lock::Shared)) {
        state.SkipWithError("cannot open store");
        return;
    }
    const bm::StoreLayout* layout = bm::DetectLayout(file);
    if (layout == nullptr) {
        state.SkipWithError("no layout found");
        return;
    }
    std::size_t blocks = 0;
    for (auto _ : state) blocks = bm::ScanStoreFile(file, *layout).blocks.size();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
    state.counters["blocks"] = static_cast<double>(blocks);
}

// Unicode-layout blocks of 8176 bytes each with a valid trailer.
fs::path SyntheticFile() {
    const fs::path path = fs::temp_directory_path() / ("store_scan_bench_" + std::to_string(::getpid()) + ".bin");
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint8_t> block(8192);
    for (std::uint64_t i = 0; i < (256u << 20) / block.size(); ++i) {
        const std::uint64_t at = i * block.size();
        const std::uint64_t bid = 4 + 4 * i;
        for (std::size_t j = 0; j < 8176; ++j) block[j] = static_cast<std::uint8_t>(j * 31 + i);
        const std::uint32_t crc = bm::ComputeCrc(std::span<const std::uint8_t>(block.data(), 8176));
        const std::uint16_t sig = bm::ComputeSignature(at, bid);
        const std::uint8_t trailer[16] = {0xF0, 0x1F, static_cast<std::uint8_t>(sig), static_cast<std::uint8_t>(sig >> 8),
                                          static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
                                          static_cast<std::uint8_t>(crc >> 16), static_cast<std::uint8_t>(crc >> 24),
                                          static_cast<std::uint8_t>(bid), static_cast<std::uint8_t>(bid >> 8),
                                          static_cast<std::uint8_t>(bid >> 16), static_cast<std::uint8_t>(bid >> 24), 0, 0, 0, 0};
        std::copy(std::begin(trailer), std::end(trailer), block.begin() + 8176);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    }
    return path;
}

void ScanSynthetic(benchmark::State& state) {
    const fs::path path = SyntheticFile();
    bm::StoreFileHandle file;
    file.Open(path, bm::StoreFileHandle::Lock::Shared);
    std::size_t blocks = 0;
    for (auto _ : state) blocks = bm::ScanStoreFile(file, bm::kUnicodeLayout).blocks.size();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
    state.counters["blocks"] = static_cast<double>(blocks);
    file.Close();
    fs::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(StoresDir(), ec)) {
        const fs::path path = entry.path();
        if (path.extension() == ".pst" || path.extension() == ".ost")
            benchmark::RegisterBenchmark(("Scan/" + path.filename().string()).c_str(), ScanFile, path)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("ScanSynthetic", ScanSynthetic)->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
