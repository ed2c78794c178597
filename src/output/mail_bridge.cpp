#include "output/mail_bridge.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "output/bridge_texts.h"
#include "output/item_time.h"
#include "output/pst/props_tags.h"
#include "output/source_item_properties.h"

namespace bm {
namespace {

namespace tags = pst::tags;
namespace named = pst::named;

const pst::Guid kLogPropertySet = pst::GuidFromText("0006200A-0000-0000-C000-000000000046");
const pst::NamedPropTag kLogType{kLogPropertySet, 0x8700u, pst::PropType::Unicode};
const pst::NamedPropTag kLogStart{kLogPropertySet, 0x8706u, pst::PropType::SysTime};
const pst::NamedPropTag kLogEnd{kLogPropertySet, 0x8708u, pst::PropType::SysTime};

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void SetItemTimes(pst::Message& m, std::optional<pst::FileTime> time) {
    if (!time) return;
    m.properties.SetSysTime(tags::kMessageDeliveryTime, *time);
    m.properties.SetSysTime(tags::kClientSubmitTime, *time);
    m.properties.SetSysTime(tags::kCreationTime, *time);
    m.properties.SetSysTime(tags::kLastModificationTime, *time);
}

void SetSender(pst::Message& m, const Mailbox& sender) {
    if (!sender.name.empty()) {
        m.properties.SetString(tags::kSenderName, sender.name);
        m.properties.SetString(tags::kSentRepresentingName, sender.name);
    }
    if (!sender.address.empty()) {
        m.properties.SetString(tags::kSenderEmailAddress, sender.address);
        m.properties.SetString(tags::kSenderAddrType, "SMTP");
        m.properties.SetString(tags::kSentRepresentingEmailAddress, sender.address);
        m.properties.SetString(tags::kSentRepresentingAddrType, "SMTP");
        if (sender.name.empty()) {
            m.properties.SetString(tags::kSenderName, sender.address);
            m.properties.SetString(tags::kSentRepresentingName, sender.address);
        }
    }
}

void SetRecipients(pst::Message& m, std::string_view recipients) {
    std::string displayTo;
    for (const Mailbox& box : ParseRecipients(recipients)) {
        const std::string& shown = box.name.empty() ? box.address : box.name;
        if (!displayTo.empty()) displayTo += "; ";
        displayTo += shown;
        m.AddRecipient(shown, box.address, pst::kRecipientTo);
    }
    SetTextIfAny(m.properties, tags::kDisplayTo, displayTo);
}


pst::Message NewItem(std::string_view messageClass, std::string_view subject, std::string_view body) {
    pst::Message m;
    m.properties.SetString(tags::kMessageClass, messageClass);
    m.properties.SetString(tags::kSubject, subject);
    SetTextIfAny(m.properties, tags::kBody, body);
    return m;
}

}  // namespace

void AddAttachmentFiles(pst::Message& m, const std::optional<std::string>& list,
                        const std::optional<std::string>& names) {
    if (!list) return;
    const std::vector<std::string> files = SplitFileList(*list);
    const std::vector<std::string> given = names ? SplitFileList(*names) : std::vector<std::string>{};
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].empty()) continue;
        const std::filesystem::path file(files[i]);
        const std::string name = i < given.size() && !given[i].empty() ? given[i] : file.filename().string();
        m.attachments.push_back(pst::Attachment::FromFile(name, file));
    }
}

MailBridge::~MailBridge() {
    if (store_) open_stores::Unregister(*store_);
}

void MailBridge::RequireStarted() const {
    if (!started_) throw std::logic_error("mail bridge used before Start");
}

void MailBridge::Start() { started_ = true; }

