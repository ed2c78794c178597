// Where RTF bodies are turned into text: the decompressed RTF of the body
// being mapped and the shared RTF text buffer. Both live in memory only, so
// no file is ever written for a body (nothing a planted link could redirect,
// nothing left behind). One process-wide workspace; a mapping that
// decompresses an RTF body holds its lock until it has read the text back,
// so mappings on two threads never see each other's body.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace bm {

class RtfWorkspace {
public:
    static RtfWorkspace& Shared();

    // Guards the RTF bytes and the text buffer.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }
    // Use only while holding Lock() (or from the only thread that maps).
    // The RTF last decompressed, replaced by the next RTF body.
    std::vector<std::uint8_t>& rtfBytes() { return rtf_; }
    std::string& textBuffer() { return text_; }

private:
    std::mutex mutex_;
    std::vector<std::uint8_t> rtf_;
    std::string text_;
};

}  // namespace bm
