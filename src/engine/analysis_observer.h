// What an analysis run tells the page that shows it. The run calls these on
// its own worker thread; an observer that draws must hand the call to its
// user-interface thread. Every call has an empty default.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/well_known_counts.h"

namespace bm {

enum class AnalysisOutcome : int {
    Completed,
    Aborted,  // the user asked the run to stop
    Failed,   // the store could not be opened or read
};

struct AnalysisFinish {
    AnalysisOutcome outcome = AnalysisOutcome::Failed;
    // The page the browser shows now (abort.html or completed.html in the
    // application directory); empty when the run ended before its finish
    // (store in use, no mail folder root), so the page keeps its view.
    std::filesystem::path page;
    // Whether the folder tree holds anything: the Save button is shown and
    // the menu "Save" enabled only then.
    bool treeHasItems = false;
    // The message shown during the run, if any.
    std::string message;
    // Items the walk met below the mail folders, and of them those it
    // could not read.
    std::int64_t itemsFound = 0;
    std::int64_t itemsNotRead = 0;
};

class AnalysisObserver {
public:
    virtual ~AnalysisObserver() = default;
    // The store path the run uses ("Source Path :").
    virtual void OnSourcePath(const std::string& /*path*/) {}
    // Progress bar range 0..maximum (may be zero or negative for tiny stores).
    virtual void OnProgressRange(std::int32_t /*maximum*/) {}
    virtual void OnProgressPosition(std::int32_t /*position*/) {}
    // A category shown during the walk changed its count.
    virtual void OnCountChanged(WellKnownCategory /*category*/, std::int32_t /*count*/) {}
    // A folder path for the tree (missing levels are the tree's business).
    virtual void OnFolderFound(const std::string& /*path*/, const std::string& /*containerClass*/) {}
    // A message for the user (a message box captioned kProductCaption).
    virtual void OnMessage(const std::string& /*text*/) {}
    // The run is over; called exactly once per run.
    virtual void OnFinished(const AnalysisFinish& /*finish*/) {}
};

}  // namespace bm