void MailBridge::CreateStore(const std::string& path, const std::string& displayName) {
    RequireStarted();
    // A name may now stand for another store: the chain starts afresh.
    chain_.clear();
    chainStore_.reset();
    if (store_ && store_->path() == std::filesystem::path(path) && !store_->finished()) {
        if (store_->touched()) {
            open_stores::Register(displayName, store_);
            return;
        }
        open_stores::Unregister(*store_);
        store_.reset();
    } else if (store_) {
        Finish();
    }
    store_ = std::make_shared<OpenOutputStore>(path, displayName);
    open_stores::Register(displayName, store_);
}

std::shared_ptr<OpenOutputStore> MailBridge::StoreOf(const OutputFolderPath& path) const {
    std::shared_ptr<OpenOutputStore> store = open_stores::Find(path.storeName);
    if (!store) throw std::invalid_argument("no open store named " + path.storeName);
    return store;
}

const OutputFolderPath& MailBridge::Split(const std::string& folderPath) {
    if (split_ && splitPath_ == folderPath) return *split_;
    std::optional<OutputFolderPath> parts = SplitOutputFolderPath(folderPath);
    if (!parts) throw std::invalid_argument("not a store folder path: " + folderPath);
    split_ = std::move(parts);
    splitPath_ = folderPath;
    return *split_;
}

std::optional<MailBridge::PlacedFolder> MailBridge::FolderFromChain(const std::string& folderPath,
                                                                    std::string_view containerClass) {
    if (!chainStore_ || chainStore_->finished()) return std::nullopt;
    const std::string_view path = folderPath;
    const std::string_view chain = chainPath_;
    const auto levelEndingAt = [this](std::size_t end) {
        const auto at = std::lower_bound(chain_.begin(), chain_.end(), end,
                                         [](const auto& level, std::size_t e) { return level.first < e; });
        return at != chain_.end() && at->first == end ? at : chain_.end();
    };
    // The path itself, or one of its parents.
    if (path.size() <= chain.size() && chain.starts_with(path)) {
        if (const auto at = levelEndingAt(path.size()); at != chain_.end()) return PlacedFolder{chainStore_.get(), at->second};
        return std::nullopt;
    }
    // A child of one of them: only its own level is looked up.
    const std::size_t cut = path.rfind('\\');
    if (cut == std::string_view::npos || cut > chain.size() || !chain.starts_with(path.substr(0, cut)))
        return std::nullopt;
    const auto parent = levelEndingAt(cut);
    if (parent == chain_.end()) return std::nullopt;
    const std::optional<OutputFolderLevel> level = DecodeOutputFolderLevelText(path.substr(cut + 1));
    if (!level || level->name.empty()) return std::nullopt;
    const pst::FolderId folder = chainStore_->EnsureChild(parent->second, level->name, level->sibling, containerClass);
    chain_.erase(parent + 1, chain_.end());
    chain_.emplace_back(path.size(), folder);
    chainPath_ = folderPath;
    return PlacedFolder{chainStore_.get(), folder};
}

MailBridge::PlacedFolder MailBridge::Folder(const std::string& folderPath, std::string_view containerClass) {
    RequireStarted();
    if (const std::optional<PlacedFolder> placed = FolderFromChain(folderPath, containerClass)) return *placed;
    const OutputFolderPath& parts = Split(folderPath);
    std::shared_ptr<OpenOutputStore> store = StoreOf(parts);
    std::vector<pst::FolderId> levels;
    const pst::FolderId folder = store->EnsureFolder(parts.folders, containerClass, parts.siblings, &levels);
    // Where each level ends in the path: at each "\" after the store's name
    // and at the end. A path with empty parts is not kept as the chain.
    chain_.clear();
    chainStore_.reset();
    std::vector<std::size_t> ends;
    for (std::size_t at = folderPath.find('\\', 2); at != std::string::npos; at = folderPath.find('\\', at + 1))
        if (at > 2) ends.push_back(at);
    ends.push_back(folderPath.size());
    if (ends.size() == levels.size() + 1 && !folderPath.ends_with('\\')) {
        for (std::size_t i = 0; i < levels.size(); ++i) chain_.emplace_back(ends[i + 1], levels[i]);
        chainStore_ = store;
        chainPath_ = folderPath;
    }
    return {store.get(), folder};
}

