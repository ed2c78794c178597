#include "engine/saving_status.h"

#include "engine/log_texts.h"

namespace bm {

void SavingStatus::SetFolder(const std::string& path) {
    const std::lock_guard lock(mutex_);
    values_.statusFolderText = path;
}

void SavingStatus::SetCount(std::int32_t count) {
    std::string text = std::to_string(count);
    const std::lock_guard lock(mutex_);
    values_.statusCountText = std::move(text);
}

void SavingStatus::SetTotal(std::int32_t total) {
    const std::lock_guard lock(mutex_);
    values_.savingTotal = total;
}

void SavingStatus::SetPosition(std::int32_t position) {
    const std::lock_guard lock(mutex_);
    values_.savingPos = position;
}

void SavingStatus::SetOutputPath(const std::filesystem::path& path) {
    const std::lock_guard lock(mutex_);
    values_.outputPath = path;
}

void SavingStatus::Reset() {
    const std::lock_guard lock(mutex_);
    values_ = SavingStatusValues();
}

SavingStatusValues SavingStatus::Snapshot() const {
    const std::lock_guard lock(mutex_);
    return values_;
}

bool SavingWalkMayGoOn(bool analysisStopped, const WellKnownCounts& saved, const WellKnownCounts& analysis) {
    if (!analysisStopped) return true;
    for (std::size_t i = 0; i < kWellKnownCategoryCount; ++i)
        if (saved.values[i] < analysis.values[i]) return true;
    return false;
}

std::string_view SavingOutcomeText(bool stopped) { return stopped ? kLogSavingAborted : kLogSavingCompleted; }

}  // namespace bm
