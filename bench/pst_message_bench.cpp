// Message write throughput and memory of the .pst writer's public API.
//
//   pst_message_bench [--dir DIR] [--messages N]
//
// Writes N messages (default 10,000; 100,000 make a store of about 2 GB) with
// a plain and an HTML body, two recipients and a small attachment each,
// spread over 20 folders, then reports MB/s and the peak resident memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"

namespace {

namespace pst = bm::pst;

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
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

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path dir = "/tmp";
    std::uint64_t count = 10000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (arg == "--messages" && i + 1 < argc) {
            count = std::stoull(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: pst_message_bench [--dir DIR] [--messages N]\n");
            return 2;
        }
    }
    const auto path = dir / "brightmend-message-bench.pst";
    const std::string paragraph =
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit — Съешь же ещё этих мягких булок. 敏捷的棕色狐狸. ";
    const auto start = std::chrono::steady_clock::now();
    auto store = pst::PstStore::Create(path, {.displayName = "Benchmark"});
    std::vector<pst::FolderId> folders;
    for (int f = 0; f < 20; ++f) folders.push_back(store->CreateFolder(store->ipmSubtree(), "Folder " + std::to_string(f)));
    for (std::uint64_t i = 0; i < count; ++i) {
        store->AddMessage(folders[i % folders.size()], MakeMessage(i, paragraph));
        if ((i + 1) % 20000 == 0) {
            std::printf("  %llu messages, %.0f MB, %.1f s\n", static_cast<unsigned long long>(i + 1),
                        static_cast<double>(store->FileSize()) / (1 << 20), Seconds(start));
        }
    }
    const auto finishStart = std::chrono::steady_clock::now();
    store->Finish();
    const double finishSeconds = Seconds(finishStart);
    const double seconds = Seconds(start);
    const double mb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
    std::printf("%llu messages: %.0f MB store in %.2f s (Finish %.2f s): %.1f MB/s, %.0f messages/s, peak RSS %.1f MB\n",
                static_cast<unsigned long long>(count), mb, seconds, finishSeconds, mb / seconds,
                static_cast<double>(count) / seconds, PeakRssMb());
    std::filesystem::remove(path);
    return 0;
}
