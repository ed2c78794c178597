#include "output/save_to_pst.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "messaging/item_reader.h"
#include "output/damage_mark.h"
#include "output/pst/output_write_error.h"
#include "output/source_copy.h"
#include "store/content_damage.h"

namespace bm {

namespace {

// The store's root folder, above the top of the personal folders.
constexpr std::uint32_t kStoreRootFolderNid = 0x122;

namespace fs = std::filesystem;

std::atomic<std::uint32_t> g_storeCount{0};

}  // namespace

std::size_t RemoveStaleSaveDirectories(const fs::path& parent) {
    std::size_t removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(kSaveDirectoryPrefix)) continue;
        // "brightmend-save-<pid>-XXXXXX": only the folders of processes that
        // are gone, and only this user's own real folders.
        const std::string rest = name.substr(kSaveDirectoryPrefix.size());
        const std::size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string::npos || rest.size() - dash != 7) continue;
        if (rest.find_first_not_of("0123456789") != dash) continue;
        const long pid = std::strtol(rest.c_str(), nullptr, 10);
        if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
        std::error_code removeError;
        if (fs::remove_all(it->path(), removeError) != static_cast<std::uintmax_t>(-1) && !removeError) ++removed;
    }
    return removed;
}

std::string OutputTimestamp(const std::tm& t) {
    return std::to_string(t.tm_mday) + "-" + std::to_string(t.tm_mon + 1) + "-" + std::to_string(t.tm_year + 1900) +
           " " + std::to_string(t.tm_hour) + "-" + std::to_string(t.tm_min) + "-" + std::to_string(t.tm_sec);
}

std::string OutputStem(std::string_view sourceFileName) {
    const auto dropExtension = [](std::string_view name) {
        const auto dot = name.rfind('.');
        return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
    };
    const auto isStoreExtension = [](std::string_view name) {
        const auto dot = name.rfind('.');
        if (dot == std::string_view::npos || dot == 0) return false;
        std::string ext(name.substr(dot));
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return ext == ".ost" || ext == ".pst";
    };
    // "outlook.ost.bak": the backup's own extension, then the store's.
    std::string_view stem = sourceFileName;
    const bool storeExtension = isStoreExtension(stem);
    stem = dropExtension(stem);
    if (!storeExtension && isStoreExtension(stem)) stem = dropExtension(stem);
    return std::string(stem);
}

std::string OutputStoreName(std::string_view sourceFileName, std::string_view timestamp) {
    return OutputStem(sourceFileName) + std::string(timestamp) + ".pst";
}

namespace {

fs::path NumberedPath(const fs::path& wanted, int n) {
    if (n < 2) return wanted;
    return wanted.parent_path() / (wanted.stem().string() + " (" + std::to_string(n) + ")" + wanted.extension().string());
}

// Whether nothing is at `path` (a link counts as something).
bool Free(const fs::path& path) {
    std::error_code ec;
    return !fs::exists(fs::symlink_status(path, ec));
}

}  // namespace

fs::path PartialPath(const fs::path& store) { return fs::path(store.string() + std::string(kPartialSuffix)); }

namespace {

// A store is written under "<name>.partial" and gets its name only once it
// is finished (and checked), so a run that is killed never leaves a broken
// file under a store's name. The first name from `wanted` on whose store
// and ".partial" names are both free (or `wanted` itself only) is taken:
// its ".partial" file is created exclusively, so two runs never pick the
// same name, and a left-over ".partial" keeps its name from being taken.
std::unique_ptr<pst::ReservedOutputFile> ReserveOutputPath(const fs::path& wanted, bool mayNumber) {
    for (int n = 1;; ++n) {
        const fs::path candidate = NumberedPath(wanted, n);
        if (Free(candidate)) {
            if (auto reserved = pst::ReservedOutputFile::Create(PartialPath(candidate))) return reserved;
        }
        if (!mayNumber) throw std::runtime_error(std::string(kOutputFileExists));
    }
}

}  // namespace

