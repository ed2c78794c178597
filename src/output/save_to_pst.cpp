#include "output/save_to_pst.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <span>
#include <stdexcept>
#include <system_error>
#include <unordered_set>

#include "common/utf.h"
#include "messaging/item_reader.h"
#include "output/attachment_names.h"
#include "output/bridge_texts.h"
#include "output/contact_session.h"
#include "output/damage_mark.h"
#include "output/source_copy.h"
#include "store/content_damage.h"

namespace bm {

namespace {

// The store's root folder, above the top of the personal folders.
constexpr std::uint32_t kStoreRootFolderNid = 0x122;

namespace fs = std::filesystem;

std::atomic<std::uint32_t> g_storeCount{0};

std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with) {
    std::string out;
    std::size_t at = 0;
    for (std::size_t found = text.find(what); found != std::string_view::npos; found = text.find(what, at)) {
        out.append(text.substr(at, found - at));
        out.append(with);
        at = found + what.size();
    }
    out.append(text.substr(at));
    return out;
}

const MessageFields& FieldsOf(const ItemRecord& item) {
    static const MessageFields kNone;
    return item.messageFields ? *item.messageFields : kNone;
}

const std::string& SubjectOf(const MessageFields* fields) {
    static const std::string kNone;
    return fields != nullptr && fields->subject ? fields->subject->text : kNone;
}

// A named text as stored: UTF-16LE when it looks like it (every second
// byte mostly zero), else 8-bit text.
std::string NamedText(const Bytes& raw) {
    if (raw.empty()) return {};
    if (raw.size() % 2 == 0) {
        std::size_t zeros = 0;
        for (std::size_t i = 1; i < raw.size(); i += 2) zeros += raw[i] == 0 ? 1 : 0;
        if (zeros * 4 >= raw.size()) {
            std::string text = Utf16LeToUtf8(raw);
            while (!text.empty() && text.back() == '\0') text.pop_back();
            return text;
        }
    }
    const std::string_view bytes(reinterpret_cast<const char*>(raw.data()), raw.size());
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return CodePageToUtf8(raw, 1252);
}

const std::string& Longer(const std::string& earlier, const std::string& later) {
    return earlier.size() > later.size() ? earlier : later;
}

fs::path MakePrivateDirectory(const fs::path& parent) {
    fs::create_directories(parent);
    RemoveStaleSaveDirectories(parent);
    std::string pattern = (parent / (std::string(kSaveDirectoryPrefix) + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "cannot create a directory in " + parent.string());
    return fs::path(pattern);
}

// The contact's text fields in the order they are put; a DISPID put twice
// keeps the later value. The full name follows the first group, the body
// the second, and the gender is put within the third, before the customer id.
struct ContactPut {
    std::uint32_t dispid;
    std::string ContactFields::*member;
};

namespace d = contact_dispid;
const ContactPut kContactPutsBeforeName[] = {
    {d::kOrganizationalId, &ContactFields::organizationalId},
    {d::kFileAs, &ContactFields::fileAs},
    {d::kGovernmentId, &ContactFields::governmentId},
    {d::kTtyTddPhone, &ContactFields::ttyTddPhone},
    {d::kBusiness2Phone, &ContactFields::business2Phone},
    {d::kRadioPhone, &ContactFields::radioPhone},
    {d::kTelexNumber, &ContactFields::telexNumber},
    {d::kMileage, &ContactFields::lid8534Text},
    {d::kGivenName, &ContactFields::givenName},
    {d::kMiddleName, &ContactFields::middleName},
    {d::kSurname, &ContactFields::surname},
};
const ContactPut kContactPutsBeforeBody[] = {
    {d::kWorkAddress, &ContactFields::workAddress},
    {d::kHome2Phone, &ContactFields::home2Phone},
    {d::kDepartment, &ContactFields::department},
    {d::kCarPhone, &ContactFields::carPhone},
    {d::kPostalCode, &ContactFields::postalCode},
    {d::kStreetAddress, &ContactFields::streetAddress},
    {d::kStateOrProvince, &ContactFields::stateOrProvince},
    {d::kCountry, &ContactFields::country},
    {d::kLocality, &ContactFields::locality},
    {d::kCallbackPhone, &ContactFields::callbackPhone},
    {d::kOtherPostalCode, &ContactFields::otherPostalCode},
    {d::kOtherAddress, &ContactFields::otherAddress},
    {d::kOtherPhone, &ContactFields::otherPhone},
    {d::kOtherStreet, &ContactFields::otherStreet},
    {d::kOtherState, &ContactFields::otherState},
    {d::kOtherCountry, &ContactFields::otherCountry},
    {d::kOtherCity, &ContactFields::otherCity},
    {d::kHomeState, &ContactFields::homeState},
    {d::kHomeStreet, &ContactFields::homeStreet},
    {d::kHomePostalCode, &ContactFields::homePostalCode},
    {d::kHomeCountry, &ContactFields::homeCountry},
    {d::kBusinessHomePage, &ContactFields::businessHomePage},
    {d::kPersonalHomePage, &ContactFields::personalHomePage},
    {d::kNickname, &ContactFields::nickname},
    {d::kManagerName, &ContactFields::managerName},
    {d::kFreeBusyAddress, &ContactFields::lid80D8Text},
    {d::kHomeCity, &ContactFields::homeCity},
    {d::kCompanyMainPhone, &ContactFields::companyMainPhone},
    {d::kSpouseName, &ContactFields::spouseName},
    {d::kProfession, &ContactFields::profession},
    {d::kAssistant, &ContactFields::assistant},
    {d::kAssistantPhone, &ContactFields::assistantPhone},
    {d::kIsdnNumber, &ContactFields::isdnNumber},
    {d::kPager, &ContactFields::pager},
    {d::kOfficeLocation, &ContactFields::officeLocation},
    {d::kHomeFax, &ContactFields::homeFax},
    {d::kLanguage, &ContactFields::language},
    {d::kBusinessPhone, &ContactFields::businessPhone},
    {d::kBusinessFax, &ContactFields::businessFax},
};
const ContactPut kContactPutsAfterBody[] = {
    {d::kPostalAddress, &ContactFields::postalAddress},
    {d::kHobbies, &ContactFields::hobbies},
    {d::kCustomerId, &ContactFields::customerId},
    {d::kGenerationValue, &ContactFields::generation},
    {d::kGeneration, &ContactFields::generation},
    {d::kEmail, &ContactFields::email},
    {d::kCompanyName, &ContactFields::companyName},
    {d::kTitle, &ContactFields::title},
    {d::kGivenName, &ContactFields::givenName},
    {d::kMiddleName, &ContactFields::middleName},
    {d::kSurname, &ContactFields::surname},
    {d::kHomePhone, &ContactFields::homePhone},
    {d::kMobilePhone, &ContactFields::mobilePhone},
    {d::kFileAs, &ContactFields::fileAs},
};

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

std::string ToOutputFolderPath(std::string_view folderPath, std::string_view rootPath) {
    if (folderPath.ends_with('\\')) folderPath.remove_suffix(1);
    return ReplaceAll(folderPath, kPersonalFoldersName, rootPath);
}

std::string PlainBodyText(const MessageFields& fields) {
    if (!fields.bodyText.empty() || !fields.body.empty()) return Longer(fields.bodyText, fields.body);
    const std::string first = NamedText(fields.namedText1);
    const std::string second = NamedText(fields.namedText2);
    return Longer(first, second);
}

MailBody ChooseMailBody(const ItemRecord& item) {
    MailBody out;
    const MessageFields* fields = item.messageFields.get();
    if (fields == nullptr) return out;
    if (!fields->htmlBody.empty()) {
        out.htmlFlag = 1;
        const std::string_view bytes(reinterpret_cast<const char*>(fields->htmlBody.data()), fields->htmlBody.size());
        // The writer stores HTML as UTF-8; 8-bit HTML of another code page
        // is converted on the way.
        if (item.codePage != 0 && item.codePage != 65001 && !IsValidUtf8(bytes)) {
            out.text = CodePageToUtf8(fields->htmlBody, item.codePage);
        } else {
            out.text = std::string(bytes);
        }
        return out;
    }
    if (fields->rtfFlag == 1) {
        out.text = fields->bodyText;
        return out;
    }
    std::string plain = PlainBodyText(*fields);
    if (!plain.empty()) out.text = std::move(plain);
    return out;
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
    if (!tempDir_.empty()) {
        std::error_code ignored;
        fs::remove_all(tempDir_, ignored);
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
        bridge_.reset();
        return std::string(kCannotCreateOutputStore) + " " + path.string() + ": cannot create " +
               e.path1().string() + ": " + e.code().message();
    } catch (const std::exception& e) {
        bridge_.reset();
        return std::string(kCannotCreateOutputStore) + " " + path.string() + ": " + e.what();
    }
    return std::nullopt;
}

std::string USave_to_PST_Format::PublishPart(std::size_t index) {
    if (index >= parts_.size() || !parts_[index]) return "no such part";
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
    const std::string written = reserved->path().string();
    auto bridge = std::make_unique<MailBridge>();
    bridge->Start();
    ContactSession probe;  // the contact library must be usable too
    probe.Logon("", "", "", "", "", "");

    const std::string displayName = std::string(kOutputDisplayNamePrefix) + OutputTimestamp(LocalNow());
    bridge->CreateStore(written, displayName);
    storeRootPath_ = "\\\\" + displayName;
    if (tempDir_.empty()) {
        tempDir_ = MakePrivateDirectory(options_.tempDirectory.empty() ? fs::temp_directory_path()
                                                                       : options_.tempDirectory);
        headerFilePath_ = tempDir_ / kHeaderFileName;
    }
    if (storeSwitched_) {
        // Piece by piece: a literal added to a string makes the optimiser
        // warn of overlapping copies that cannot happen.
        storeRootPath_ += '(';
        storeRootPath_ += std::to_string(g_storeCount.load());
        storeRootPath_ += ')';
        bridge->CreateStore(written, storeRootPath_.substr(2));
    }
    bridge_ = std::move(bridge);
    outputStorePath_ = path;
    outputStores_.push_back(path);
    parts_.push_back(std::move(reserved));
    currentFolderPath_.clear();
    currentSourceFolder_.clear();
    ++g_storeCount;
}

void USave_to_PST_Format::PrepareFolder(std::string_view folderPath, std::string_view containerClass) {
    if (folderPath.empty()) throw std::invalid_argument("PrepareFolder: empty folder path");
    if (!bridge_) throw std::logic_error("PrepareFolder before CreateOutputStore");
    currentFolderPath_ = ToOutputFolderPath(folderPath, storeRootPath_);
    currentSourceFolder_ = std::string(folderPath);
    // One call makes every missing level: the parents get the class their
    // names call for, the last level `containerClass`.
    currentFolderClass_ = std::string(containerClass);
    if (currentFolderPath_.size() > storeRootPath_.size()) bridge_->CreateFolder(currentFolderPath_, containerClass);
    ApplyKeptFolderProperties();
}

void USave_to_PST_Format::PrepareSourceFolder(std::string_view sourcePath, const OutputFolderLevels& levels,
                                              std::string_view containerClass) {
    if (!bridge_) throw std::logic_error("PrepareFolder before CreateOutputStore");
    currentFolderPath_ = EncodeOutputFolderPath(storeRootPath_, levels);
    currentSourceFolder_ = std::string(sourcePath);
    currentFolderClass_ = std::string(containerClass);
    if (!levels.empty()) bridge_->CreateFolder(currentFolderPath_, containerClass);
    ApplyKeptFolderProperties();
}

// Kept folder properties go by the folder's place below the store root, so
// that a later part of the output (another root name) finds them too.
std::string USave_to_PST_Format::FolderPropertiesKey(const std::string& outputPath) const {
    return outputPath.size() > storeRootPath_.size() ? outputPath.substr(storeRootPath_.size()) : std::string();
}

void USave_to_PST_Format::ApplyKeptFolderProperties() {
    const auto own = folderProperties_.find(FolderPropertiesKey(currentFolderPath_));
    if (own != folderProperties_.end()) bridge_->SetFolderProperties(currentFolderPath_, own->second);
}

bool USave_to_PST_Format::KeepFolderProperties(std::string_view folderPath, const NodeEntry& sourceFolder,
                                               StoreFile& store) {
    if (!bridge_) throw std::logic_error("KeepFolderProperties before CreateOutputStore");
    // The folder just prepared for this source path, else the path's own.
    const std::string output =
        folderPath == currentSourceFolder_ ? currentFolderPath_ : ToOutputFolderPath(folderPath, storeRootPath_);
    const std::string key = FolderPropertiesKey(output);
    folderLinks_.Saved(sourceFolder.nid, key);
    folderLinks_.Hold(key, ReadSourceFolderLinks(store, sourceFolder));
    // A path of the store root alone is the top folder: the new store's own.
    if (key.empty()) return true;
    std::optional<pst::PropertyBag> own = CopySourceFolderProperties(store, sourceFolder);
    if (!own) return false;
    bridge_->SetFolderProperties(output, *own);
    folderProperties_.insert_or_assign(key, std::move(*own));
    return true;
}

void USave_to_PST_Format::KeepStoreFolderLinks(const NodeEntry& top, StoreFile& store) {
    folderLinks_.Saved(top.nid, std::string());
    folderLinks_.Hold(std::string(), ReadSourceFolderLinks(store, top));
    if (const NodeEntry* root = FindNode(store, kStoreRootFolderNid); root != nullptr && root != &top)
        folderLinks_.HoldOnStoreRoot(root->nid, ReadSourceFolderLinks(store, *root));
}

void USave_to_PST_Format::ApplyFolderLinks() {
    try {
        folderLinks_.Apply(*bridge_, storeRootPath_);
    } catch (const std::logic_error&) {
        // A link that cannot be made is left out; the part is finished all
        // the same.
    }
}

std::string USave_to_PST_Format::DateTimeText(const Bytes& raw) {
    const std::optional<FileTime> time = FileTimeOf(raw);
    if (!time) return {};
    FormatItemTime(*time);
    return itemTexts_.DateTime();
}

// The delivery time wins over the submit time; an item without either
// gets no time rather than the previous item's.
std::string USave_to_PST_Format::ItemDateTimeText(const MessageFields& fields) {
    std::string text = DateTimeText(fields.deliveryTime);
    return text.empty() ? DateTimeText(fields.submitTime) : text;
}

std::time_t USave_to_PST_Format::FormatItemTime(FileTime time) { return bm::FormatItemTime(time, itemTexts_); }

void USave_to_PST_Format::SaveMail(ItemRecord& item, StoreFile& store, std::string_view folderPath) {
    if (!bridge_) throw std::logic_error("SaveMail before CreateOutputStore");
    SaveMailAt(item, store, ToOutputFolderPath(folderPath, storeRootPath_));
}

void USave_to_PST_Format::SaveMailInFolder(ItemRecord& item, StoreFile& store, const OutputFolderLevels& levels) {
    if (!bridge_) throw std::logic_error("SaveMail before CreateOutputStore");
    SaveMailAt(item, store, EncodeOutputFolderPath(storeRootPath_, levels));
}

void USave_to_PST_Format::SaveMailAt(ItemRecord& item, StoreFile& store, const std::string& folder) {
    if (SaveCopy(item, store, folder, {})) {
        CheckStoreSize();
        return;
    }
    ReadLeftOutParts(store, item);  // written from the record: it needs its bodies
    const MessageFields& fields = FieldsOf(item);

    const std::string sender = MakeSenderText(fields.sentRepresentingName, fields.sentRepresentingAddress);
    {
        // A fresh file rather than a truncated one: truncating a file that
        // was just written makes some file systems flush it, once per mail.
        std::error_code ignored;
        fs::remove(headerFilePath_, ignored);
        std::ofstream header(headerFilePath_, std::ios::binary | std::ios::trunc);
        if (header) header << MakeHeaderLine(sender);
    }
    const std::string recipients = MakeRecipientsText(fields.displayTo, fields.receivedByAddress);
    const std::string dateTime = ItemDateTimeText(fields);
    const MailBody body = ChooseMailBody(item);

    SaveAttachmentsToTemp(item, store);
    try {
        bridge_->AddMail(folder, SubjectOf(&fields), recipients, headerFilePath_.string(), dateTime,
                         attachmentFiles_.empty() ? std::nullopt : std::optional<std::string>(attachmentList_),
                         body.text, body.htmlFlag,
                         attachmentFiles_.empty() ? std::nullopt : std::optional<std::string>(attachmentNames_),
                         item.messageClass.empty() ? std::nullopt : std::optional<std::string>(item.messageClass),
                         &item);
    } catch (...) {
        RemoveTemporaryFiles();
        throw;
    }
    RemoveTemporaryFiles();
    ++itemsWritten_;
    CheckStoreSize();
}

void USave_to_PST_Format::SaveAttachmentsToTemp(ItemRecord& item, StoreFile& store) {
    RemoveTemporaryFiles();
    if (tempDir_.empty()) throw std::logic_error("SaveAttachmentsToTemp before CreateOutputStore");
    std::vector<std::string> files;
    std::vector<std::string> names;
    std::unordered_set<std::string> taken{std::string(kHeaderFileName)};
    for (std::size_t i = 0; i < item.attachments.size(); ++i) {
        item.currentAttachment = i;
        AttachmentRecord& attachment = item.attachments[i];
        // Some attachments are named only by their display name.
        const std::string& original = !attachment.longFileName.empty() ? attachment.longFileName
                                      : !attachment.fileName.empty()   ? attachment.fileName
                                                                       : attachment.displayName;
        const fs::path path = tempDir_ / UniqueFileName(MakeSafeFileName(original), taken);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot create attachment file " + path.string());
        attachmentFiles_.push_back(path);
        if (attachment.hasData) {
            // The bytes stay in the record: after a store switch the same
            // mail is written once more.
            out.write(reinterpret_cast<const char*>(attachment.data.data()),
                      static_cast<std::streamsize>(attachment.data.size()));
        } else {
            StreamAttachmentData(store, attachment, [&out](std::span<const std::uint8_t> piece) {
                out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
                return out.good();
            });
        }
        out.close();
        if (!out) throw std::runtime_error("cannot write attachment file " + path.string());
        files.push_back(path.string());
        names.push_back(original);
    }
    attachmentList_ = JoinFileList(files);
    attachmentNames_ = JoinFileList(names);
}

void USave_to_PST_Format::RemoveTemporaryFiles() {
    for (const fs::path& file : attachmentFiles_) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
    attachmentFiles_.clear();
    attachmentList_.clear();
    attachmentNames_.clear();
}

void USave_to_PST_Format::CheckStoreSize() {
    const std::uint64_t size = bridge_->storeFileSize();
    if (size <= options_.storeSizeLimit) return;
    SwitchStore();
}

// The item that passed the limit stays in the part it was written to; the
// next one goes into a new part next to the first, named "<first> (part n)",
// with the current folder prepared there again.
void USave_to_PST_Format::SwitchStore() {
    // The current folder by its place below the root, so that it comes back
    // as the same folder (a same-named sibling stays itself).
    const std::string below = currentFolderPath_.size() > storeRootPath_.size()
                                  ? currentFolderPath_.substr(storeRootPath_.size())
                                  : std::string();
    const bool hadFolder = !currentSourceFolder_.empty();
    const std::string folderClass = currentFolderClass_;
    storeSwitched_ = true;
    ApplyFolderLinks();
    bridge_->Finish();
    bridge_.reset();
    if (!options_.publishAfterCheck) ThrowIfNotPublished(PublishPart(outputStores_.size() - 1));
    const fs::path first = outputStores_.front();
    std::unique_ptr<pst::ReservedOutputFile> next =
        ReserveOutputPath(StorePartPath(first, static_cast<int>(outputStores_.size()) + 1), true);
    const std::string nextPartial = next->path().string();
    OpenStoreFile(nextPartial.substr(0, nextPartial.size() - kPartialSuffix.size()), std::move(next));
    storeSwitched_ = false;
    if (!hadFolder) return;
    currentFolderPath_ = storeRootPath_ + below;
    if (!below.empty()) bridge_->CreateFolder(currentFolderPath_, folderClass);
    ApplyKeptFolderProperties();
}

void USave_to_PST_Format::SaveContact(const ItemRecord& item) { WriteContact(item, false); }

bool USave_to_PST_Format::SaveAssociated(const ItemRecord& item, StoreFile& store, std::string_view folderPath) {
    return SaveAssociatedAt(item, store, ToOutputFolderPath(folderPath, storeRootPath_));
}

bool USave_to_PST_Format::SaveAssociatedInFolder(const ItemRecord& item, StoreFile& store,
                                                 const OutputFolderLevels& levels) {
    return SaveAssociatedAt(item, store, EncodeOutputFolderPath(storeRootPath_, levels));
}

bool USave_to_PST_Format::SaveAssociatedAt(const ItemRecord& item, StoreFile& store, const std::string& folder) {
    if (!bridge_) throw std::logic_error("SaveAssociated before CreateOutputStore");
    if (item.sourceNode == nullptr) return false;
    std::optional<pst::Message> copy = CopySourceMessage(store, *item.sourceNode, &unnamedValues_);
    if (!copy) return false;
    bridge_->AddAssociatedItem(folder, *copy);
    ++itemsWritten_;
    CheckStoreSize();
    return true;
}

bool USave_to_PST_Format::SaveCopy(const ItemRecord& item, StoreFile& store, const std::string& folder,
                                   std::string_view containerClass) {
    if (item.sourceNode == nullptr) return false;
    std::optional<pst::Message> copy = CopySourceMessage(store, *item.sourceNode, &unnamedValues_);
    if (!copy) return false;
    if (!options_.damagedCategory.empty() && store.contentDamage != nullptr && !store.contentDamage->empty())
        AddCategory(copy->properties, options_.damagedCategory);
    bridge_->AddItem(folder, *copy, containerClass);
    ++itemsWritten_;
    return true;
}

void USave_to_PST_Format::SaveContact(ItemRecord& item, StoreFile& store) {
    if (bridge_ && SaveCopy(item, store, currentFolderPath_, "IPF.Contact")) return;
    ReadLeftOutParts(store, item);
    WithAttachmentFiles(item, store, [&](bool withAttachments) { WriteContact(item, withAttachments); });
}

void USave_to_PST_Format::WithAttachmentFiles(ItemRecord& item, StoreFile& store,
                                              const std::function<void(bool)>& write) {
    SaveAttachmentsToTemp(item, store);
    try {
        write(!attachmentFiles_.empty());
    } catch (...) {
        RemoveTemporaryFiles();
        throw;
    }
    RemoveTemporaryFiles();
    ++itemsWritten_;
}

void USave_to_PST_Format::WriteContact(const ItemRecord& item, bool withAttachments) {
    ContactSession session;
    session.Logon("", "", "", "", "", "");
    const std::optional<ContactFolder> folder = session.GetFolderFromPath(currentFolderPath_);
    if (!folder) throw std::runtime_error("no folder " + currentFolderPath_ + " for a contact");
    ContactItem contact = folder->Items().Add(kContactItemKind);
    const auto put = [&contact](std::uint32_t dispid, const std::string& text) {
        if (!text.empty()) contact.Put(dispid, text);
    };
    const ContactFields* c = item.contactFields.get();
    const auto putAll = [&](std::span<const ContactPut> rows) {
        if (c == nullptr) return;
        for (const ContactPut& row : rows) {
            if (row.dispid == d::kCustomerId && c->gender != 0)
                contact.Put(d::kGender, static_cast<std::int32_t>(c->gender));
            put(row.dispid, c->*row.member);
        }
    };
    put(d::kSubject, SubjectOf(item.messageFields.get()));
    putAll(kContactPutsBeforeName);
    put(d::kFullName, item.displayName);
    putAll(kContactPutsBeforeBody);
    if (item.messageFields) put(d::kBody, PlainBodyText(*item.messageFields));
    putAll(kContactPutsAfterBody);
    if (withAttachments) contact.AttachFiles(attachmentList_, attachmentNames_);
    contact.Save();
}

void USave_to_PST_Format::SaveAppointment(const ItemRecord& item) { WriteAppointment(item, false); }

void USave_to_PST_Format::SaveAppointment(ItemRecord& item, StoreFile& store) {
    if (!bridge_) throw std::logic_error("SaveAppointment before CreateOutputStore");
    if (SaveCopy(item, store, currentFolderPath_, "IPF.Appointment")) return;
    ReadLeftOutParts(store, item);
    WithAttachmentFiles(item, store, [&](bool withAttachments) { WriteAppointment(item, withAttachments); });
}

void USave_to_PST_Format::WriteAppointment(const ItemRecord& item, bool withAttachments) {
    if (!bridge_) throw std::logic_error("SaveAppointment before CreateOutputStore");
    const MessageFields* fields = item.messageFields.get();
    const AppointmentFields* appointment = item.appointmentFields.get();
    // The meeting's own times; the clip times where it has none (for a
    // series they span its whole range).
    const auto timeOf = [&](const Bytes& whole, const Bytes& clip) {
        std::string text = DateTimeText(whole);
        return text.empty() ? DateTimeText(clip) : text;
    };
    const std::string start = appointment != nullptr ? timeOf(appointment->startWhole, appointment->clipStart) : "";
    const std::string end = appointment != nullptr ? timeOf(appointment->endWhole, appointment->clipEnd) : "";
    std::string topic = SubjectOf(fields);
    if (topic.empty() && fields != nullptr) topic = fields->conversationTopic;
    bridge_->AddAppointment(currentFolderPath_, topic, fields != nullptr ? PlainBodyText(*fields) : std::string(),
                            start, end, appointment != nullptr ? appointment->location : std::string(),
                            withAttachments ? std::optional<std::string>(attachmentList_) : std::nullopt,
                            withAttachments ? std::optional<std::string>(attachmentNames_) : std::nullopt, &item);
}

void USave_to_PST_Format::SaveTask(const ItemRecord& item) { WriteTask(item, false); }

void USave_to_PST_Format::SaveTask(ItemRecord& item, StoreFile& store) {
    if (!bridge_) throw std::logic_error("SaveTask before CreateOutputStore");
    if (SaveCopy(item, store, currentFolderPath_, "IPF.Task")) return;
    ReadLeftOutParts(store, item);
    WithAttachmentFiles(item, store, [&](bool withAttachments) { WriteTask(item, withAttachments); });
}

void USave_to_PST_Format::WriteTask(const ItemRecord& item, bool withAttachments) {
    if (!bridge_) throw std::logic_error("SaveTask before CreateOutputStore");
    const MessageFields& fields = FieldsOf(item);
    // The task's own due date when it has its state; otherwise, as before,
    // the delivery time stands for it.
    const std::string due = item.taskFields ? DateTimeText(item.taskFields->dueDate) : DateTimeText(fields.deliveryTime);
    bridge_->AddTask(currentFolderPath_, PlainBodyText(fields), fields.mhsCommonName, SubjectOf(&fields), due, &item,
                     withAttachments ? std::optional<std::string>(attachmentList_) : std::nullopt,
                     withAttachments ? std::optional<std::string>(attachmentNames_) : std::nullopt);
}

void USave_to_PST_Format::SaveNote(const ItemRecord& item) { WriteNote(item, false); }

void USave_to_PST_Format::SaveNote(ItemRecord& item, StoreFile& store) {
    if (!bridge_) throw std::logic_error("SaveNote before CreateOutputStore");
    if (SaveCopy(item, store, currentFolderPath_, "IPF.StickyNote")) return;
    ReadLeftOutParts(store, item);
    WithAttachmentFiles(item, store, [&](bool withAttachments) { WriteNote(item, withAttachments); });
}

void USave_to_PST_Format::WriteNote(const ItemRecord& item, bool withAttachments) {
    if (!bridge_) throw std::logic_error("SaveNote before CreateOutputStore");
    const MessageFields& fields = FieldsOf(item);
    const std::string when = ItemDateTimeText(fields);
    bridge_->AddNote(currentFolderPath_, SubjectOf(&fields), PlainBodyText(fields), when, item.messageClass,
                     withAttachments ? std::optional<std::string>(attachmentList_) : std::nullopt,
                     withAttachments ? std::optional<std::string>(attachmentNames_) : std::nullopt);
}

void USave_to_PST_Format::SaveJournal(const ItemRecord& item) { WriteJournal(item, false); }

void USave_to_PST_Format::SaveJournal(ItemRecord& item, StoreFile& store) {
    if (!bridge_) throw std::logic_error("SaveJournal before CreateOutputStore");
    if (SaveCopy(item, store, currentFolderPath_, "IPF.Journal")) return;
    ReadLeftOutParts(store, item);
    WithAttachmentFiles(item, store, [&](bool withAttachments) { WriteJournal(item, withAttachments); });
}

void USave_to_PST_Format::WriteJournal(const ItemRecord& item, bool withAttachments) {
    if (!bridge_) throw std::logic_error("SaveJournal before CreateOutputStore");
    const MessageFields& fields = FieldsOf(item);
    const std::string when = ItemDateTimeText(fields);
    bridge_->AddJournal(currentFolderPath_, SubjectOf(&fields), PlainBodyText(fields), when,
                        item.journalFields ? item.journalFields->logType : std::string(), item.messageClass,
                        withAttachments ? std::optional<std::string>(attachmentList_) : std::nullopt,
                        withAttachments ? std::optional<std::string>(attachmentNames_) : std::nullopt);
}

void USave_to_PST_Format::Finish() {
    if (!bridge_) return;
    RemoveTemporaryFiles();
    ApplyFolderLinks();
    bridge_->Finish();
    bridge_.reset();
    if (options_.publishAfterCheck) return;
    for (std::size_t i = 0; i < parts_.size(); ++i)
        if (parts_[i]) ThrowIfNotPublished(PublishPart(i));
}

void USave_to_PST_Format::ThrowIfNotPublished(const std::string& failure) {
    if (!failure.empty()) throw pst::OutputWriteError(failure);
}

}  // namespace bm
