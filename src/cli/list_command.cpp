// brightmend-cli list: every folder and every item of a store, streamed to
// stdout as they are read, so memory stays flat for any store size.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json_output.h"
#include "engine/analysis_run.h"
#include "engine/saving_selection.h"
#include "engine/store_listing.h"
#include "store/nid_types.h"
#include "store/store_file.h"

namespace bm::cli {

namespace {

OrderedJson TimeJson(const Bytes& filetime) {
    const auto iso = FileTimeToIso(filetime);
    return iso ? OrderedJson(*iso) : OrderedJson(nullptr);
}

OrderedJson ItemJson(std::uint32_t nid, const ItemRecord& r) {
    OrderedJson item;
    item["nid"] = nid;
    item["messageClass"] = r.messageClass;
    const MessageFields* m = r.messageFields.get();
    const auto text = [&](const std::string MessageFields::*member) {
        return m != nullptr ? OrderedJson(m->*member) : OrderedJson(nullptr);
    };
    item["subject"] = m != nullptr && m->subject ? OrderedJson(m->subject->text) : OrderedJson(nullptr);
    item["senderName"] = text(&MessageFields::sentRepresentingName);
    item["senderAddress"] = text(&MessageFields::sentRepresentingAddress);
    item["displayTo"] = text(&MessageFields::displayTo);
    item["displayCc"] = text(&MessageFields::displayCc);
    item["deliveryTime"] = m != nullptr ? TimeJson(m->deliveryTime) : OrderedJson(nullptr);
    item["submitTime"] = m != nullptr ? TimeJson(m->submitTime) : OrderedJson(nullptr);
    item["bodyLength"] = m != nullptr ? std::max(m->body.size(), m->bodyText.size()) : 0;
    item["hasHtml"] = m != nullptr && !m->htmlBody.empty();
    item["hasRtf"] = m != nullptr && m->rtfFlag == 1;
    OrderedJson attachments = OrderedJson::array();
    for (const AttachmentRecord& a : r.attachments)
        attachments.push_back(OrderedJson{{"name", AttachmentShownName(a)}, {"size", AttachmentShownSize(a)}});
    item["attachments"] = std::move(attachments);
    if (IsAssociatedMessageNid(nid)) item["associated"] = true;
    if (r.incomplete) item["incomplete"] = true;
    return item;
}

// Writes the listing as it comes: JSON in pieces, or indented text.
class ListPrinter : public StoreListingVisitor {
public:
    ListPrinter(bool json, const std::string& store, ProgressReporter& progress)
        : json_(json), store_(store), progress_(progress) {}

    void OnStoreOpened(std::uint32_t formatVersion) override {
        formatVersion_ = formatVersion;
        OpenDocument();
    }

    void OnFolderBegin(const ListedFolder& folder) override {
        ++folders_;
        firstItem_ = true;
        folderAssociated_ = 0;
        if (json_) {
            OrderedJson head{{"path", folder.path}, {"nid", folder.nid}, {"containerClass", folder.containerClass}};
            if (folder.recordLost) head["recordLost"] = true;
            std::string text = DumpJson(head);
            text.pop_back();  // reopen the object for its items
            std::printf("%s%s,\"items\":[", firstFolder_ ? "" : ",", text.c_str());
            firstFolder_ = false;
        } else {
            std::printf("%s  (nid 0x%x, %s%s)\n", EscapeForTerminal(folder.path).c_str(), folder.nid,
                        folder.containerClass.empty() ? "no class" : EscapeForTerminal(folder.containerClass).c_str(),
                        folder.recordLost ? ", its own record lost" : "");
        }
    }

    void OnItem(std::uint32_t nid, const ItemRecord& record) override {
        ++items_;
        if (IsAssociatedMessageNid(nid)) {
            ++associated_;
            ++folderAssociated_;
        }
        attachments_ += record.attachments.size();
        progress_.Update(static_cast<std::int64_t>(items_));
        if (json_) {
            std::printf("%s%s", firstItem_ ? "" : ",", DumpJson(ItemJson(nid, record)).c_str());
        } else {
            const MessageFields* m = record.messageFields.get();
            const auto when = m != nullptr ? FileTimeToIso(m->deliveryTime) : std::nullopt;
            std::printf("  0x%x  %s  %s  %s", nid, EscapeForTerminal(record.messageClass).c_str(),
                        when ? when->c_str() : "-",
                        m != nullptr && m->subject ? EscapeForTerminal(m->subject->text).c_str() : "");
            if (!record.attachments.empty())
                std::printf("  [%s]", CountOf(record.attachments.size(), "attachment").c_str());
            if (IsAssociatedMessageNid(nid)) std::printf("  [associated]");
            if (record.incomplete) std::printf("  [incomplete: its recipients and attachments are lost]");
            std::printf("\n");
        }
        firstItem_ = false;
    }

