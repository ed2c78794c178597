// Write throughput and memory of the .pst writer, in three modes.
//
//   pst_write_bench [--dir DIR] [--mb N]    node layer: a store of about N MB
//                                           (default 1024) of message-sized
//                                           values and streamed attachments:
//                                           MB/s and peak memory
//   pst_write_bench --messages N [--dir DIR]
//                                           public API: N messages with a plain
//                                           and an HTML body, two recipients
//                                           and a small attachment each, over
//                                           20 folders (100,000 make about
//                                           2 GB): MB/s, messages/s, peak memory
//   pst_write_bench --past-4g [--dir DIR]   4.2 GB of streamed attachments, then
//                                           one value placed after 4 GiB, read
//                                           back and the whole store checked
//   pst_write_bench --store-mb N --out FILE public API: a whole store of about
//                                           N MB (the messages of --messages,
//                                           every tenth with a streamed 2 MB
//                                           attachment too) written to FILE and
//                                           kept there for outside checkers
//                                           (bench/big_store_check.sh)
//
// Except with --out, the store is written into a directory the benchmark
// makes inside DIR (default: the temporary directory) and removes at the end.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_cli.h"
#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "output/pst/ndb_layout.h"
#include "output/pst/ndb_writer.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "check/store_checker.h"

namespace {

namespace pst = bm::pst;

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// User + system time of this process so far: next to wall time, since a
// machine shared with other work makes wall time noisy.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A cheap, deterministic fill for streamed data.
std::function<std::size_t(std::span<std::uint8_t>)> Filler(std::uint64_t& state) {
    return [&state](std::span<std::uint8_t> out) {
        for (auto& b : out) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            b = static_cast<std::uint8_t>(state >> 56);
        }
        return out.size();
    };
}

