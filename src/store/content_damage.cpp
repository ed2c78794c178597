#include "store/content_damage.h"

#include <algorithm>
#include <array>
#include <utility>

#include "store/store_file.h"

namespace bm {

namespace {

constexpr std::size_t kFaultKinds = 5;

std::string FaultText(BlockFault fault, std::size_t n) {
    const std::string blocks = std::to_string(n) + (n == 1 ? " block" : " blocks");
    switch (fault) {
    case BlockFault::ChecksumFailed: return blocks + (n == 1 ? " failed its checksum" : " failed their checksums");
    case BlockFault::Missing: return blocks + " missing";
    case BlockFault::Unreadable: return blocks + " unreadable";
    case BlockFault::NotInflated: return blocks + " failed to inflate";
    case BlockFault::TreeCut: return "cut short";
    }
    return blocks + " damaged";
}

}  // namespace

void ContentDamage::Clear() {
    notes_.clear();
    lost_.clear();
    part_.clear();
}

void ContentDamage::Note(BlockFault fault, std::uint64_t key) {
    for (NoteEntry& n : notes_) {
        if (n.fault != fault || n.key != key) continue;
        if (n.part.empty()) n.part = part_;
        return;
    }
    notes_.push_back(NoteEntry{part_, fault, key});
}

void ContentDamage::Line(std::string what) {
    if (std::find(lost_.begin(), lost_.end(), what) == lost_.end()) lost_.push_back(std::move(what));
}

std::vector<std::string> ContentDamage::Describe() const {
    std::vector<std::string> parts;
    std::vector<std::array<std::size_t, kFaultKinds>> counts;
    for (const NoteEntry& n : notes_) {
        const std::string& name = n.part.empty() ? std::string("message") : n.part;
        auto at = std::find(parts.begin(), parts.end(), name);
        if (at == parts.end()) {
            parts.push_back(name);
            counts.emplace_back();
            at = parts.end() - 1;
        }
        ++counts[static_cast<std::size_t>(at - parts.begin())][static_cast<std::size_t>(n.fault)];
    }
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string line = parts[i] + ":";
        const char* sep = " ";
        for (std::size_t k = 0; k < kFaultKinds; ++k) {
            if (counts[i][k] == 0) continue;
            line += sep + FaultText(static_cast<BlockFault>(k), counts[i][k]);
            sep = ", ";
        }
        lines.push_back(std::move(line));
    }
    lines.insert(lines.end(), lost_.begin(), lost_.end());
    return lines;
}

ContentPart::ContentPart(StoreFile& store, std::string_view part) : damage_(store.contentDamage) {
    if (damage_ == nullptr) return;
    outer_ = std::exchange(damage_->part_, std::string(part));
}

ContentPart::~ContentPart() {
    if (damage_ != nullptr) damage_->part_ = std::move(outer_);
}

void NoteBlockFault(StoreFile& store, BlockFault fault, std::uint64_t key) {
    if (store.contentDamage != nullptr) store.contentDamage->Note(fault, key);
}

void NoteDamageLine(StoreFile& store, std::string what) {
    if (store.contentDamage != nullptr) store.contentDamage->Line(std::move(what));
}

std::string CurrentContentPart(const StoreFile& store) {
    return store.contentDamage != nullptr ? store.contentDamage->part() : std::string();
}

}  // namespace bm
