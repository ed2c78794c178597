// The object the reader's walks run on: the run flags and the pause gate.
//
// The analysis page (or any driver of a run) owns one StoreReader. The user
// interface thread writes the flags; the worker reads them at the start of
// every node B-tree page and passes the pause gate between B-tree pages and
// between nodes. A run stops when
//     (stopAnalysis and not savingRunActive) or stopSaving
// so a stop of the analysis does not end a saving run. The analysis run
// clears all three flags before it starts; the saving run clears
// stopSaving and sets savingRunActive.
//
// The pause gate counts like a thread suspend count: two Suspend calls need
// two Resume calls before a waiting worker goes on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace bm {

class PauseGate {
public:
    void Suspend();
    // Lowers the count; extra calls at zero are ignored.
    void Resume();
    // Returns at once while the count is zero, otherwise waits for it.
    void Pass();
    int count() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable resumed_;
    int count_ = 0;
};

class StoreReader {
public:
    std::atomic<bool> stopAnalysis{false};
    std::atomic<bool> stopSaving{false};
    std::atomic<bool> savingRunActive{false};
    PauseGate pauseGate;

    bool StopRequested() const {
        return (stopAnalysis.load() && !savingRunActive.load()) || stopSaving.load();
    }
};

}  // namespace bm
