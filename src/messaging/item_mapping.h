// Mapping property lists onto an ItemRecord.
//
// Every property the mapping knows fills its one member, whatever kind of
// object it comes from; the others are ignored. Named properties arrive
// with their LIDs (or id 2 and a name), so they are matched by LID alone,
// whatever their property set; a LID never stands for the property tag of
// the same number.
//
// Text: UTF-16LE values (PT_UNICODE) become UTF-8; 8-bit values (PT_STRING8)
// are converted from the object's code page (PR_INTERNET_CPID, else
// PR_MESSAGE_CODEPAGE, else Windows-1252). Other values mapped to a text
// member are read as the store's own string form: 8-bit in an ANSI store,
// UTF-16LE in a Unicode store.
//
// Attachments: MapProperties walks the attachment records in step with the
// chunks of the attachment table (the cursor starts at
// ItemRecord::currentAttachment and moves on at the first attachment
// property of each later chunk).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "messaging/item_record.h"
#include "messaging/property_context.h"
#include "messaging/rtf_workspace.h"
#include "store/store_reader.h"

namespace bm {

struct MappingContext {
    std::uint32_t formatVersion = 0;      // the store's wVer
    const StoreReader* reader = nullptr;  // its stop request ends a mapping
    RtfWorkspace* rtf = nullptr;          // nullptr: RtfWorkspace::Shared()
    bool bodies = true;                   // false: the body properties are passed over
};

// Fills the record from every chunk of the list, head first. 0, or -1 when
// no record (or no list) is given. A stop request seen while an RTF body is
// turned into text ends the mapping with 0 and a partly filled record.
int MapProperties(const PropertyList* list, ItemRecord* record, const MappingContext& ctx);

// UTF-16LE text as UTF-8 (up to the first NUL); empty for no bytes.
std::string NarrowUtf16(std::span<const std::uint8_t> bytes);

bool IsAnsiVersion(std::uint32_t formatVersion);
bool IsUnicodeVersion(std::uint32_t formatVersion);

// A value as text by its type and the store's string form; nullopt when the
// store's version is neither ANSI nor Unicode and the type does not say.
std::optional<std::string> ValueText(const PropertyValue& value, std::uint32_t formatVersion, std::uint32_t codePage);

// Compares pattern and text ignoring (ASCII) case, up to `limit` characters
// and one more; 0 on a match, including a text that ends first. See the
// classification rules for the consequences.
int MatchClassPrefix(std::string_view pattern, std::string_view text, std::size_t limit);
// 0 when the whole strings are equal ignoring case.
int EqualsNoCase(std::string_view pattern, std::string_view text);

ItemKind ClassifyMessage(std::string_view messageClass);
ItemKind ClassifyFolder(std::string_view containerClass);

}  // namespace bm
