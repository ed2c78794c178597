#include "ui/item_list_filler.h"

#include "engine/analysis_results.h"

namespace bmui {

ItemListFiller::ItemListFiller(const bm::AnalysisResults& results, QObject* parent)
    : QObject(parent), results_(results) {
    qRegisterMetaType<bmui::ItemRows>();
}

ItemListFiller::~ItemListFiller() { CancelAndWait(); }

bool ItemListFiller::running() const {
    const std::lock_guard lock(pageLock_);
    return workerActive_;
}

bool ItemListFiller::Start(const std::string& path) {
    {
        const std::lock_guard lock(pageLock_);
        if (workerActive_) return false;
        workerActive_ = true;
    }
    if (worker_.joinable()) worker_.join();  // the previous worker has ended
    worker_ = std::thread(&ItemListFiller::FillItemList, this, path);
    return true;
}

void ItemListFiller::CancelAndWait() {
    cancel_.store(true);
    if (worker_.joinable()) worker_.join();
    cancel_.store(false);
}

void ItemListFiller::FillItemList(std::string path) {
    {
        std::unique_lock lock(pageLock_);
        if (fillRunning_) {
            cancel_.store(true);
            fillFinished_.wait(lock, [this] { return fillFinishedSignalled_; });
            fillFinishedSignalled_ = false;
            cancel_.store(false);
        }
        fillRunning_ = true;
    }
    emit fillStarted();
    ItemRows rows = results_.Read(
        [&](const bm::AnalysisData& data) { return BuildItemRows(data, path, cancel_); });
    emit rowsReady(rows);
    {
        const std::lock_guard lock(pageLock_);
        fillRunning_ = false;
        fillFinishedSignalled_ = true;
        fillFinished_.notify_one();
        workerActive_ = false;
        cancel_.store(false);
    }
}

}  // namespace bmui
