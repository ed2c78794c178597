// What a saving run shows while it works and reports when it ends: the
// status values the status dialog reads on its timer, the stop rule after a
// stopped analysis, and the outcome texts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

#include "engine/well_known_counts.h"

namespace bm {

struct SavingStatusValues {
    std::string statusFolderText;  // the output folder being written
    std::string statusCountText;   // the saved count that changed last
    std::int32_t savingTotal = 0;  // nodes the run's counting walk found, less 3
    std::int32_t savingPos = 0;    // the progress position after each node read
    std::filesystem::path outputPath;
};

// Written by the saving thread, read by the status display; each value is
// replaced whole under a lock.
class SavingStatus {
public:
    void SetFolder(const std::string& path);
    void SetCount(std::int32_t count);
    void SetTotal(std::int32_t total);
    void SetPosition(std::int32_t position);
    void SetOutputPath(const std::filesystem::path& path);
    void Reset();
    SavingStatusValues Snapshot() const;

private:
    mutable std::mutex mutex_;
    SavingStatusValues values_;
};

// After a stopped analysis the saving walk goes on only while some
// category is still below the count the analysis found; after a complete
// analysis it walks to the end.
bool SavingWalkMayGoOn(bool analysisStopped, const WellKnownCounts& saved, const WellKnownCounts& analysis);

// "Saving completed successfully" or "Saving aborted".
std::string_view SavingOutcomeText(bool stopped);

}  // namespace bm
