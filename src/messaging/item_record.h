// The mapped content of one folder, message or message-store object.
//
// An ItemRecord is built by ReadItem and owned by whoever asked for it; it
// owns its sub-records, attachments and buffers. A consumer may move a
// sub-record out (leaving the member empty) and keep it; ReleaseItemRecord
// drops whatever is still attached.
//
// Text members are UTF-8; an empty string means the property was absent.
// Raw members hold the value bytes as stored (FILETIMEs 8 bytes, store
// entry IDs 24 bytes); empty means absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bm {

using Bytes = std::vector<std::uint8_t>;

enum class ItemKind : std::int32_t {
    None = 0,  // an object with neither message class nor container class
    Mail = 1,
    Appointment = 8,
    Contact = 9,
    Journal = 10,
    StickyNote = 11,
    Task = 12,
    Other = 13,
    Report = 14,
};

struct SubjectParts {
    std::int32_t prefixByte0 = 0;  // the first two value bytes of a subject that
    std::int32_t prefixByte1 = 0;  // starts with the prefix marker, else 0
    std::string text;
};

struct MessageFields {
    Bytes deliveryTime;  // PR_MESSAGE_DELIVERY_TIME
    std::optional<std::uint32_t> messageFlags;  // PR_MESSAGE_FLAGS, when the item has it
    std::string bodyText;  // plain text of the RTF body, or property 0x6619
    std::string displayCc;
    Bytes htmlBody;
    std::string mhsCommonName;
    std::string sentRepresentingName;
    std::string sentRepresentingAddress;  // address type, then replaced by the address
    std::string conversationTopic;
    std::string replyRecipientNames;
    std::string inReplyToId;
    std::int32_t rtfFlag = 0;  // 1 once the RTF body was decompressed for its text
    std::string receivedByAddress;
    Bytes namedText1;  // the first two string-named properties with data
    Bytes namedText2;
    std::string body;  // PR_BODY
    Bytes submitTime;  // PR_CLIENT_SUBMIT_TIME
    std::string displayTo;
    std::unique_ptr<SubjectParts> subject;
    // What the RTF decoder met; the body is decoded in any case.
    bool rtfCrcMismatch = false;
    bool rtfTruncated = false;
    // The mail's Internet identity and importance, kept for saving.
    std::string transportHeaders;    // PR_TRANSPORT_MESSAGE_HEADERS
    std::string internetMessageId;   // PR_INTERNET_MESSAGE_ID
    std::string internetReferences;  // PR_INTERNET_REFERENCES
    std::optional<std::uint32_t> importance;  // PR_IMPORTANCE: 0 low, 1 normal, 2 high
};

struct FolderCounts {
    std::uint32_t contentCount = 0;
    std::uint32_t unreadCount = 0;
    std::uint32_t reserved = 0;  // not filled by the mapping
    std::uint8_t hasSubfolders = 0;
};

struct StoreFields {
    Bytes wastebasketEntryId;
    Bytes finderEntryId;
    Bytes ipmSubtreeEntryId;
    Bytes entryId7C07;  // the first 24 bytes of property 0x7C07
    std::uint32_t validFolderMask = 0;
};

struct JournalFields {
    std::string logType;
};

struct AppointmentFields {
    Bytes clipEnd;
    std::string location;
    Bytes clipStart;
    // The meeting's own start and end (FILETIMEs). The clip times are those
    // too for a single meeting, but span the whole range of a series.
    Bytes startWhole;  // PidLidAppointmentStartWhole
    Bytes endWhole;    // PidLidAppointmentEndWhole
    // A recurring series: the recurrence as stored, kept for saving.
    Bytes recurrence;                   // PidLidAppointmentRecur
    std::optional<bool> recurring;      // PidLidRecurring
    std::optional<std::uint32_t> recurrenceType;  // PidLidRecurrenceType
    std::string recurrencePattern;      // PidLidRecurrencePattern ("every Monday ...")
    Bytes timeZoneStruct;               // PidLidTimeZoneStruct
    std::string timeZoneDescription;    // PidLidTimeZoneDescription
    Bytes timeZoneDefinitionStart;      // PidLidAppointmentTimeZoneDefinitionStartDisplay
    Bytes timeZoneDefinitionEnd;        // PidLidAppointmentTimeZoneDefinitionEndDisplay
    Bytes timeZoneDefinitionRecur;      // PidLidAppointmentTimeZoneDefinitionRecur
    std::optional<bool> allDay;         // PidLidAppointmentSubType
};

// A task's own state, kept for saving.
struct TaskFields {
    std::optional<std::uint32_t> status;  // PidLidTaskStatus: 0 not started ... 2 complete
    std::optional<double> percentComplete;  // PidLidPercentComplete, 0.0 to 1.0
    Bytes startDate;      // PidLidTaskStartDate (FILETIME)
    Bytes dueDate;        // PidLidTaskDueDate (FILETIME)
    Bytes dateCompleted;  // PidLidTaskDateCompleted (FILETIME)
    std::optional<bool> complete;  // PidLidTaskComplete
};

// Marks an attachment whose data is held in AttachmentRecord::data.
inline constexpr std::uint64_t kAttachmentDataInRecord = std::numeric_limits<std::uint64_t>::max();

struct AttachmentRecord {
    std::string fileName;
    std::string longFileName;
    std::string displayName;  // PR_DISPLAY_NAME of the attachment object
    Bytes data;           // PR_ATTACH_DATA_BIN when read from the attachment's heap
    bool hasData = false;
    std::int32_t size = 0;     // bytes of data; set again when the data is streamed
    std::uint32_t nid = 0;     // the row's PidTagLtpRowId, then the data subnode's NID
    std::uint64_t dataBid = 0; // block of the data subnode, or kAttachmentDataInRecord; 0 when unknown
    std::int32_t attachSize = 0;  // PR_ATTACH_SIZE: the whole attachment as its store counts it
    std::int32_t method = 0;      // PR_ATTACH_METHOD (5: an embedded message)
    std::string embeddedSubject;  // an embedded message's subject, read when the attachment has no other name
};

