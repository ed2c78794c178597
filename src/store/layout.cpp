#include "store/layout.h"

namespace bm {

// clang-format off
const StoreLayout kAnsiLayout{
    LayoutKind::Ansi, "ANSI", true, 4,
    HeaderFields{188, 196, 461},
    PageFields{512, 516, 516, 508, 500, 496, 497, 498, 1, false},
    InnerEntryFields{12, 0, 8},
    BlockEntryFields{12, 0, 4, 8, kNoField, 10, 42},
    NodeEntryFields{16, 0, 4, 8, 12, 31},
    BlockTrailerFields{64, 12, 0, 8, 4, false},
    InternalBlockFields{8, 4, 12, 8},
};

const StoreLayout kUnicodeLayout{
    LayoutKind::Unicode, "Unicode", true, 8,
    HeaderFields{224, 240, 513},
    PageFields{512, 1032, 1040, 500, 496, 488, 489, 490, 1, false},
    InnerEntryFields{24, 0, 16},
    BlockEntryFields{24, 0, 8, 16, kNoField, 18, 42},
    NodeEntryFields{32, 0, 8, 16, 24, 31},
    BlockTrailerFields{64, 16, 0, 4, 8, false},
    InternalBlockFields{8, 8, 24, 16},
};

// Pages of 4096 bytes: entries from offset 0, the footer (cEnt u16 at 4056,
// cEntMax u16 at 4058, cbEnt at 4060, cLevel at 4061) and the 24-byte
// trailer at 4072. The fixed read lengths reach as far past the page as
// the Unicode ones do. Entry limits are the page's capacity.
const StoreLayout kUnicode4kLayout{
    LayoutKind::Unicode4k, "Unicode 4K", true, 8,
    HeaderFields{224, 240, 513},
    PageFields{4096, 4096 + 520, 4096 + 528, 4076, 4072, 4056, 4058, 4060, 2, true},
    InnerEntryFields{24, 0, 16},
    BlockEntryFields{24, 0, 8, 16, 18, 20, 4056 / 24},
    NodeEntryFields{32, 0, 8, 16, 24, 4056 / 32},
    BlockTrailerFields{512, 24, 0, 4, 8, true},
    InternalBlockFields{8, 8, 24, 16},
};
// clang-format on

const StoreLayout* LayoutForVersion(std::uint32_t formatVersion) {
    switch (formatVersion) {
        case 14:
        case 15: return &kAnsiLayout;
        case 23: return &kUnicodeLayout;
        case 36: return &kUnicode4kLayout;
        default: return nullptr;
    }
}

}  // namespace bm
