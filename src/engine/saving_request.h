// One save request, as the command line and the wizard both make it: the
// folders (named one by one, as trees, or all of them; the wizard names
// those ticked in its tree), where the new store goes, and the options.
// With the analysis run before it, the request becomes what the saving
// run takes, the same way for both.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "engine/item_filter.h"
#include "engine/saving_run.h"

namespace bm {

class AnalysisRun;

struct SavingRequest {
    std::string sourcePath;
    std::vector<std::string> folders;  // that folder only
    std::vector<std::string> trees;    // the folder and every folder below it
    bool all = false;                  // the top folder and every folder the analysis met
    // The directory the new store is made in, under its default name
    // (MakeSaveDestination gives the "Repair" folder of a chosen one)...
    std::filesystem::path destination;
    // ...or the new store's file chosen by name (it must not exist).
    std::filesystem::path outputFile;
    bool deepScan = false;
    bool recoverDeleted = false;
    bool markDamaged = false;  // the category "Damaged in recovery" on items saved with damaged content
    ItemFilter filter;         // which items to keep (see item_filter.h)
    bool dedupe = false;       // leave out copies of items saved before (see duplicate_items.h)
    std::uint64_t storeSizeLimit = kDefaultStoreSizeLimit;  // where the new store goes on in a new part
    bool splitByYear = false;  // one part per year of the items' time
};

// Why a request cannot be saved.
struct SavingRequestRefused {
    // A folder the request names that the analysis did not meet (with a
    // final backslash); empty when the request selects nothing at all.
    std::string unknownFolder;
};

// What the saving run takes for `request` after `analysis` (its folder
// tree, how it ended and what it counted). A folder path may be given
// without its final backslash; the top folder is always known.
std::variant<SavingSource, SavingRequestRefused> SavingSourceFor(const SavingRequest& request,
                                                                 const AnalysisRun& analysis);

}  // namespace bm