// The name an attachment is shown by: its long file name, else its file
// name, else its display name, else the subject of the message it embeds.
inline const std::string& AttachmentShownName(const AttachmentRecord& a) {
    if (!a.longFileName.empty()) return a.longFileName;
    if (!a.fileName.empty()) return a.fileName;
    if (!a.displayName.empty()) return a.displayName;
    return a.embeddedSubject;
}

// The size an attachment is shown with: its data's when known, else the
// attachment size the store holds (an embedded message, data not yet read).
inline std::int32_t AttachmentShownSize(const AttachmentRecord& a) { return a.size > 0 ? a.size : a.attachSize; }

// One row of a message's recipient table.
struct RecipientRecord {
    std::string displayName;  // PR_DISPLAY_NAME
    std::string address;      // PR_EMAIL_ADDRESS, in the form PR_ADDRTYPE names
    std::string addressType;  // PR_ADDRTYPE ("SMTP", "EX", ...)
    std::string smtpAddress;  // PR_SMTP_ADDRESS, when the row has one
    std::uint32_t type = 1;   // PR_RECIPIENT_TYPE: 1 To, 2 Cc, 3 Bcc
};

struct ContactFields {
    std::string companyName;
    std::string generation;
    std::string email;
    std::string postalAddress;
    std::string title;
    std::string fileAs;
    std::string customerId;
    std::string mobilePhone;
    std::string hobbies;
    std::uint16_t gender = 0;
    std::string surname;
    std::string givenName;
    std::string middleName;
    std::string homePhone;
    std::string businessPhone;
    std::string businessFax;
    std::string homeFax;
    std::string language;
    std::string officeLocation;
    std::string pager;
    std::string isdnNumber;
    std::string assistantPhone;
    std::string assistant;
    std::string profession;
    std::string spouseName;
    std::string companyMainPhone;
    std::string homeCity;
    Bytes weddingAnniversary;
    Bytes birthday;
    std::string managerName;
    std::string nickname;
    std::string personalHomePage;
    std::string businessHomePage;
    std::string homeCountry;
    std::string homePostalCode;
    std::string homeState;
    std::string homeStreet;
    std::string otherCity;
    std::string otherCountry;
    std::string otherState;
    std::string otherStreet;
    std::string otherPhone;
    std::string otherAddress;
    std::string otherPostalCode;
    std::string callbackPhone;
    std::string locality;
    std::string country;
    std::string stateOrProvince;
    std::string streetAddress;
    std::string postalCode;
    std::string workAddress;
    std::string carPhone;
    std::string department;
    std::string account;
    std::string home2Phone;
    std::string lid8534Text;
    std::string telexNumber;
    std::string radioPhone;
    std::string business2Phone;
    std::string ttyTddPhone;
    std::string governmentId;
    std::string organizationalId;
    std::string lid80D8Text;
    std::string displayNamePrefix;
};

inline constexpr std::size_t kNoAttachment = std::numeric_limits<std::size_t>::max();

class NodeEntry;

struct ItemRecord {
    // The node the record was read from (it lives as long as the store's
    // tables); saving copies the item from there property by property.
    // nullptr for a record that stands for no node.
    const NodeEntry* sourceNode = nullptr;
    // A deleted item found outside the live index whose recipient and
    // attachment data is gone: what it shows is all that is left of it.
    bool incomplete = false;
    // A folder whose own record is lost: the record is made up (name and
    // counts from what else the store holds) and stands for no node.
    bool ownRecordLost = false;
    // Read without its bodies (plain, HTML, RTF and the RTF's text) and
    // without its recipient rows, which copying the item from sourceNode
    // does not need; writing it from the record needs them read first.
    bool bodiesLeftOut = false;
    std::unique_ptr<MessageFields> messageFields;
    std::unique_ptr<FolderCounts> folderCounts;
    std::unique_ptr<ContactFields> contactFields;
    // True when only the item's attachment objects filled `contactFields`
    // (an attachment's PR_LANGUAGE, say): the item itself carries no contact
    // property, so it is no contact.
    bool contactFieldsOnlyFromAttachments = false;
    // One record per attachment-table row; the first is the table's last row.
    std::vector<AttachmentRecord> attachments;
    // The rows of the recipient table, in table order. Read apart from the
    // property mapping: the rows' properties fill no other member.
    std::vector<RecipientRecord> recipients;
    // Index into `attachments` of the record being filled; the first when
    // ReadItem returns, kNoAttachment without attachments.
    std::size_t currentAttachment = kNoAttachment;
    std::unique_ptr<StoreFields> storeFields;
    std::unique_ptr<JournalFields> journalFields;
    std::unique_ptr<AppointmentFields> appointmentFields;
    std::unique_ptr<TaskFields> taskFields;
    ItemKind kind = ItemKind::None;
    std::string messageClass;  // PR_MESSAGE_CLASS, or PR_CONTAINER_CLASS of a folder
    std::string displayName;
    std::string recordKey;
    // PR_CREATION_TIME of the object itself (FILETIME), not of an attachment.
    Bytes creationTime;
    // Code page of the object's 8-bit text (PR_INTERNET_CPID or
    // PR_MESSAGE_CODEPAGE); 0 until one was seen.
    std::uint32_t codePage = 0;
};

// Releases the record and everything still attached to it.
inline void ReleaseItemRecord(std::unique_ptr<ItemRecord>& record) { record.reset(); }

}  // namespace bm
