// The wizard's icon set (drawn for the project, resources/icons/), indexed
// the way the folder tree and the item list number their images.
#pragma once

#include <QIcon>

namespace bmui {

// Folder tree images.
enum TreeIcon : int {
    kTreeFolder = 0,
    kTreeFolderOpen = 1,
    kTreeStore = 2,
    kTreeCalendar = 3,
    kTreeContacts = 4,
    kTreeDeletedItems = 5,
    kTreeDrafts = 6,
    kTreeInbox = 7,
    kTreeJournal = 8,
    kTreeJunk = 9,
    kTreeNotes = 10,
    kTreeOutbox = 11,
    kTreeSentItems = 12,
    kTreeTasks = 13,
    kTreeSyncIssues = 14,
    kTreeIconCount = 15,
};

// Item list images (the rows use 0, 1, 5, 7, 10 and 13).
enum ListIcon : int {
    kListAppointment = 0,
    kListContact = 1,
    kListJournal = 5,
    kListNote = 7,
    kListTask = 10,
    kListMail = 13,
    kListIconCount = 17,
};

QIcon TreeIconImage(int index);
QIcon ListIconImage(int index);
QIcon AppIcon();
QIcon ReportButtonIcon();
QIcon HelpButtonIcon();
QIcon ExitButtonIcon();

}  // namespace bmui
