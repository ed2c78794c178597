#include "engine/attachment_access.h"

#include <utility>

#include "engine/deep_recovery.h"
#include "engine/mail_subtree.h"
#include "messaging/item_reader.h"
#include "messaging/item_record.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/tables.h"

namespace bm {

namespace fs = std::filesystem;

namespace {

AttachmentListing ListingOf(const AttachmentRecord& a) { return {AttachmentShownName(a), AttachmentShownSize(a)}; }

}  // namespace

AttachmentAccess::AttachmentAccess(fs::path storePath, bool deepScan, bool recoverDeleted)
    : storePath_(std::move(storePath)), deepScan_(deepScan), recoverDeleted_(recoverDeleted) {}

AttachmentAccess::~AttachmentAccess() { Release(); }

void AttachmentAccess::Release() {
    if (store_) ReleaseStore(*store_);
    store_.reset();
    reader_.reset();
    open_ = false;
}

bool AttachmentAccess::OpenStore() {
    if (open_) return true;
    Release();
    store_ = std::make_unique<StoreFile>();
    reader_ = std::make_unique<StoreReader>();
    MailSubtreeOptions options;
    options.deepScan = deepScan_;
    options.recoverDeleted = recoverDeleted_;
    const MailSubtree subtree = OpenMailSubtree(*store_, storePath_, *reader_, {}, options);
    if (subtree.status == MailSubtreeStatus::OpenFailed) {
        Release();
        return false;
    }
    open_ = true;
    return true;
}

std::unique_ptr<ItemRecord> AttachmentAccess::Read(std::uint32_t nid) {
    if (!OpenStore()) return nullptr;
    const NodeEntry* node = FindNode(*store_, nid);
    // An item deep recovery brought back has a record of its own.
    if (node == nullptr) node = FindRecoveredRecord(*store_, nid);
    if (node == nullptr) return nullptr;
    return ReadItem(*store_, *node, reader_.get(), nullptr, RecipientRows::Skip);
}

std::optional<std::vector<AttachmentListing>> AttachmentAccess::List(std::uint32_t nid) {
    const std::unique_ptr<ItemRecord> record = Read(nid);
    if (!record) return std::nullopt;
    std::vector<AttachmentListing> out;
    for (const AttachmentRecord& a : record->attachments) out.push_back(ListingOf(a));
    return out;
}

std::optional<AttachmentAccess::Opened> AttachmentAccess::Open(std::uint32_t nid, std::size_t index) {
    std::unique_ptr<ItemRecord> record = Read(nid);
    if (!record || index >= record->attachments.size()) return std::nullopt;
    return Opened(*store_, std::move(record), index);
}

AttachmentAccess::Opened::Opened(StoreFile& store, std::unique_ptr<ItemRecord> record, std::size_t index)
    : store_(&store), record_(std::move(record)), index_(index), listing_(ListingOf(record_->attachments[index])) {}

AttachmentAccess::Opened::Opened(Opened&&) noexcept = default;
AttachmentAccess::Opened::~Opened() = default;

bool AttachmentAccess::Opened::Stream(const AttachmentSink& sink) {
    AttachmentRecord& attachment = record_->attachments[index_];
    const std::int64_t expected = attachment.size;
    bool sinkTookAll = true;
    std::int64_t handed = 0;
    StreamAttachmentData(*store_, attachment, [&](std::span<const std::uint8_t> bytes) {
        sinkTookAll = sink(bytes);
        if (sinkTookAll) handed += static_cast<std::int64_t>(bytes.size());
        return sinkTookAll;
    });
    // Data the store no longer holds is no saved attachment.
    return sinkTookAll && (handed > 0 || expected <= 0);
}

}  // namespace bm