    void OnUnreadableItem(std::uint32_t nid) override {
        ++unreadable_;
        if (json_) {
            std::printf("%s{\"nid\":%u,\"unreadable\":true}", firstItem_ ? "" : ",", nid);
            firstItem_ = false;
        } else {
            std::printf("  0x%x  (cannot be read)\n", nid);
        }
    }

    void OnFolderEnd(const ListedFolder&) override {
        if (json_) std::printf("],\"associatedCount\":%zu}", folderAssociated_);
    }

    std::size_t unreadable() const { return unreadable_; }

    void Close(const char* outcome, const std::string& message = {}) {
        OpenDocument();
        if (json_) {
            const OrderedJson summary{{"folders", folders_},
                                      {"items", items_},
                                      {"attachments", attachments_},
                                      {"unreadableItems", unreadable_},
                                      {"associatedCount", associated_}};
            std::printf("],\"summary\":%s,\"outcome\":\"%s\",\"message\":%s}\n", DumpJson(summary).c_str(),
                        outcome, DumpJson(OrderedJson(message)).c_str());
        } else {
            std::printf("\n%s, %s, %s", CountOf(folders_, "folder").c_str(), CountOf(items_, "item").c_str(),
                        CountOf(attachments_, "attachment").c_str());
            if (associated_ > 0) std::printf(" (%zu of the items associated: views, rules, settings)", associated_);
            if (unreadable_ > 0) std::printf(", %s that cannot be read", CountOf(unreadable_, "item").c_str());
            std::printf("\n");
        }
        std::fflush(stdout);
    }

private:
    void OpenDocument() {
        if (opened_) return;
        opened_ = true;
        if (json_) {
            const OrderedJson head{
                {"schema", SchemaName("list")}, {"store", store_}, {"formatVersion", formatVersion_}};
            std::string text = DumpJson(head);
            text.pop_back();
            std::printf("%s,\"folders\":[", text.c_str());
        }
    }

    bool json_;
    std::string store_;
    ProgressReporter& progress_;
    std::uint32_t formatVersion_ = 0;
    bool opened_ = false;
    bool firstFolder_ = true;
    bool firstItem_ = true;
    std::size_t folders_ = 0;
    std::size_t items_ = 0;
    std::size_t attachments_ = 0;
    std::size_t unreadable_ = 0;
    std::size_t associated_ = 0;
    std::size_t folderAssociated_ = 0;
};

}  // namespace

int RunList(CliEnvironment& env, const std::string& store, const std::optional<std::string>& folder) {
    ProgressReporter progress(env.progressMode, "Items read");
    ListPrinter printer(env.json, store, progress);
    StoreReader reader;
    StoreListingOptions options;
    if (folder) options.folderPath = WithFinalBackslash(*folder);
    options.deepScan = env.deepScan;
    options.recoverDeleted = env.recoverDeleted;
    StoreListing listing;
    {
        InterruptStop interrupt(reader.stopAnalysis);
        listing = ListStoreContents(store, printer, reader, options);
    }
    progress.Finish();
    const auto fail = [&](const char* outcome, const std::string& message, int code) {
        printer.Close(outcome, message);
        PrintError(message);
        return code;
    };
    switch (listing.result) {
    case StoreListingResult::Listed:
        if (options.folderPath && listing.foldersListed == 0)
            return fail("failed", NoSuchFolderMessage(*options.folderPath), kExitFailure);
        printer.Close("completed");
        return printer.unreadable() > 0 ? kExitPartial : kExitSuccess;
    case StoreListingResult::Stopped:
        return fail("aborted", "Listing stopped before the end of the store",
                    InterruptStop::Received() ? kExitInterrupted : kExitFailure);
    case StoreListingResult::OpenFailed: {
        const std::optional<std::string> what = NotARegularFile(store);
        return fail("failed", what ? *what : std::string(kSourceFileInUse), kExitFailure);
    }
    case StoreListingResult::StoreUnreadable:
        return fail("failed", std::string(kFileHighlyCorrupted), kExitFailure);
    case StoreListingResult::NoRootFolder:
        return fail("failed", std::string(kCannotSearchPersonalFolder), kExitFailure);
    }
    return kExitFailure;
}

}  // namespace bm::cli
