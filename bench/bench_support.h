// What the analysis and saving benchmarks share: a large generated store,
// peak memory of this process and of child programs, and timing.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"

namespace bmbench {

namespace fs = std::filesystem;

inline double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

struct Timer {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    double seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }
};

// How a generated store is laid out: the folders below Inbox, and whether
// its mails are small (a one-line body, no attachment).
struct StoreShape {
    unsigned folders = 20;
    bool smallMessages = false;
};

// Writes an offline store of `messages` mails (plain or HTML bodies of
// 1-4 KB, sender, recipients, times, one attachment of 2-8 KB in four;
// small mails: a body of one paragraph, no attachment) over the shape's
// folders below Inbox, with the project's writer. Runs in a child process,
// so the caller's peak memory is its own.
// Reads the file through once, so that the runs measured after it find it
// in the page cache as the targets assume: a store the writer has just
// written is not there (the writer drops what it wrote from the cache as
// it goes). False when the file cannot be read.
inline bool WarmPageCache(const fs::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::vector<char> piece(std::size_t{4} << 20);
    while (std::fread(piece.data(), 1, piece.size(), f) == piece.size()) {
    }
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

// Runs `write` (which writes the store at `path`) in a child process, so
// that the writer's memory is not counted as the benchmark's; false when
// the child failed.
template <typename Write>
bool WriteStoreInChild(const fs::path& path, Write write) {
    std::fflush(nullptr);  // the child must not write the parent's buffered output again
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        try {
            write();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), e.what());
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline bool MakeLargeStore(const fs::path& path, std::uint64_t messages, const StoreShape& shape = {}) {
    return WriteStoreInChild(path, [&] {
        namespace pst = bm::pst;
        namespace tags = pst::tags;
        {
            auto store = pst::PstStore::Create(path, {});
            const auto inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
            std::vector<pst::FolderId> folders;
            for (unsigned f = 0; f < std::max(shape.folders, 1u); ++f)
                folders.push_back(store->CreateFolder(inbox, "Folder " + std::to_string(f)));
            const std::string paragraph =
                "The quarterly figures are attached; please check the totals before Friday's review. ";
            for (std::uint64_t i = 0; i < messages; ++i) {
                pst::Message m;
                m.properties.SetString(tags::kMessageClass, "IPM.Note");
                m.properties.SetString(tags::kSubject, "Generated message " + std::to_string(i));
                m.properties.SetString(tags::kSenderName, "Bench Sender");
                m.properties.SetString(tags::kDisplayTo, "First Recipient; Second Recipient");
                m.properties.SetSysTime(tags::kMessageDeliveryTime,
                                        static_cast<pst::FileTime>((1'700'000'000ull + i + 11'644'473'600ull) * 10'000'000ull));
                std::string body;
                const std::uint64_t paragraphs = shape.smallMessages ? 1 : 12 + i % 36;
                for (std::uint64_t k = 0; k < paragraphs; ++k) body += paragraph;
                if (i % 2 == 0)
                    m.properties.SetString(tags::kBody, body);
                else
                    m.SetHtmlBody("<html><body><p>" + body + "</p></body></html>");
                if (i % 4 == 0 && !shape.smallMessages) {
                    std::vector<std::uint8_t> data(2000 + (i * 7919) % 6000);
                    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<std::uint8_t>(k * 31 + i);
                    m.attachments.push_back(pst::Attachment::FromBytes("note-" + std::to_string(i) + ".bin", data));
                }
                store->AddMessage(folders[i % folders.size()], m);
            }
            store->Finish();
        }
    });
}

struct ChildRun {
    bool ran = false;  // false when the program is missing or failed to start
    int exitCode = -1;
    double seconds = 0;
    double peakRssMb = 0;
    double cpuSeconds = 0;  // user + system time of the child
};

inline double CpuSecondsOf(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// User + system time of this process so far (every thread).
inline double SelfCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuSecondsOf(usage);
}

// The system part of it: time the kernel spent for this process.
inline double SelfSystemSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) / 1e6;
}

// Load average over the last minute, to print next to timings taken on a
// shared machine.
inline double LoadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

inline bool OnPath(const std::string& program) {
    // A program named with a directory is run as it is named.
    if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t at = 0;
    while (at <= dirs.size()) {
        std::size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        if (end > at && access((dirs.substr(at, end - at) + "/" + program).c_str(), X_OK) == 0) return true;
        at = end + 1;
    }
    return false;
}

// Runs a program with stdout and stderr discarded; its time and peak memory.
inline ChildRun RunProgram(const std::vector<std::string>& argv) {
    ChildRun r;
    if (argv.empty() || !OnPath(argv[0])) return r;
    const Timer timer;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return r;
    if (child == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr || std::freopen("/dev/null", "w", stderr) == nullptr)
            _exit(127);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return r;
    r.seconds = timer.seconds();
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.ran = r.exitCode != 127;
    r.peakRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    r.cpuSeconds = CpuSecondsOf(usage);
    return r;
}

inline double FileMb(const fs::path& p) {
    std::error_code ec;
    const auto size = fs::file_size(p, ec);
    return ec ? 0.0 : static_cast<double>(size) / (1024.0 * 1024.0);
}

}  // namespace bmbench
