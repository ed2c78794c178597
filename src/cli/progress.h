// Progress on stderr: a live line rewritten in place when stderr is a
// terminal, plain lines at every tenth of the way otherwise, nothing when
// quiet. Messages for the user are printed in every mode.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace bm::cli {

enum class ProgressMode { Quiet, Plain, Live };

ProgressMode ChooseProgressMode(bool quiet);

class ProgressReporter {
public:
    ProgressReporter(ProgressMode mode, std::string label);
    ~ProgressReporter();
    ProgressReporter(const ProgressReporter&) = delete;
    ProgressReporter& operator=(const ProgressReporter&) = delete;

    // Total work; 0 or less when unknown (only the count is shown).
    void SetTotal(std::int64_t total);
    void Update(std::int64_t done);
    // A status text: the live line shows it, plain mode prints it.
    void Status(const std::string& text);
    // A message for the user, on a line of its own, in every mode.
    void Message(const std::string& text);
    // Ends the live line.
    void Finish();

private:
    void DrawLive(bool force);
    void ClearLive();

    std::mutex mutex_;
    ProgressMode mode_;
    std::string label_;
    std::int64_t total_ = 0;
    std::int64_t done_ = 0;
    int lastStep_ = -1;  // plain mode: last tenth printed (or last 10,000 for an unknown total)
    bool liveShown_ = false;
    std::string status_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace bm::cli
