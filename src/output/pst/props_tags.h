// Typed constants for the properties the writer sets itself or that callers
// commonly set. Names follow the MAPI property names without their prefix.
#pragma once

#include "output/pst/props.h"

namespace bm::pst::tags {

using T = PropType;

// Messages.
inline constexpr PropTag kImportance{0x0017, T::Int32};
inline constexpr PropTag kMessageClass{0x001A, T::Unicode};
inline constexpr PropTag kSensitivity{0x0036, T::Int32};
inline constexpr PropTag kSubject{0x0037, T::Unicode};
inline constexpr PropTag kClientSubmitTime{0x0039, T::SysTime};
inline constexpr PropTag kSentRepresentingName{0x0042, T::Unicode};
inline constexpr PropTag kMessageToMe{0x0057, T::Boolean};
inline constexpr PropTag kMessageCcMe{0x0058, T::Boolean};
inline constexpr PropTag kSentRepresentingAddrType{0x0064, T::Unicode};
inline constexpr PropTag kSentRepresentingEmailAddress{0x0065, T::Unicode};
inline constexpr PropTag kConversationTopic{0x0070, T::Unicode};
inline constexpr PropTag kConversationIndex{0x0071, T::Binary};
inline constexpr PropTag kTransportMessageHeaders{0x007D, T::Unicode};
inline constexpr PropTag kSenderName{0x0C1A, T::Unicode};
inline constexpr PropTag kSenderAddrType{0x0C1E, T::Unicode};
inline constexpr PropTag kSenderEmailAddress{0x0C1F, T::Unicode};
inline constexpr PropTag kDisplayBcc{0x0E02, T::Unicode};
inline constexpr PropTag kDisplayCc{0x0E03, T::Unicode};
inline constexpr PropTag kDisplayTo{0x0E04, T::Unicode};
inline constexpr PropTag kMessageDeliveryTime{0x0E06, T::SysTime};
inline constexpr PropTag kMessageFlags{prop::kMessageFlags, T::Int32};
inline constexpr PropTag kMessageSize{prop::kMessageSize, T::Int32};
inline constexpr PropTag kMessageStatus{0x0E17, T::Int32};
inline constexpr PropTag kHasAttachments{0x0E1B, T::Boolean};
inline constexpr PropTag kRtfInSync{0x0E1F, T::Boolean};
inline constexpr PropTag kBody{0x1000, T::Unicode};
inline constexpr PropTag kRtfCompressed{0x1009, T::Binary};
inline constexpr PropTag kHtml{0x1013, T::Binary};
inline constexpr PropTag kInternetMessageId{0x1035, T::Unicode};
inline constexpr PropTag kInternetReferences{0x1039, T::Unicode};
inline constexpr PropTag kInReplyToId{0x1042, T::Unicode};
inline constexpr PropTag kItemTemporaryFlags{0x1097, T::Int32};
inline constexpr PropTag kCreationTime{0x3007, T::SysTime};
inline constexpr PropTag kLastModificationTime{0x3008, T::SysTime};
inline constexpr PropTag kSearchKey{0x300B, T::Binary};
inline constexpr PropTag kInternetCodepage{prop::kInternetCodepage, T::Int32};
inline constexpr PropTag kMessageCodepage{prop::kMessageCodepage, T::Int32};
inline constexpr PropTag kSecureSubmitFlags{0x65C6, T::Int32};

// Recipients.
inline constexpr PropTag kRecipientType{0x0C15, T::Int32};
inline constexpr PropTag kResponsibility{0x0E0F, T::Boolean};
inline constexpr PropTag kObjectType{0x0FFE, T::Int32};
inline constexpr PropTag kEntryId{0x0FFF, T::Binary};
inline constexpr PropTag kAddrType{0x3002, T::Unicode};
inline constexpr PropTag kEmailAddress{0x3003, T::Unicode};
inline constexpr PropTag kDisplayType{0x3900, T::Int32};
inline constexpr PropTag kSmtpAddress{0x39FE, T::Unicode};
inline constexpr PropTag kSendRichInfo{0x3A40, T::Boolean};
inline constexpr PropTag kRecipientDisplayName{0x5FF6, T::Unicode};

// Attachments.
inline constexpr PropTag kAttachSize{prop::kAttachSize, T::Int32};
inline constexpr PropTag kAttachDataBinary{0x3701, T::Binary};
inline constexpr PropTag kAttachDataObject{0x3701, T::Object};
inline constexpr PropTag kAttachExtension{0x3703, T::Unicode};
inline constexpr PropTag kAttachFilename{0x3704, T::Unicode};
inline constexpr PropTag kAttachMethod{0x3705, T::Int32};
inline constexpr PropTag kAttachLongFilename{0x3707, T::Unicode};
inline constexpr PropTag kRenderingPosition{0x370B, T::Int32};
inline constexpr PropTag kAttachMimeTag{0x370E, T::Unicode};
inline constexpr PropTag kAttachContentId{0x3712, T::Unicode};
inline constexpr PropTag kAttachFlags{0x3714, T::Int32};
inline constexpr PropTag kAttachmentHidden{0x7FFE, T::Boolean};

// Folders and the store.
inline constexpr PropTag kRecordKey{0x0FF9, T::Binary};
inline constexpr PropTag kDisplayName{prop::kDisplayName, T::Unicode};
inline constexpr PropTag kComment{0x3004, T::Unicode};
inline constexpr PropTag kValidFolderMask{0x35DF, T::Int32};
inline constexpr PropTag kIpmSubtreeEntryId{0x35E0, T::Binary};
inline constexpr PropTag kIpmWastebasketEntryId{0x35E3, T::Binary};
inline constexpr PropTag kFinderEntryId{0x35E7, T::Binary};
inline constexpr PropTag kContentCount{prop::kContentCount, T::Int32};
inline constexpr PropTag kContentUnreadCount{prop::kContentUnreadCount, T::Int32};
inline constexpr PropTag kSubfolders{prop::kSubfolders, T::Boolean};
inline constexpr PropTag kContainerClass{0x3613, T::Unicode};
inline constexpr PropTag kAssocContentCount{0x3617, T::Int32};
inline constexpr PropTag kPstHiddenCount{0x6635, T::Int32};
inline constexpr PropTag kPstHiddenUnread{0x6636, T::Int32};
inline constexpr PropTag kReceiveFolderNid{0x6605, T::Int32};
inline constexpr PropTag kLtpRowId{prop::kLtpRowId, T::Int32};
inline constexpr PropTag kLtpRowVer{prop::kLtpRowVer, T::Int32};

// Contacts.
inline constexpr PropTag kGivenName{0x3A06, T::Unicode};
inline constexpr PropTag kBusinessTelephoneNumber{0x3A08, T::Unicode};
inline constexpr PropTag kHomeTelephoneNumber{0x3A09, T::Unicode};
inline constexpr PropTag kSurname{0x3A11, T::Unicode};
inline constexpr PropTag kCompanyName{0x3A16, T::Unicode};
inline constexpr PropTag kTitle{0x3A17, T::Unicode};
inline constexpr PropTag kMobileTelephoneNumber{0x3A1C, T::Unicode};

}  // namespace bm::pst::tags

