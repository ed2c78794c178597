// Fills the item list on a worker thread: one fill at a time, guarded by the
// page's lock. A new fill first cancels a running one and waits for its
// finished event. The worker reads the analysis results and hands the rows
// to the list through a queued signal; it never touches a widget.
#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "ui/item_rows.h"

namespace bm {
class AnalysisResults;
}

namespace bmui {

class ItemListFiller : public QObject {
    Q_OBJECT
public:
    explicit ItemListFiller(const bm::AnalysisResults& results, QObject* parent = nullptr);
    ~ItemListFiller() override;  // cancels and joins a running fill

    // Starts a worker for `path` unless one runs; false when one runs.
    bool Start(const std::string& path);
    bool running() const;
    // Cancels a running fill and waits for it.
    void CancelAndWait();

signals:
    // Queued to the user-interface thread.
    void fillStarted();
    void rowsReady(const bmui::ItemRows& rows);

private:
    void FillItemList(std::string path);

    const bm::AnalysisResults& results_;
    mutable std::mutex pageLock_;
    std::condition_variable fillFinished_;
    bool fillFinishedSignalled_ = false;  // auto-reset: one waiter takes it
    bool fillRunning_ = false;
    bool workerActive_ = false;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
};

}  // namespace bmui
