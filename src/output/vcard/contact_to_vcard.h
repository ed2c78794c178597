// Contacts and distribution lists as vCard 4.0 (RFC 6350) cards.
//
// A contact gives FN (display name, else the names, else "file under"), N,
// NICKNAME, ORG, TITLE, its three e-mail addresses, telephone numbers,
// home, work and other addresses, BDAY and ANNIVERSARY, web pages, NOTE
// (the plain body), CATEGORIES and REV; its photo (the attachment marked
// as the contact's photo) goes into PHOTO as a data: URI.
//
// A distribution list is a card of KIND:group whose members are MEMBER
// lines with the members' SMTP addresses (mailto:). A member known only by
// an address of another kind (an Exchange one) has no URI a reader could
// use; it is kept as X-BRIGHTMEND-MEMBER:"name <address>" so nothing of
// the list is lost. Members are read from the list's one-off entries,
// which hold name and address themselves.
#pragma once

#include <string>

#include "output/pst/message.h"

namespace bm::vcard {

// Whether the item is a contact (IPM.Contact...) or a distribution list
// (IPM.DistList...), the kinds this file writes.
bool IsContact(const pst::Message& item);
bool IsDistributionList(const pst::Message& item);

// The card, lines ending in CRLF; contacts and lists alike.
std::string ItemToVcard(const pst::Message& item);

}  // namespace bm::vcard
