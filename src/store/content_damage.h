// What went wrong in the blocks one item's content came from.
//
// A run that wants to know which items it saves with damaged content gives
// the store an account (StoreFile::contentDamage) while it reads and writes
// one item; the block reads, the subnode lists and the item copy note in it
// every block of that item that failed its checksum, was missing, could not
// be read or inflated, and every part that could not be parsed and was lost.
// Each note goes to the part being read (a ContentPart names it: "body",
// "recipients", "attachment 'x.pdf'"), the innermost one when parts nest.
//
// A block read twice (once to sort the item, once to copy it) is noted once;
// a note made before any part was named takes the part of a later note of
// the same block. Nothing is noted while no account is given, and a sound
// item leaves the account empty, so keeping it costs a pointer test per
// block read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bm {

struct StoreFile;

// What is said of an item whose index entry is in doubt
// (NodeEntry::indexEntryDoubtful).
inline constexpr std::string_view kDoubtfulEntryLine =
    "index entry: in doubt (its index page failed its checksum, or the scan found other versions of it)";
// The part of an item that its subnode list stands for.
inline constexpr std::string_view kSubnodesPart = "recipients and attachments";

enum class BlockFault : std::uint8_t {
    ChecksumFailed,  // the block trailer's CRC differs from the data
    Missing,         // the BID is not in the block table
    Unreadable,      // the block reads short (past the end of the file)
    NotInflated,     // a compressed block that fails to inflate
    TreeCut,         // a data tree or subnode list that could not be followed whole
};

class ContentDamage {
public:
    // Forgets what was noted (a new item begins).
    void Clear();
    bool empty() const { return notes_.empty() && lost_.empty(); }

    // A block fault of the block `key` (its BID, or its offset when the
    // BID is unknown) in the current part.
    void Note(BlockFault fault, std::uint64_t key);
    // What a block fault does not say: a part that could not be kept at
    // all ("attachment 'x.pdf' lost"), or why the item's content is in
    // doubt ("index entry: ..."). Each line once.
    void Line(std::string what);

    // One line per damaged part, in the order first noted:
    // "body: 1 block failed its checksum", "attachment 'x.pdf' lost".
    std::vector<std::string> Describe() const;

    // The part being read; "" when none is named ("message" in Describe).
    const std::string& part() const { return part_; }

    // Set by a run that acts on the account before the item is written
    // (it marks the item): data the writer would read only while writing
    // is read once ahead, so that its faults are noted in time.
    bool completeBeforeWrite = false;

private:
    friend class ContentPart;
    struct NoteEntry {
        std::string part;
        BlockFault fault;
        std::uint64_t key;
    };
    std::vector<NoteEntry> notes_;
    std::vector<std::string> lost_;
    std::string part_;
};

// Names the part being read for as long as it lives; nothing when the
// store keeps no account. A nested part replaces the outer one until it
// ends; a caller that wants both names composes them.
class ContentPart {
public:
    ContentPart(StoreFile& store, std::string_view part);
    ~ContentPart();
    ContentPart(const ContentPart&) = delete;
    ContentPart& operator=(const ContentPart&) = delete;

private:
    ContentDamage* damage_;
    std::string outer_;
};

// Notes into the store's account, when it keeps one.
void NoteBlockFault(StoreFile& store, BlockFault fault, std::uint64_t key);
void NoteDamageLine(StoreFile& store, std::string what);
// The current part of the store's account ("" without one).
std::string CurrentContentPart(const StoreFile& store);

}  // namespace bm
