#include "store/layout.h"

namespace bm {

// clang-format off
const StoreLayout kAnsiLayout{
    LayoutKind::Ansi, "ANSI", true, 4,
    HeaderFields{188, 196, 461, 512, 168, 172, 176, 200, 460, kNoField, 471, 0},
    PageFields{512, 516, 516, 508, 500, 496, 497, 498, 1, false, 499, 500, 502, 504},
    InnerEntryFields{12, 0, 8},
    BlockEntryFields{12, 0, 4, 8, kNoField, 10, 42},
    NodeEntryFields{16, 0, 4, 8, 12, 31},
    BlockTrailerFields{64, 12, 0, 8, 4, false, 8192},
    InternalBlockFields{8, 4, 12, 8},
    MapFields{0x4400, 64, 496 * 8, 4, 8, 128, 496, 128 * 64, 496 * 64, kNoField, true},
};

const StoreLayout kUnicodeLayout{
    LayoutKind::Unicode, "Unicode", true, 8,
    HeaderFields{224, 240, 513, 564, 184, 192, 200, 248, 512, 524, 471, 516},
    PageFields{512, 1032, 1040, 500, 496, 488, 489, 490, 1, false, 491, 496, 498, 504},
    InnerEntryFields{24, 0, 16},
    BlockEntryFields{24, 0, 8, 16, kNoField, 18, 42},
    NodeEntryFields{32, 0, 8, 16, 24, 31},
    BlockTrailerFields{64, 16, 0, 4, 8, false, 8192},
    InternalBlockFields{8, 8, 24, 16},
    MapFields{0x4400, 64, 496 * 8, 0, 8, 128, 496, 128 * 64, 496 * 64, 0x4200, true},
};

// Pages of 4096 bytes: entries from offset 0, the footer (cEnt u16 at 4056,
// cEntMax u16 at 4058, cbEnt at 4060, cLevel at 4061) and the 24-byte
// trailer at 4072. The fixed read lengths reach as far past the page as
// the Unicode ones do. Entry limits are the page's capacity. Blocks hold up
// to 64 KiB.
const StoreLayout kUnicode4kLayout{
    LayoutKind::Unicode4k, "Unicode 4K", true, 8,
    HeaderFields{224, 240, 513, 564, 184, 192, 200, 248, 512, 524, 471, 516},
    PageFields{4096, 4096 + 520, 4096 + 528, 4076, 4072, 4056, 4058, 4060, 2, true, 4061, 4072, 4074, 4080},
    InnerEntryFields{24, 0, 16},
    BlockEntryFields{24, 0, 8, 16, 18, 20, 4056 / 24},
    NodeEntryFields{32, 0, 8, 16, 24, 4056 / 32},
    BlockTrailerFields{512, 24, 0, 4, 8, true, 65536},
    InternalBlockFields{8, 8, 24, 16},
    // The maps of this layout are only described as the Unicode ones: their
    // geometry here is not settled, so the checker does not compare them.
    MapFields{0x4400, 64, 496 * 8, 0, 8, 128, 496, 128 * 64, 496 * 64, 0x4200, false},
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