void MailBridge::Add(const std::string& folderPath, const pst::Message& message, std::string_view containerClass) {
    const PlacedFolder placed = Folder(folderPath, containerClass);
    placed.store->AddMessage(placed.folder, message);
}

void MailBridge::AddItem(const std::string& folderPath, const pst::Message& message, std::string_view containerClass) {
    Add(folderPath, message, containerClass);
}

void MailBridge::AddAssociatedItem(const std::string& folderPath, const pst::Message& message) {
    const PlacedFolder placed = Folder(folderPath);
    placed.store->AddAssociatedMessage(placed.folder, message);
}

void MailBridge::SetFolderProperties(const std::string& folderPath, const pst::PropertyBag& properties) {
    const PlacedFolder placed = Folder(folderPath);
    placed.store->SetFolderProperties(placed.folder, properties);
}

std::optional<pst::FolderId> MailBridge::FindFolder(const std::string& folderPath) {
    RequireStarted();
    const OutputFolderPath& parts = Split(folderPath);
    return StoreOf(parts)->FindFolder(parts.folders, parts.siblings);
}

pst::FolderId MailBridge::StoreRootFolder() const {
    if (!store_) throw std::logic_error("StoreRootFolder without a store");
    return store_->rootFolder();
}

void MailBridge::SetFolderLinks(pst::FolderId folder, std::vector<pst::PstStore::FolderLink> links) {
    if (!store_) throw std::logic_error("SetFolderLinks without a store");
    store_->SetFolderLinks(folder, std::move(links));
}

void MailBridge::CreateFolder(const std::string& folderPath, std::string_view containerClass) {
    Folder(folderPath, containerClass);
}

void MailBridge::AddMail(const std::string& folderPath, const std::string& subject, const std::string& recipients,
                         const std::string& headerFile, const std::string& dateTime,
                         const std::optional<std::string>& attachmentList, const std::optional<std::string>& body,
                         std::int16_t htmlFlag, const std::optional<std::string>& attachmentNames,
                         const std::optional<std::string>& messageClass, const ItemRecord* source) {
    pst::Message m = NewItem(messageClass && !messageClass->empty() ? *messageClass : "IPM.Note", subject, {});
    SetSender(m, ParseHeaderSender(ReadWholeFile(headerFile)));
    if (source != nullptr && !source->recipients.empty()) {
        SetRecipientRows(m, source->recipients);
    } else {
        SetRecipients(m, recipients);
    }
    if (source != nullptr) SetSourceState(m, *source);
    SetItemTimes(m, ParseItemDateTime(dateTime));
    if (body) {
        if (htmlFlag == 1) {
            m.SetHtmlBody(*body);
        } else {
            m.properties.SetString(tags::kBody, *body);
        }
    }
    AddAttachmentFiles(m, attachmentList, attachmentNames);
    Add(folderPath, m);
}