namespace bm::pst {

// Flags of kMessageFlags.
inline constexpr std::int32_t kMessageFlagRead = 0x01;
inline constexpr std::int32_t kMessageFlagUnmodified = 0x02;
inline constexpr std::int32_t kMessageFlagUnsent = 0x08;
inline constexpr std::int32_t kMessageFlagHasAttachment = 0x10;

// Values of kRecipientType.
inline constexpr std::int32_t kRecipientTo = 1;
inline constexpr std::int32_t kRecipientCc = 2;
inline constexpr std::int32_t kRecipientBcc = 3;

// Values of kAttachMethod.
inline constexpr std::int32_t kAttachByValue = 1;
inline constexpr std::int32_t kAttachEmbeddedMessage = 5;

// Property sets of named properties.
namespace propsets = ::bm::propsets;

// Named properties of appointments, tasks and contacts.
namespace named {
inline const NamedPropTag kAppointmentBusyStatus{propsets::kAppointment, 0x8205u, PropType::Int32};
inline const NamedPropTag kAppointmentLocation{propsets::kAppointment, 0x8208u, PropType::Unicode};
inline const NamedPropTag kAppointmentStartWhole{propsets::kAppointment, 0x820Du, PropType::SysTime};
inline const NamedPropTag kAppointmentEndWhole{propsets::kAppointment, 0x820Eu, PropType::SysTime};
inline const NamedPropTag kAppointmentDuration{propsets::kAppointment, 0x8213u, PropType::Int32};
inline const NamedPropTag kAppointmentSubType{propsets::kAppointment, 0x8215u, PropType::Boolean};
inline const NamedPropTag kAppointmentRecur{propsets::kAppointment, 0x8216u, PropType::Binary};
inline const NamedPropTag kRecurring{propsets::kAppointment, 0x8223u, PropType::Boolean};
inline const NamedPropTag kRecurrenceType{propsets::kAppointment, 0x8231u, PropType::Int32};
inline const NamedPropTag kRecurrencePattern{propsets::kAppointment, 0x8232u, PropType::Unicode};
inline const NamedPropTag kTimeZoneStruct{propsets::kAppointment, 0x8233u, PropType::Binary};
inline const NamedPropTag kTimeZoneDescription{propsets::kAppointment, 0x8234u, PropType::Unicode};
inline const NamedPropTag kClipStart{propsets::kAppointment, 0x8235u, PropType::SysTime};
inline const NamedPropTag kClipEnd{propsets::kAppointment, 0x8236u, PropType::SysTime};
inline const NamedPropTag kTimeZoneDefinitionStartDisplay{propsets::kAppointment, 0x825Eu, PropType::Binary};
inline const NamedPropTag kTimeZoneDefinitionEndDisplay{propsets::kAppointment, 0x825Fu, PropType::Binary};
inline const NamedPropTag kTimeZoneDefinitionRecur{propsets::kAppointment, 0x8260u, PropType::Binary};
inline const NamedPropTag kTaskStatus{propsets::kTask, 0x8101u, PropType::Int32};
inline const NamedPropTag kTaskPercentComplete{propsets::kTask, 0x8102u, PropType::Double};
inline const NamedPropTag kTaskStartDate{propsets::kTask, 0x8104u, PropType::SysTime};
inline const NamedPropTag kTaskDueDate{propsets::kTask, 0x8105u, PropType::SysTime};
inline const NamedPropTag kTaskDateCompleted{propsets::kTask, 0x810Fu, PropType::SysTime};
inline const NamedPropTag kTaskComplete{propsets::kTask, 0x811Cu, PropType::Boolean};
inline const NamedPropTag kFileUnder{propsets::kAddress, 0x8005u, PropType::Unicode};
inline const NamedPropTag kEmail1DisplayName{propsets::kAddress, 0x8080u, PropType::Unicode};
inline const NamedPropTag kEmail1AddressType{propsets::kAddress, 0x8082u, PropType::Unicode};
inline const NamedPropTag kEmail1EmailAddress{propsets::kAddress, 0x8083u, PropType::Unicode};
inline const NamedPropTag kSideEffects{propsets::kCommon, 0x8510u, PropType::Int32};
inline const NamedPropTag kCommonStart{propsets::kCommon, 0x8516u, PropType::SysTime};
inline const NamedPropTag kCommonEnd{propsets::kCommon, 0x8517u, PropType::SysTime};
inline const NamedPropTag kKeywords{propsets::kPublicStrings, std::u16string(u"Keywords"), PropType::MvUnicode};
}  // namespace named

}  // namespace bm::pst