struct Timer {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

// Reads size bytes at offset with pread (the store can exceed the address
// space a test would like to map).
std::vector<std::uint8_t> ReadAt(int fd, std::uint64_t offset, std::size_t size) {
    std::vector<std::uint8_t> out(size);
    if (::pread(fd, out.data(), size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size)) out.clear();
    return out;
}

// Finds the leaf entry of key in a B-tree by walking from the root.
std::vector<std::uint8_t> FindLeafEntry(int fd, std::uint64_t rootIb, std::uint64_t key, std::size_t leafSize) {
    std::uint64_t ib = rootIb;
    for (int depth = 0; depth < 8; ++depth) {
        const auto page = ReadAt(fd, ib, pst::kPageSize);
        bm::ByteReader r(page);
        const auto level = r.peekAt(pst::kBTreeCLevel, 1).value_or(0);
        const auto count = r.peekAt(pst::kBTreeCEnt, 1).value_or(0);
        const std::size_t size = level > 0 ? pst::kBranchEntrySize : leafSize;
        std::uint64_t next = 0;
        for (std::size_t i = 0; i < count; ++i) {
            bm::ByteReader e = r.sub(i * size, size);
            const std::uint64_t k = e.readU64();
            if (level == 0 && k == key) {
                auto bytes = e.readBytes(leafSize - 8);
                return {bytes.begin(), bytes.end()};
            }
            if (level > 0 && k <= key) {
                e.readU64();
                next = e.readU64();
            }
        }
        if (level == 0 || next == 0) return {};
        ib = next;
    }
    return {};
}

int WriteStore(const std::filesystem::path& path, std::uint64_t targetMb) {
    Timer timer;
    const double cpuBefore = CpuSeconds();
    auto w = pst::NdbWriter::Create(path, {});
    std::uint64_t state = 1;
    auto fill = Filler(state);
    std::vector<std::uint8_t> body;
    std::uint64_t payload = 0, messages = 0;
    double streamSeconds = 0;
    std::uint64_t streamBytes = 0;
    while (w->FileSize() < targetMb << 20) {
        // A message: a body of 2-40 KB and every fourth one a 60 KB attachment.
        body.resize(2000 + (messages * 7919) % 38000);
        fill(body);
        std::vector<pst::NdbWriter::Subnode> subs;
        if (messages % 4 == 0) {
            Timer t;
            subs.push_back({pst::MakeNid(pst::NidType::Ltp, 1), w->WriteDataStream(60000, fill), 0});
            streamSeconds += t.seconds();
            streamBytes += 60000;
            payload += 60000;
        }
        w->SetNode(w->NewNid(pst::NidType::NormalMessage), w->WriteData(body), w->WriteSubnodes(std::move(subs)),
                   pst::MakeNid(pst::NidType::NormalFolder, 0x400));
        payload += body.size();
        ++messages;
    }
    w->Finish();
    const double seconds = timer.seconds();
    const double mb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
    std::printf("store %s: %llu messages, %.0f MB file, %.0f MB payload in %.2f s (CPU %.2f s): %.1f MB/s (file), "
                "streamed attachments %.1f MB/s, peak RSS %.1f MB\n",
                path.c_str(), static_cast<unsigned long long>(messages), mb, static_cast<double>(payload) / (1 << 20),
                seconds, CpuSeconds() - cpuBefore, mb / seconds, static_cast<double>(streamBytes) / (1 << 20) / streamSeconds, PeakRssMb());
    return 0;
}

pst::Message MakeMessage(std::uint64_t i, const std::string& paragraph) {
    pst::Message m;
    m.properties.SetString(pst::tags::kMessageClass, "IPM.Note");
    m.properties.SetString(pst::tags::kSubject, "Benchmark message " + std::to_string(i));
    m.properties.SetString(pst::tags::kSenderName, "Bench Sender");
    m.properties.SetString(pst::tags::kSenderEmailAddress, "bench@example.org");
    m.properties.SetSysTime(pst::tags::kMessageDeliveryTime, pst::FileTimeFromUnix(1700000000 + static_cast<std::int64_t>(i)));
    std::string body;
    const std::size_t paragraphs = 16 + i % 24;
    for (std::size_t k = 0; k < paragraphs; ++k) body += paragraph;
    m.properties.SetString(pst::tags::kBody, body);
    m.SetHtmlBody("<html><body><p>" + body + "</p></body></html>");
    m.AddRecipient("First Recipient", "first@example.org", pst::kRecipientTo);
    m.AddRecipient("Second Recipient", "second@example.org", pst::kRecipientCc);
    std::vector<std::uint8_t> attachment(4000 + (i * 7919) % 9000);
    for (std::size_t k = 0; k < attachment.size(); ++k) attachment[k] = static_cast<std::uint8_t>(k * 31 + i);
    m.attachments.push_back(pst::Attachment::FromBytes("note-" + std::to_string(i) + ".bin", std::move(attachment)));
    return m;
}

int WriteMessages(const std::filesystem::path& path, std::uint64_t count) {
    const std::string paragraph =
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit — Съешь же ещё этих мягких булок. 敏捷的棕色狐狸. ";
    Timer timer;
    const double cpuBefore = CpuSeconds();
    auto store = pst::PstStore::Create(path, {.displayName = "Benchmark"});
    std::vector<pst::FolderId> folders;
    for (int f = 0; f < 20; ++f) folders.push_back(store->CreateFolder(store->ipmSubtree(), "Folder " + std::to_string(f)));
    for (std::uint64_t i = 0; i < count; ++i) {
        store->AddMessage(folders[i % folders.size()], MakeMessage(i, paragraph));
        if ((i + 1) % 20000 == 0) {
            std::printf("  %llu messages, %.0f MB, %.1f s\n", static_cast<unsigned long long>(i + 1),
                        static_cast<double>(store->FileSize()) / (1 << 20), timer.seconds());
        }
    }
    Timer finishTimer;
    store->Finish();
    const double finishSeconds = finishTimer.seconds();
    const double seconds = timer.seconds();
    const double mb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
    std::printf("%llu messages: %.0f MB store in %.2f s (CPU %.2f s, Finish %.2f s): %.1f MB/s, %.0f messages/s, "
                "peak RSS %.1f MB\n",
                static_cast<unsigned long long>(count), mb, seconds, CpuSeconds() - cpuBefore, finishSeconds, mb / seconds,
                static_cast<double>(count) / seconds, PeakRssMb());
    return 0;
}

// Messages until the file holds about targetMb MB; every tenth message also
// carries a streamed 2 MB attachment, so that big stores are quick to make
// while their B-trees still hold tens of thousands of entries.
int WriteSizedStore(const std::filesystem::path& path, std::uint64_t targetMb) {
    const std::string paragraph =
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit — Съешь же ещё этих мягких булок. 敏捷的棕色狐狸. ";
    constexpr std::uint64_t kStreamed = 2ull << 20;
    Timer timer;
    std::uint64_t state = 11;
    auto fill = Filler(state);
    auto store = pst::PstStore::Create(path, {.displayName = "Big store"});
    std::vector<pst::FolderId> folders;
    for (int f = 0; f < 20; ++f) folders.push_back(store->CreateFolder(store->ipmSubtree(), "Folder " + std::to_string(f)));
    std::uint64_t i = 0;
    for (; store->FileSize() < targetMb << 20; ++i) {
        pst::Message m = MakeMessage(i, paragraph);
        if (i % 10 == 0)
            m.attachments.push_back(pst::Attachment::FromStream("large-" + std::to_string(i) + ".bin", kStreamed, fill));
        store->AddMessage(folders[i % folders.size()], m);
        if ((i + 1) % 5000 == 0) {
            std::printf("  %llu messages, %.0f MB, %.1f s\n", static_cast<unsigned long long>(i + 1),
                        static_cast<double>(store->FileSize()) / (1 << 20), timer.seconds());
            std::fflush(stdout);
        }
    }
    store->Finish();
    const double seconds = timer.seconds();
    const auto size = std::filesystem::file_size(path);
    std::printf("store of %llu messages: %llu bytes (%.2f GB) in %.1f s (%.1f MB/s), peak RSS %.1f MB\n",
                static_cast<unsigned long long>(i), static_cast<unsigned long long>(size),
                static_cast<double>(size) / 1e9, seconds, static_cast<double>(size) / (1 << 20) / seconds,
                PeakRssMb());
    return 0;
}

int WritePast4G(const std::filesystem::path& path) {
    Timer timer;
    std::uint64_t state = 7;
    auto fill = Filler(state);
    const pst::Nid markerNid = pst::MakeNid(pst::NidType::NormalMessage, 0x20000);
    std::vector<std::uint8_t> marker(20000);
    for (std::size_t i = 0; i < marker.size(); ++i) marker[i] = static_cast<std::uint8_t>(i * 31 + 5);
    {
        auto w = pst::NdbWriter::Create(path, {});
        for (int i = 0; i < 5; ++i) {  // 5 x 860 MB attachments
            const pst::Nid nid = w->NewNid(pst::NidType::Attachment);
            w->SetNode(nid, w->WriteDataStream(860ull << 20, fill), 0, 0);
        }
        w->SetNode(markerNid, w->WriteData(marker), 0, 0);
        w->Finish();
    }
    const double writeSeconds = timer.seconds();
    const auto size = std::filesystem::file_size(path);
    std::printf("past-4g store: %.2f GB in %.1f s (%.1f MB/s), peak RSS %.1f MB\n", static_cast<double>(size) / 1e9,
                writeSeconds, static_cast<double>(size) / (1 << 20) / writeSeconds, PeakRssMb());

    // Read the marker back through the header and both B-trees.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const auto header = ReadAt(fd, 0, pst::hdr::kSize);
    bm::ByteReader h(header);
    const auto nbtRoot = h.peekAt(pst::hdr::kNbtRoot + 8, 8).value_or(0);
    const auto bbtRoot = h.peekAt(pst::hdr::kBbtRoot + 8, 8).value_or(0);
    const auto node = FindLeafEntry(fd, nbtRoot, markerNid, pst::kNbtEntrySize);
    bool ok = false;
    if (!node.empty()) {
        const std::uint64_t dataBid = bm::ByteReader(node).peekAt(0, 8).value_or(0);
        const auto tree = FindLeafEntry(fd, bbtRoot, dataBid, pst::kBbtEntrySize);
        const std::uint64_t treeIb = bm::ByteReader(tree).peekAt(0, 8).value_or(0);
        const auto treeCb = static_cast<std::size_t>(bm::ByteReader(tree).peekAt(8, 2).value_or(0));
        const auto xblock = ReadAt(fd, treeIb, treeCb);
        bm::ByteReader x(xblock);
        x.skip(2);
        const auto count = x.readU16();
        x.skip(4);
        std::vector<std::uint8_t> back;
        std::uint64_t firstIb = 0;
        for (std::uint16_t i = 0; i < count && x.ok(); ++i) {
            const std::uint64_t bid = x.readU64();
            const auto entry = FindLeafEntry(fd, bbtRoot, bid, pst::kBbtEntrySize);
            const std::uint64_t ib = bm::ByteReader(entry).peekAt(0, 8).value_or(0);
            const auto cb = static_cast<std::size_t>(bm::ByteReader(entry).peekAt(8, 2).value_or(0));
            if (i == 0) firstIb = ib;
            auto bytes = ReadAt(fd, ib, cb);
            bm::DecodeBytes(bytes, bm::CryptMethod::Permute, bid);
            back.insert(back.end(), bytes.begin(), bytes.end());
        }
        ok = back == marker && firstIb > (4ull << 30);
        std::printf("marker value: first block at offset 0x%llx, %s\n", static_cast<unsigned long long>(firstIb),
                    back == marker ? "bytes match" : "BYTES DIFFER");
    }
    ::close(fd);
    Timer checkTimer;
    const auto report = bm::CheckStore(path, {true});
    std::printf("checker: %zu error(s), %zu warning(s) in %.1f s\n", report.errorCount(), report.warningCount(),
                checkTimer.seconds());
    for (std::size_t i = 0; i < report.findings.size() && i < 10; ++i) {
        std::printf("  %s\n", bm::FormatFinding(report.findings[i]).c_str());
    }
    return ok && report.errorCount() == 0 ? 0 : 1;
}

constexpr const char* kUsage =
    "usage: pst_write_bench [--dir DIR] [--mb N | --messages N | --past-4g]\n"
    "       pst_write_bench --store-mb N --out FILE\n"
    "  --mb N        node layer: a store of about N MB (default 1024)\n"
    "  --messages N  public API: N messages over 20 folders\n"
    "  --past-4g     4.2 GB of streamed attachments, one value after 4 GiB, checked\n"
    "  --store-mb N  public API: a store of about N MB with large attachments, written\n"
    "                to FILE (--out, which must not exist) and kept\n";

}  // namespace