void MailBridge::AddAppointment(const std::string& folderPath, const std::string& topic, const std::string& body,
                                const std::string& start, const std::string& end, const std::string& location,
                                const std::optional<std::string>& attachmentList,
                                const std::optional<std::string>& attachmentNames, const ItemRecord* source) {
    pst::Message m = NewItem("IPM.Appointment", topic, body);
    if (source != nullptr) {
        SetRecipientRows(m, source->recipients);
        SetSourceState(m, *source);
    }
    SetTextIfAny(m.properties, tags::kConversationTopic, topic);
    const std::optional<pst::FileTime> from = ParseItemDateTime(start);
    std::optional<pst::FileTime> to = ParseItemDateTime(end);
    if (from && (!to || *to < *from)) to = from;
    if (from) {
        m.properties.SetSysTime(named::kAppointmentStartWhole, *from);
        m.properties.SetSysTime(named::kCommonStart, *from);
        m.properties.SetSysTime(named::kClipStart, *from);
        m.properties.SetSysTime(named::kAppointmentEndWhole, *to);
        m.properties.SetSysTime(named::kCommonEnd, *to);
        m.properties.SetSysTime(named::kClipEnd, *to);
        m.properties.SetInt32(named::kAppointmentDuration, static_cast<std::int32_t>((*to - *from) / 600'000'000));
    }
    if (!location.empty()) m.properties.SetString(named::kAppointmentLocation, location);
    if (source != nullptr && source->appointmentFields) SetRecurrence(m, *source->appointmentFields);
    AddAttachmentFiles(m, attachmentList, attachmentNames);
    Add(folderPath, m, "IPF.Appointment");
}

void MailBridge::AddTask(const std::optional<std::string>& folderPath, const std::string& body,
                         const std::string& secondText, const std::string& subject, const std::string& due,
                         const ItemRecord* source, const std::optional<std::string>& attachmentList,
                         const std::optional<std::string>& attachmentNames) {
    pst::Message m = NewItem("IPM.Task", subject, body);
    SetTextIfAny(m.properties, tags::kSenderName, secondText);
    if (const std::optional<pst::FileTime> when = ParseItemDateTime(due)) {
        m.properties.SetSysTime(named::kTaskDueDate, *when);
        m.properties.SetSysTime(tags::kMessageDeliveryTime, *when);
    }
    if (source != nullptr) {
        SetSourceState(m, *source);
        if (source->taskFields) SetTaskState(m, *source->taskFields);
    }
    AddAttachmentFiles(m, attachmentList, attachmentNames);
    std::string folder;
    if (folderPath && !folderPath->empty()) {
        folder = *folderPath;
    } else {
        RequireStarted();
        if (!store_) throw std::logic_error("AddTask without a store");
        folder = "\\\\" + store_->displayName() + "\\Tasks";
    }
    Add(folder, m, "IPF.Task");
}

void MailBridge::AddNote(const std::string& folderPath, const std::string& subject, const std::string& body,
                         const std::string& dateTime, const std::string& messageClass,
                         const std::optional<std::string>& attachmentList,
                         const std::optional<std::string>& attachmentNames) {
    pst::Message m = NewItem(messageClass.empty() ? "IPM.StickyNote" : messageClass, subject, body);
    SetItemTimes(m, ParseItemDateTime(dateTime));
    AddAttachmentFiles(m, attachmentList, attachmentNames);
    Add(folderPath, m, "IPF.StickyNote");
}

void MailBridge::AddJournal(const std::string& folderPath, const std::string& subject, const std::string& body,
                            const std::string& dateTime, const std::string& entryType,
                            const std::string& messageClass, const std::optional<std::string>& attachmentList,
                            const std::optional<std::string>& attachmentNames) {
    pst::Message m = NewItem(messageClass.empty() ? "IPM.Activity" : messageClass, subject, body);
    const std::optional<pst::FileTime> when = ParseItemDateTime(dateTime);
    SetItemTimes(m, when);
    if (when) {
        m.properties.SetSysTime(kLogStart, *when);
        m.properties.SetSysTime(kLogEnd, *when);
    }
    if (!entryType.empty()) m.properties.SetString(kLogType, entryType);
    AddAttachmentFiles(m, attachmentList, attachmentNames);
    Add(folderPath, m, "IPF.Journal");
}

void MailBridge::Finish() {
    RequireStarted();
    if (!store_) return;
    store_->Finish();
    open_stores::Unregister(*store_);
}

std::filesystem::path MailBridge::storePath() const { return store_ ? store_->path() : std::filesystem::path(); }

std::uint64_t MailBridge::storeFileSize() const { return store_ ? store_->FileSize() : 0; }

}  // namespace bm
