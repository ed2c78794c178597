#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <fmt/format.h>

namespace bm::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr auto kLiveInterval = std::chrono::milliseconds(100);
constexpr std::int64_t kPlainCountStep = 10000;
}  // namespace

ProgressMode ChooseProgressMode(bool quiet) {
    if (quiet) return ProgressMode::Quiet;
    return ::isatty(STDERR_FILENO) != 0 ? ProgressMode::Live : ProgressMode::Plain;
}

ProgressReporter::ProgressReporter(ProgressMode mode, std::string label) : mode_(mode), label_(std::move(label)) {}

ProgressReporter::~ProgressReporter() { Finish(); }

void ProgressReporter::SetTotal(std::int64_t total) {
    const std::lock_guard lock(mutex_);
    total_ = total;
}

void ProgressReporter::Update(std::int64_t done) {
    const std::lock_guard lock(mutex_);
    done_ = done;
    if (mode_ == ProgressMode::Live) {
        DrawLive(false);
    } else if (mode_ == ProgressMode::Plain) {
        if (total_ > 0) {
            const int step = static_cast<int>(std::min<std::int64_t>(done_, total_) * 10 / total_);
            if (step > lastStep_) {
                lastStep_ = step;
                std::fprintf(stderr, "%s: %d%% (%lld/%lld)\n", label_.c_str(), step * 10,
                             static_cast<long long>(done_), static_cast<long long>(total_));
            }
        } else if (done_ / kPlainCountStep > lastStep_) {
            lastStep_ = static_cast<int>(done_ / kPlainCountStep);
            std::fprintf(stderr, "%s: %lld\n", label_.c_str(), static_cast<long long>(done_));
        }
    }
}

void ProgressReporter::Status(const std::string& text) {
    const std::lock_guard lock(mutex_);
    status_ = text;
    if (mode_ == ProgressMode::Live)
        DrawLive(false);
    else if (mode_ == ProgressMode::Plain)
        std::fprintf(stderr, "%s\n", text.c_str());
}

void ProgressReporter::Message(const std::string& text) {
    const std::lock_guard lock(mutex_);
    ClearLive();
    std::fprintf(stderr, "%s\n", text.c_str());
    if (mode_ == ProgressMode::Live && liveShown_) DrawLive(true);
}

void ProgressReporter::Finish() {
    const std::lock_guard lock(mutex_);
    if (mode_ == ProgressMode::Live && liveShown_) {
        DrawLive(true);
        std::fputc('\n', stderr);
        liveShown_ = false;
    }
}

void ProgressReporter::ClearLive() {
    if (mode_ == ProgressMode::Live && liveShown_) std::fputs("\r\033[K", stderr);
}

void ProgressReporter::DrawLive(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && liveShown_ && now - lastDraw_ < kLiveInterval) return;
    lastDraw_ = now;
    std::string line = "\r\033[K" + label_;
    if (total_ > 0) {
        const std::int64_t done = std::clamp<std::int64_t>(done_, 0, total_);
        const int filled = static_cast<int>(done * kBarWidth / total_);
        line += fmt::format(" [{}{}] {:3}% {}/{}", std::string(filled, '#'), std::string(kBarWidth - filled, '-'),
                            done * 100 / total_, done, total_);
    } else if (done_ > 0) {
        line += fmt::format(" {}", done_);
    }
    if (!status_.empty()) line += "  " + status_;
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    liveShown_ = true;
}

}  // namespace bm::cli