int main(int argc, char** argv) {
    if (bmbench::AnsweredHelp(argc, argv, kUsage)) return 0;
    std::filesystem::path parent = std::filesystem::temp_directory_path();
    std::uint64_t mb = 1024;
    bool past4g = false;
    std::uint64_t messages = 0;
    std::uint64_t storeMb = 0;
    std::filesystem::path out;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc) {
            parent = argv[++i];
        } else if (arg == "--mb" && i + 1 < argc && bmbench::ParseCount(argv[i + 1], mb)) {
            ++i;
        } else if (arg == "--messages" && i + 1 < argc && bmbench::ParseCount(argv[i + 1], messages)) {
            ++i;
        } else if (arg == "--store-mb" && i + 1 < argc && bmbench::ParseCount(argv[i + 1], storeMb)) {
            ++i;
        } else if (arg == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (arg == "--past-4g") {
            past4g = true;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if ((storeMb > 0) != !out.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (storeMb > 0) {
        if (std::filesystem::exists(out)) {
            std::fprintf(stderr, "pst_write_bench: %s exists; not overwritten\n", out.c_str());
            return 1;
        }
        return WriteSizedStore(out, storeMb);
    }
    const bmbench::ScratchDir scratch(parent, "brightmend-pst-write-bench");
    if (!scratch.ok()) {
        std::fprintf(stderr, "pst_write_bench: %s\n", scratch.error().c_str());
        return 1;
    }
    const auto path = scratch.path() / (past4g ? "past-4g.pst" : messages > 0 ? "message-bench.pst" : "bench.pst");
    return past4g ? WritePast4G(path) : messages > 0 ? WriteMessages(path, messages) : WriteStore(path, mb);
}
