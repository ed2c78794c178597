// The save flow of the analysis page: where the new store goes (the
// destination folder, then the store's name in a save dialog that offers
// the default one), the save request the engine turns into the saving
// run's source (as the command line's save does), the saving run, and its
// dialogs (the status while it runs, the completion after). The page's
// signals tell the tests where the flow is.
#pragma once

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/journal_request.h"
#include "engine/save_journal.h"
#include "engine/saving_selection.h"

namespace bm {
class AnalysisRun;
class ItemSink;
struct SavingRequest;
struct SavingSource;
class SavingRun;
}  // namespace bm

namespace bmui {

class ListPSTFile;
class Repair_Recover;
class SavingBridge;
class WizardContext;

class SaveFlow : public QObject {
    Q_OBJECT
public:
    SaveFlow(WizardContext& context, Repair_Recover& page);
    ~SaveFlow() override;

    // What Save makes: a new store, or an export for other mail programs
    // into a new folder below the destination's Export folder.
    enum class OutputKind { Pst, Mbox, Maildir, Eml };
    // What Save saves: the folders ticked in the tree (the top folder's own
    // items when it is ticked), and whether damaged items get the category.
    struct Choice {
        OutputKind outputKind = OutputKind::Pst;
        std::string sourcePath;  // the store file step 1 chose
        std::vector<std::string> ticked;
        bool topTicked = false;
        bool markDamaged = false;
        // Days "YYYY-MM-DD", both included; empty: no date range.
        std::string since;
        std::string until;
        bool dedupe = false;
        std::uint64_t partSizeMb = 0;  // 0: the default part size
    };
    // Asks where to save and starts the run after `analysis`; false when it
    // did not start (cancelled, or refused with the reason shown).
    bool Save(const bm::AnalysisRun& analysis, const Choice& choice);

    bool started() const { return started_; }
    bool running() const;
    // Asks a running run to stop after the item it is writing; a held one
    // is let go so that it sees the stop.
    void Stop();
    void Wait();
    bm::SavingRun& run() { return *run_; }
    SavingBridge* bridge() const { return bridge_; }
    const bm::SelectedFolders& selectedFolders() const { return selected_; }
    const std::filesystem::path& destination() const { return destination_; }
    void ClearSelection() { selected_.Clear(); }

signals:
    // The run ended and its completion dialog was closed: the page goes.
    void over();

private:
    void Start(bm::SavingSource source);
    // What the journal of a new store keeps of its request.
    std::string JournalRequestFor(const bm::SavingRequest& request, const Choice& choice) const;
    // A save of `sourcePath` cut off in `destination` that this analysis
    // can go on with, and the request its journal holds; nullopt when there
    // is none.
    struct Resumable {
        bm::UnfinishedSave save;
        bm::JournalRequest request;
    };
    std::optional<Resumable> ResumableSave(const std::filesystem::path& destination,
                                           const std::string& sourcePath) const;
    // Goes on with the save into its own store, as it was asked.
    bool GoOn(const bm::AnalysisRun& analysis, const Choice& choice, const std::filesystem::path& destination,
              Resumable resumable);
    // Makes the export folder below `chosen` and the sink the run writes
    // through; false (the reason shown) when the folder cannot be made.
    bool PrepareExport(const std::filesystem::path& chosen, const Choice& choice, bm::SavingSource& source);
    void RunDialogs();
    void ShowCompletion();
    void SetSaving(bool saving);

    WizardContext& context_;
    Repair_Recover& page_;
    SavingBridge* bridge_ = nullptr;
    std::unique_ptr<bm::SavingRun> run_;
    // The export's output while one runs (declared after the run, which
    // waits for its worker before the sink goes).
    std::unique_ptr<bm::ItemSink> exportSink_;
    ListPSTFile* status_ = nullptr;  // while the status dialog runs
    bm::SelectedFolders selected_;
    std::filesystem::path destination_;
    bool started_ = false;
    bool ended_ = false;
};

}  // namespace bmui
