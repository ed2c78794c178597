// The attachments of a previewed mail, read from the store on demand: their
// names and sizes for the list under the preview, and the data of one for
// saving it to a file. The store is opened the way the analysis opened it
// (deep scan, deleted items) the first time it is asked for, and kept open
// until Release: the saving run needs the file to itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bm {

struct ItemRecord;
struct StoreFile;
class StoreReader;

struct AttachmentListing {
    std::string name;       // as the mail names it (UTF-8)
    std::int64_t size = 0;  // bytes, as the attachment table gives them
};

// Takes the data piece by piece; false stops the streaming.
using AttachmentSink = std::function<bool(std::span<const std::uint8_t>)>;

class AttachmentAccess {
public:
    AttachmentAccess(std::filesystem::path storePath, bool deepScan, bool recoverDeleted = false);
    ~AttachmentAccess();
    AttachmentAccess(const AttachmentAccess&) = delete;
    AttachmentAccess& operator=(const AttachmentAccess&) = delete;

    // The attachments of the message node `nid`; nullopt when the store or
    // the node cannot be read.
    std::optional<std::vector<AttachmentListing>> List(std::uint32_t nid);

    // Attachment `index` (as List numbers them) of `nid`, read again from
    // the store; nullopt when it no longer can be.
    class Opened {
    public:
        Opened(Opened&&) noexcept;
        ~Opened();
        const AttachmentListing& listing() const { return listing_; }
        // Hands the data to `sink`; false when the sink stopped it, or when
        // the store holds none of the data the attachment table promises.
        bool Stream(const AttachmentSink& sink);

    private:
        friend class AttachmentAccess;
        Opened(StoreFile& store, std::unique_ptr<ItemRecord> record, std::size_t index);
        StoreFile* store_;
        std::unique_ptr<ItemRecord> record_;
        std::size_t index_;
        AttachmentListing listing_;
    };
    std::optional<Opened> Open(std::uint32_t nid, std::size_t index);

    // Closes the store (opened again when next asked).
    void Release();

private:
    bool OpenStore();
    std::unique_ptr<ItemRecord> Read(std::uint32_t nid);

    std::filesystem::path storePath_;
    bool deepScan_;
    bool recoverDeleted_;
    std::unique_ptr<StoreFile> store_;
    std::unique_ptr<StoreReader> reader_;
    bool open_ = false;
};

}  // namespace bm
