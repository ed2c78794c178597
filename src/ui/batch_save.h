// Saves a list of stores one after another, as "Save All Found" on the
// search page asks: each store is analysed (the analysis page's run, with
// step 1's scan choices) and then saved with all its folders (as "save
// --all") by the saving run, both on their own worker threads, into one
// destination folder under the default name the single save offers. A
// store that cannot be read is recorded with its reason and the next one
// starts; Stop ends the store at hand and starts no other. What each store
// came to is the saving run's own verdict and words, never a count made
// here.
#pragma once

#include <QObject>
#include <QString>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bm {
class AnalysisRun;
class SavingRun;
}  // namespace bm

namespace bmui {

class AnalysisBridge;
class SavingBridge;
class WizardContext;

// How one store of the list ended.
struct BatchStoreResult {
    enum class Kind {
        SavedWhole,   // the saving run's verdict: every item saved, none damaged
        SavedPartly,  // saved, with items not recovered or damaged
        Failed,       // not read, or nothing saved
        Stopped,      // Stop ended it
        NotStarted,   // Stop came before its turn
    };
    std::string path;
    Kind kind = Kind::NotStarted;
    // The runs' own words: the saving run's headline, the failure, the stop.
    std::string words;
    std::vector<std::filesystem::path> outputs;
    std::filesystem::path report;
};

class BatchSave : public QObject {
    Q_OBJECT
public:
    BatchSave(WizardContext& context, QObject* parent = nullptr);
    ~BatchSave() override;  // stops the run at hand and waits for it

    // Saves `stores` in turn into `destination` (a folder that can be
    // written); returns at once, `finished` says when all are done.
    void Start(std::vector<std::string> stores, std::filesystem::path destination);
    // The store at hand stops (after the item the saving run writes) and
    // no other starts.
    void Stop();
    // Holds the run at hand (while a question is on screen) and lets it go.
    void Pause();
    void Resume();
    // Waits for the worker of the run at hand.
    void Wait();

    bool over() const { return phase_ == Phase::Over; }
    bool stopRequested() const { return stopRequested_; }
    bool saving() const { return phase_ == Phase::Saving; }
    // In the list's order, one per store once the batch is over.
    const std::vector<BatchStoreResult>& results() const { return results_; }
    std::size_t storeCount() const { return stores_.size(); }
    // The runs of the store at hand (tests hold them at a position).
    bm::SavingRun* savingRun() const { return saving_.get(); }
    AnalysisBridge* analysisBridge() const { return analysisBridge_; }
    SavingBridge* savingBridge() const { return savingBridge_; }

signals:
    // Store `position` (from 1) of `count` begins; `name` is its file name.
    void storeStarted(int position, int count, const QString& name);
    // Its analysis is over and its saving run has started.
    void savingStarted();
    // Every store has its result.
    void finished();

private:
    enum class Phase { Idle, Analysing, Saving, Over };

    void Next();
    void OnAnalysisFinished(int outcome, const QString& message);
    void OnSavingFinished();
    BatchStoreResult& Record(BatchStoreResult::Kind kind, std::string words);
    void Finish();
    // Keeps `step` for Resume while a run is held; false when none is.
    bool Deferred(std::function<void()> step);

    WizardContext& context_;
    AnalysisBridge* analysisBridge_ = nullptr;
    SavingBridge* savingBridge_ = nullptr;
    // One pair of runs per store: a run's progress count is its own.
    std::unique_ptr<bm::AnalysisRun> analysis_;
    std::unique_ptr<bm::SavingRun> saving_;
    std::vector<std::string> stores_;
    std::filesystem::path destination_;
    std::vector<BatchStoreResult> results_;
    Phase phase_ = Phase::Idle;
    bool stopRequested_ = false;
    bool held_ = false;
    Phase heldPhase_ = Phase::Idle;
    std::function<void()> pending_;
};

}  // namespace bmui