fs::path FreeOutputPath(const fs::path& wanted) {
    for (int n = 1;; ++n) {
        const fs::path candidate = NumberedPath(wanted, n);
        if (Free(candidate) && Free(PartialPath(candidate))) return candidate;
    }
}

fs::path StorePartPath(const fs::path& firstPart, int part) {
    return firstPart.parent_path() /
           (firstPart.stem().string() + " (part " + std::to_string(part) + ")" + firstPart.extension().string());
}

void IgnoreFileSizeSignal() {
    // Past a file-size limit (ulimit -f) a write then fails with EFBIG and
    // the run cleans up after itself, instead of the process being killed
    // in the middle of a store.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}

USave_to_PST_Format::USave_to_PST_Format(SaveOptions options) : options_(std::move(options)) { IgnoreFileSizeSignal(); }

USave_to_PST_Format::~USave_to_PST_Format() {
    try {
        Finish();
    } catch (...) {
        // Nothing can be reported from here; the run reports failures itself.
    }
}

std::uint32_t USave_to_PST_Format::StoreCount() { return g_storeCount.load(); }

std::tm USave_to_PST_Format::LocalNow() const {
    if (options_.localClock) return options_.localClock();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::optional<std::string> USave_to_PST_Format::CreateOutputStore(const fs::path& directory) {
    {
        std::error_code ec;
        const fs::path temp = options_.tempDirectory.empty() ? fs::temp_directory_path(ec) : options_.tempDirectory;
        if (!ec) RemoveStaleSaveDirectories(temp);
    }
    fs::path path;
    if (!options_.outputFile.empty()) {
        path = options_.outputFile;
    } else {
        const fs::path dir = directory.empty() ? options_.defaultDirectory : directory;
        path = dir / OutputStoreName(options_.sourceFileName, OutputTimestamp(LocalNow()));
    }
    std::unique_ptr<pst::ReservedOutputFile> reserved;
    if (!path.parent_path().empty()) {
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        if (ec)
            return std::string(kCannotCreateOutputStore) + " " + path.string() + ": cannot create the folder " +
                   path.parent_path().string() + ": " + ec.message();
    }
    if (byYear()) {
        // The parts are made as their first items come; the name itself
        // only gives theirs and the report's.
        if (!options_.outputFile.empty() && !Free(path))
            return std::string(kCannotCreateOutputStore) + " " + path.string() + ": " + std::string(kOutputFileExists);
        base_ = path;
        outputStorePath_ = path;
        created_ = true;
        return std::nullopt;
    }
    if (options_.resume) return TakeOverParts(path);
    try {
        // A file chosen by name is never replaced; a default name that is
        // taken moves on to " (2)", " (3)" ...
        reserved = ReserveOutputPath(path, options_.outputFile.empty());
    } catch (const std::system_error& e) {
        return std::string(kCannotCreateOutputStore) + " " + path.string() + ": " + e.code().message();
    } catch (const std::exception& e) {
        return std::string(kCannotCreateOutputStore) + " " + path.string() + ": " + e.what();
    }
    const fs::path partial = reserved->path();
    path = fs::path(partial.string().substr(0, partial.string().size() - kPartialSuffix.size()));
    try {
        OpenStoreFile(path, std::move(reserved));
    } catch (const fs::filesystem_error& e) {
        store_.reset();
        return std::string(kCannotCreateOutputStore) + " " + path.string() + ": cannot create " +
               e.path1().string() + ": " + e.code().message();
    } catch (const std::exception& e) {
        store_.reset();
        return std::string(kCannotCreateOutputStore) + " " + path.string() + ": " + e.what();
    }
    return std::nullopt;
}

std::string USave_to_PST_Format::PublishPart(std::size_t index) {
    if (index >= parts_.size() || !parts_[index]) return "no such part";
    if (parts_[index]->path() == outputStores_[index]) {
        // Taken over with its name (see TakeOverParts).
        parts_[index].reset();
        return {};
    }
    const std::string failure = parts_[index]->MoveTo(outputStores_[index]);
    if (failure.empty()) parts_[index].reset();
    return failure;
}

std::string USave_to_PST_Format::SetPartApart(std::size_t index, const fs::path& name) {
    if (index >= parts_.size() || !parts_[index]) return "no such part";
    const std::string failure = parts_[index]->MoveTo(name);
    if (failure.empty()) {
        outputStores_[index] = name;
        parts_[index].reset();
    }
    return failure;
}

void USave_to_PST_Format::RemovePart(std::size_t index) {
    if (index >= parts_.size() || !parts_[index]) return;
    parts_[index]->Remove();
    parts_[index].reset();
}

fs::path USave_to_PST_Format::partPath(std::size_t index) const {
    if (index < parts_.size() && parts_[index]) return parts_[index]->path();
    return index < outputStores_.size() ? outputStores_[index] : fs::path();
}

void USave_to_PST_Format::OpenStoreFile(const fs::path& path, std::unique_ptr<pst::ReservedOutputFile> reserved) {
    displayName_ = std::string(kOutputDisplayNamePrefix) + OutputTimestamp(LocalNow());
    if (byYear()) displayName_ += LaneSuffix(lane_);
    if (storeSwitched_) {
        // Piece by piece: a literal added to a string makes the optimiser
        // warn of overlapping copies that cannot happen.
        displayName_ += '(';
        displayName_ += std::to_string(g_storeCount.load());
        displayName_ += ')';
    }
    store_ = std::make_unique<OpenOutputStore>(reserved->path(), displayName_);
    outputStorePath_ = path;
    outputStores_.push_back(path);
    parts_.push_back(std::move(reserved));
    partIndex_ = outputStores_.size() - 1;
    inPart_.assign(folders_.size() + 1, 0);
    inPart_[kTopOutputFolder] = store_->topFolder();
    created_ = true;
    ++g_storeCount;
}

void USave_to_PST_Format::RequireStore() const {
    if (!created_ || finished_ || (!byYear() && !store_ && itemsWritten_ >= skipThrough_))
        throw std::logic_error("the output store is used before CreateOutputStore or after Finish");
}

std::optional<std::string> USave_to_PST_Format::TakeOverParts(const fs::path& first) {
    const auto refused = [&](const std::string& why) {
        return std::string(kCannotCreateOutputStore) + " " + first.string() + ": " + why;
    };
    for (const SaveOptions::FinishedPart& part : *options_.resume) {
        // A part that had passed its check when the run was killed has its
        // name already.
        std::unique_ptr<pst::ReservedOutputFile> kept = pst::ReservedOutputFile::TakeOver(PartialPath(part.path));
        if (!kept) kept = pst::ReservedOutputFile::TakeOver(part.path);
        if (!kept) return refused("the finished part " + PartialPath(part.path).filename().string() + " is not there");
        outputStores_.push_back(part.path);
        parts_.push_back(std::move(kept));
        takenThrough_.push_back(part.itemsThrough);
        ++g_storeCount;
    }
    skipThrough_ = takenThrough_.empty() ? 0 : takenThrough_.back();
    created_ = true;
    if (options_.resumeEnded && !outputStores_.empty()) return std::nullopt;  // every item is in those parts
    const fs::path next = outputStores_.empty() ? first : StorePartPath(first, static_cast<int>(outputStores_.size()) + 1);
    // The part the killed run was writing is begun again.
    struct stat st {};
    if (::lstat(PartialPath(next).c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(PartialPath(next).c_str());
    try {
        std::unique_ptr<pst::ReservedOutputFile> reserved = ReserveOutputPath(next, false);
        storeSwitched_ = !outputStores_.empty();
        OpenStoreFile(next, std::move(reserved));
        storeSwitched_ = false;
    } catch (const std::exception& e) {
        store_.reset();
        return refused(e.what());
    }
    partIndex_ = outputStores_.size() - 1;
    return std::nullopt;
}

bool USave_to_PST_Format::TakenOver(OutputFolderHandle folder) {
    if (itemsWritten_ >= skipThrough_) return false;
    std::size_t part = 0;
    while (part + 1 < takenThrough_.size() && itemsWritten_ >= takenThrough_[part]) ++part;
    lastFolder_ = folder;
    lastItemPart_ = part;
    // The last of them: the new part begins with its folder, as the part
    // after it did in the run that was killed.
    if (++itemsWritten_ == skipThrough_ && store_) FolderInPart(lastFolder_);
    return true;
}

fs::path USave_to_PST_Format::baseStorePath() const {
    if (byYear() || outputStores_.empty()) return byYear() ? base_ : outputStorePath_;
    return outputStores_.front();
}

fs::path USave_to_PST_Format::LanePath(int lane) const {
    return base_.parent_path() / (base_.stem().string() + LaneSuffix(lane) + base_.extension().string());
}

std::string USave_to_PST_Format::LaneSuffix(int lane) {
    return lane == kUndatedLane ? std::string(" (undated)") : " (" + std::to_string(lane) + ")";
}

int USave_to_PST_Format::LaneOf(const ItemRecord& item) const {
    const std::optional<int> year = options_.partYear(item);
    return year && *year != kUndatedLane ? *year : kUndatedLane;
}

void USave_to_PST_Format::EnterLane(int lane) {
    if (store_ && lane == lane_) return;
    if (store_) lanes_[lane_] = Lane{std::move(store_), std::move(inPart_), partIndex_, laneFirst_, displayName_, lanePart_};
    lane_ = lane;
    if (const auto open = lanes_.find(lane); open != lanes_.end()) {
        Lane& l = open->second;
        store_ = std::move(l.store);
        inPart_ = std::move(l.inPart);
        partIndex_ = l.partIndex;
        laneFirst_ = std::move(l.firstPart);
        displayName_ = std::move(l.displayName);
        lanePart_ = l.part;
        lanes_.erase(open);
        outputStorePath_ = outputStores_[partIndex_];
        return;
    }
    const fs::path wanted = LanePath(lane);
    try {
        std::unique_ptr<pst::ReservedOutputFile> reserved = ReserveOutputPath(wanted, true);
        const std::string partial = reserved->path().string();
        laneFirst_ = partial.substr(0, partial.size() - kPartialSuffix.size());
        lanePart_ = 1;
        OpenStoreFile(laneFirst_, std::move(reserved));
    } catch (const std::exception& e) {
        // Nothing more can be saved once a part cannot be made.
        throw pst::OutputWriteError(std::string(kCannotCreateOutputStore) + " " + wanted.string() + ": " + e.what());
    }
}

OutputFolderHandle USave_to_PST_Format::OpenFolder(const SinkFolder& folder, StoreFile& store) {
    RequireStore();
    if (folder.parent > folders_.size()) throw std::invalid_argument("OpenFolder: no such parent folder");
    Folder made;
    made.parent = folder.parent;
    made.name = folder.name.empty() ? std::string(kUntitledFolderName) : std::string(folder.name);
    made.containerClass = std::string(folder.containerClass);
    std::string key = std::to_string(made.parent);
    key.push_back('\0');
    key += made.name;
    made.sibling = namesTaken_[key]++;
    const auto handle = static_cast<OutputFolderHandle>(folders_.size() + 1);
    std::optional<std::uint64_t> counter;
    if (folder.sourceNode != nullptr) {
        made.properties = CopySourceFolderProperties(store, *folder.sourceNode);
        folderLinks_.Hold(handle, ReadSourceFolderLinks(store, *folder.sourceNode, &counter));
    }
    if (folder.sourceNid != 0) folderLinks_.Saved(folder.sourceNid, handle, counter);
    folders_.push_back(std::move(made));
    // With parts by year a folder is made in a part when an item goes there.
    if (byYear() || itemsWritten_ < skipThrough_) return handle;
    FolderInPart(handle);
    return handle;
}

pst::FolderId USave_to_PST_Format::FolderInPart(OutputFolderHandle handle) {
    if (handle > folders_.size()) throw std::invalid_argument("no such output folder");
    if (!store_) throw std::logic_error("no part of the output store is open");
    // Folders opened while another part was being written are not there yet.
    if (inPart_.size() <= folders_.size()) inPart_.resize(folders_.size() + 1, 0);
    if (madeSomewhere_.size() <= folders_.size()) madeSomewhere_.resize(folders_.size() + 1, false);
    if (inPart_[handle] != 0) return inPart_[handle];
    // The first parent already in this part, then down again; the parents
    // are walked without recursion, however deep the folder lies.
    std::vector<OutputFolderHandle> missing;
    for (OutputFolderHandle at = handle; inPart_[at] == 0; at = folders_[at - 1].parent) missing.push_back(at);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        const Folder& f = folders_[*it - 1];
        const pst::FolderId made = store_->EnsureChild(inPart_[f.parent], f.name, f.sibling, f.containerClass);
        if (f.properties) store_->SetFolderProperties(made, *f.properties);
        inPart_[*it] = made;
        madeSomewhere_[*it] = true;
    }
    return inPart_[handle];
}

void USave_to_PST_Format::KeepStoreFolderLinks(const NodeEntry& top, StoreFile& store) {
    std::optional<std::uint64_t> counter;
    std::vector<SourceFolderLink> links = ReadSourceFolderLinks(store, top, &counter);
    folderLinks_.Saved(top.nid, kTopOutputFolder, counter);
    folderLinks_.Hold(kTopOutputFolder, std::move(links));
    if (const NodeEntry* root = FindNode(store, kStoreRootFolderNid); root != nullptr && root != &top)
        folderLinks_.HoldOnStoreRoot(root->nid, ReadSourceFolderLinks(store, *root));
}

void USave_to_PST_Format::ApplyFolderLinks() {
    try {
        folderLinks_.Apply(*store_, [this](OutputFolderHandle folder) -> std::optional<pst::FolderId> {
            if (folder >= inPart_.size() || inPart_[folder] == 0) return std::nullopt;
            return inPart_[folder];
        });
    } catch (const std::logic_error&) {
        // A link that cannot be made is left out; the part is finished all
        // the same.
    }
}

pst::Message USave_to_PST_Format::ItemMessage(ItemRecord& item, StoreFile& store) {
    pst::Message copy = ItemAsMessage(item, store, &unnamedValues_);
    if (!options_.damagedCategory.empty() && store.contentDamage != nullptr && !store.contentDamage->empty())
        AddCategory(copy.properties, options_.damagedCategory);
    return copy;
}

bool USave_to_PST_Format::AddItem(ItemRecord& item, StoreFile& store, OutputFolderHandle folder) {
    RequireStore();
    if (folder > folders_.size()) throw std::invalid_argument("no such output folder");
    const pst::Message message = ItemMessage(item, store);
    if (TakenOver(folder)) return true;
    if (byYear()) EnterLane(LaneOf(item));
    store_->AddMessage(FolderInPart(folder), message);
    lastFolder_ = folder;
    lastItemPart_ = partIndex_;
    ++itemsWritten_;
    CheckStoreSize();
    return true;
}

bool USave_to_PST_Format::AddAssociatedItem(const ItemRecord& item, StoreFile& store, OutputFolderHandle folder) {
    RequireStore();
    if (item.sourceNode == nullptr) return false;
    if (folder > folders_.size()) throw std::invalid_argument("no such output folder");
    std::optional<pst::Message> copy = CopySourceMessage(store, *item.sourceNode, &unnamedValues_);
    if (!copy) return false;
    if (TakenOver(folder)) return true;
    if (byYear()) EnterLane(LaneOf(item));
    store_->AddAssociatedMessage(FolderInPart(folder), *copy);
    lastFolder_ = folder;
    lastItemPart_ = partIndex_;
    ++itemsWritten_;
    CheckStoreSize();
    return true;
}

void USave_to_PST_Format::CheckStoreSize() {
    if (store_->FileSize() <= options_.storeSizeLimit) return;
    SwitchStore();
}

// The item that passed the limit stays in the part it was written to; the
// next one goes into a new part next to the first, named "<first> (part n)",
// with the folder the last item went to made there again.
void USave_to_PST_Format::SwitchStore() {
    storeSwitched_ = true;
    ApplyFolderLinks();
    store_->Finish();
    store_.reset();
    if (options_.partFinished) {
        if (!parts_[partIndex_] || !parts_[partIndex_]->Sync())
            throw pst::OutputWriteError("cannot write " + outputStores_[partIndex_].string() + " to the disk");
        options_.partFinished(partIndex_, outputStores_[partIndex_], itemsWritten_, false);
    }
    if (!options_.publishAfterCheck) ThrowIfNotPublished(PublishPart(partIndex_));
    const fs::path first = byYear() ? laneFirst_ : outputStores_.front();
    const int nextPart = byYear() ? lanePart_ + 1 : static_cast<int>(outputStores_.size()) + 1;
    std::unique_ptr<pst::ReservedOutputFile> next = ReserveOutputPath(StorePartPath(first, nextPart), true);
    lanePart_ = nextPart;
    const std::string nextPartial = next->path().string();
    OpenStoreFile(nextPartial.substr(0, nextPartial.size() - kPartialSuffix.size()), std::move(next));
    storeSwitched_ = false;
    FolderInPart(lastFolder_);
}

void USave_to_PST_Format::Finish() {
    if (!created_ || finished_) return;
    finished_ = true;
    if (byYear()) {
        // A folder no item went into is made in the undated part, else in
        // the part of the latest year; a save without items has the
        // undated part alone.
        bool homeless = outputStores_.empty();
        for (std::size_t h = 1; h <= folders_.size() && !homeless; ++h)
            homeless = h >= madeSomewhere_.size() || !madeSomewhere_[h];
        if (homeless) {
            int home = kUndatedLane;
            if (store_ && lane_ != kUndatedLane && !lanes_.contains(kUndatedLane))
                home = std::max(lane_, lanes_.empty() ? lane_ : lanes_.rbegin()->first);
            EnterLane(home);
            for (OutputFolderHandle h = 1; h <= folders_.size(); ++h)
                if (h >= madeSomewhere_.size() || !madeSomewhere_[h]) FolderInPart(h);
        }
    }
    while (store_) {
        ApplyFolderLinks();
        store_->Finish();
        store_.reset();
        if (options_.partFinished && !byYear()) {
            if (!parts_[partIndex_] || !parts_[partIndex_]->Sync())
                throw pst::OutputWriteError("cannot write " + outputStores_[partIndex_].string() + " to the disk");
            options_.partFinished(partIndex_, outputStores_[partIndex_], itemsWritten_, true);
        }
        if (lanes_.empty()) break;
        // The parts left open for other years, in turn.
        Lane& next = lanes_.begin()->second;
        store_ = std::move(next.store);
        inPart_ = std::move(next.inPart);
        inPart_.resize(folders_.size() + 1, 0);
        lanes_.erase(lanes_.begin());
    }
    if (options_.publishAfterCheck) return;
    for (std::size_t i = 0; i < parts_.size(); ++i)
        if (parts_[i]) ThrowIfNotPublished(PublishPart(i));
}

void USave_to_PST_Format::ThrowIfNotPublished(const std::string& failure) {
    if (!failure.empty()) throw pst::OutputWriteError(failure);
}

}  // namespace bm
