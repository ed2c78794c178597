// Every text the wizard shows, defined once; the dialogs and their tests use
// these constants. The texts are the tool's own (spelling included) and must
// not change.
#pragma once

#include <QString>

#include <string_view>

namespace bmui {

inline QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline constexpr std::string_view kCaption = "Brightmend";
inline constexpr std::string_view kVersionText = "Version 12.0";
// No desktop program opened a file (Help, View Log, Open Report).
inline constexpr std::string_view kNoOpener =
    "No program could be started to open %1. Install xdg-utils (sudo apt install xdg-utils) or open the file "
    "yourself.";
// The sibling library could not be loaded at start (%1: the system's reason).
inline constexpr std::string_view kSiblingLibraryMissing =
    "Brightmend cannot start: its library libvestrel.so could not be loaded (%1). Reinstall Brightmend.";
inline constexpr std::string_view kHelpWindowTitle = "Help - Brightmend";

// Questions (Yes/No, question icon).
inline constexpr std::string_view kExitQuestion = "Do you want to exit ?";
inline constexpr std::string_view kStopAnalysisQuestion = "Do you want to stop Analysis Process ?";
inline constexpr std::string_view kPreviousStepQuestion = "Do you want to go to Previous Step ?";
inline constexpr std::string_view kStopSavingQuestion = "Do you want to stop Saving ?";
// The buttons of a question: the action it asks for, and the safe choice,
// which is the default.
inline constexpr std::string_view kQuitButton = "Quit";
inline constexpr std::string_view kStopActionButton = "Stop";
inline constexpr std::string_view kGoBackButton = "Go Back";
inline constexpr std::string_view kClearButton = "Clear";
inline constexpr std::string_view kCancelChoice = "Cancel";

// Step 1.
inline constexpr std::string_view kNotValidOst = "Not a valid OST File";
inline constexpr std::string_view kStoreFileFilter = "Outlook data files (*.ost *.pst);;All files (*)";
// The chosen store file is not there, may not be read, or cannot be read
// for another reason (path; path, reason).
inline constexpr std::string_view kSourceMissing = "%1 : no such file";
inline constexpr std::string_view kSourcePermissionDenied = "%1 : permission denied";
inline constexpr std::string_view kSourceUnreadable = "%1 : %2";
inline constexpr std::string_view kStep1Hint =
    "Choose the Outlook data file (.ost, or a copy such as .pst or .ost.bak) to recover, type or paste its path, "
    "or search a directory for one. When the analysis finds the file too damaged to read, come back here, tick \"Deep scan\" and convert "
    "again: the whole file is then searched for what can be saved.";
inline constexpr std::string_view kBrowseButton = "Browse...";
inline constexpr std::string_view kSearchButton = "Search";
inline constexpr std::string_view kConvertButton = "Convert";
inline constexpr std::string_view kViewReportTip = "View Report";
inline constexpr std::string_view kHelpTip = "Help";
inline constexpr std::string_view kExitTip = "Exit";
inline constexpr std::string_view kSourcePathLabel = "Source Path :";

// Menu (resource 176).
inline constexpr std::string_view kMenuFile = "&File";
inline constexpr std::string_view kMenuSelectFile = "Select File";
inline constexpr std::string_view kMenuSelectDirectory = "Select Directory";
inline constexpr std::string_view kMenuSave = "Save";
inline constexpr std::string_view kMenuExit = "Exit";
inline constexpr std::string_view kMenuLog = "&Log";
inline constexpr std::string_view kMenuViewLog = "View Log";
inline constexpr std::string_view kMenuClearLog = "Clear Log";
inline constexpr std::string_view kMenuChangePath = "Change Path";
inline constexpr std::string_view kMenuHelp = "&Help";
inline constexpr std::string_view kMenuContents = "Contents";
inline constexpr std::string_view kMenuAbout = "About Brightmend";

// About box and Change Log Path.
inline constexpr std::string_view kAboutTitle = "About Brightmend";
inline constexpr std::string_view kChangeLogTitle = "Change Log Path";
inline constexpr std::string_view kSelectFolderTitle = "Select Folder:";
inline constexpr std::string_view kPathDoesNotExist = "Path Does't exists";
inline constexpr std::string_view kApplyButton = "Apply";
inline constexpr std::string_view kCancelButton = "Cancel";

// Analysis page.
inline constexpr std::string_view kPauseButton = "Pause";
inline constexpr std::string_view kResumeButton = "Resume";
inline constexpr std::string_view kStopButton = "Stop";
inline constexpr std::string_view kBackButton = "Back";
inline constexpr std::string_view kSaveButton = "Save";
inline constexpr std::string_view kFromLabel = "From :";
inline constexpr std::string_view kToLabel = "To :";
inline constexpr std::string_view kSubjectLabel = "Subject :";
inline constexpr std::string_view kDestinationTitle = "Select the Destination Path";
inline constexpr std::string_view kSaveStoreTitle = "Save the New Store As";
inline constexpr std::string_view kOutputStoreFilter = "Personal Folders (*.pst);;All files (*)";
// A destination (or the folder chosen in the save dialog) that cannot be
// written: folder, reason.
inline constexpr std::string_view kDestinationNotWritable = "The new store cannot be written into %1: %2";

// Saving status and completion.
inline constexpr std::string_view kSavingStatusGroup = "Saving Status";
inline constexpr std::string_view kDestinationPathLabel = "Destination Path :";
inline constexpr std::string_view kFolderNameLabel = "Folder Name :";
inline constexpr std::string_view kMailCountLabel = "No. of Mails  :";
// The mail preview's attachments.
inline constexpr std::string_view kAttachmentsLabel = "Attachments :";
inline constexpr std::string_view kSaveAttachmentButton = "Save Attachment...";
inline constexpr std::string_view kAttachmentFolderTitle = "Select the Folder for the Attachment";
inline constexpr std::string_view kAttachmentSaved = "The attachment was saved as ";
inline constexpr std::string_view kAttachmentNotSaved = "The attachment could not be saved: ";
// An item of the list read from damaged blocks: what is damaged.
inline constexpr std::string_view kDamagedItemTip = "Damaged in this store: %1";
inline constexpr std::string_view kMarkDamagedBox = "Mark damaged items";
inline constexpr std::string_view kMarkDamagedTip =
    "Give the items saved with damaged content the category \"Damaged in recovery\" in the new store";
// What Save keeps of the ticked folders.
inline constexpr std::string_view kDateRangeBox = "Only items from";
inline constexpr std::string_view kDateRangeTo = "to";
inline constexpr std::string_view kDateRangeTip =
    "Save only the items delivered (else sent, else made) on these days; the others are counted as left out";
inline constexpr std::string_view kLeaveOutDuplicatesBox = "Leave out duplicates";
inline constexpr std::string_view kLeaveOutDuplicatesTip =
    "Save one of each set of copies of a message in a folder (the same Message-ID, bodies and attachments)";
inline constexpr std::string_view kPartSizeLabel = "Part size:";
inline constexpr std::string_view kPartSizeTip = "Past this size the new store goes on in \"<name> (part 2).pst\"";
inline constexpr std::string_view kDateRangeWrong = "The first day of the range is after the last.";
// A save of the same file that was cut off in the destination.
inline constexpr std::string_view kResumeSaveQuestion =
    "A save of this file into %1 was cut off before it ended; %2 of its parts are finished. Go on with that "
    "save? No starts a new store beside it.";
inline constexpr std::string_view kResumeSaveRefused =
    "The save that was cut off cannot go on here: the folders or options it was asked for do not fit this "
    "analysis. Start a new save instead.";
// What Save makes: the new store, or an export for other mail programs.
inline constexpr std::string_view kOutputKindTip = "What Save makes of the ticked folders";
inline constexpr std::string_view kOutputKinds[] = {
    "Personal Folders store (.pst)", "Mail folders for Thunderbird and other mail programs (MBOX)", "Maildir",
    "One .eml file per message"};
inline constexpr std::string_view kExportFolderLabel = "Exported to (mail in Mail/, contacts and calendars beside it):";
inline constexpr std::string_view kExportFolderNotMade = "The export folder could not be made: %1";
inline constexpr std::string_view kSavingProgressFormat = "%v of %m items read";
inline constexpr std::string_view kCheckingNewStore = "Checking the new store\u2026";
inline constexpr std::string_view kSavingInProgress = "Saving Process in Progress...";
inline constexpr std::string_view kOpenLogGroup = "Open Log Path";
inline constexpr std::string_view kSavingCompleted = "Saving Completed Sucessfully";
inline constexpr std::string_view kSavingAbortedLabel = "Saving aborted";
inline constexpr std::string_view kSavingAccountFormat = "Items saved: %1, not recovered: %2";
// After a stop: saved, not reached; then lost when there were any.
inline constexpr std::string_view kStoppedAccountFormat = "Items saved: %1; not reached before the stop: %2";
inline constexpr std::string_view kStoppedLostFormat = "; could not be recovered: %1";
inline constexpr std::string_view kViewLogFile = "View Log File";
inline constexpr std::string_view kOkButton = "OK";
inline constexpr std::string_view kOutputStoreLabel = "Saved to:";
inline constexpr std::string_view kNoOutputStore = "No output store was written.";
inline constexpr std::string_view kPartialStoreNote =
    "The store holds only the items saved before the stop; it is complete up to there.";
inline constexpr std::string_view kItemsSkippedLabel = "Items skipped (could not be written):";

// Search page.
inline constexpr std::string_view kSearchTitle = "Search for Store Files";
inline constexpr std::string_view kSearchBrowseButton = "Bro&wse";
inline constexpr std::string_view kSearchBrowseTitle = "Select Directory for Searching OST Files";
inline constexpr std::string_view kSearchingDirectoryLabel = "Searching Directory :";
inline constexpr std::string_view kSavingPathLabel = "Saving Path";
inline constexpr std::string_view kSearchSubdirectories = "Search in subdirectories";
inline constexpr std::string_view kDeepScanBox = "Deep scan (search the whole file for lost items)";
inline constexpr std::string_view kRecoverDeletedBox =
    "Recover deleted items (what the file still holds, into \"Recovered Items\\Deleted\")";
inline constexpr std::string_view kFindNowButton = "Find Now";
inline constexpr std::string_view kNoItemsFound = "0 items found";
inline constexpr std::string_view kItemsFoundFormat = "%1 items found";        // count
inline constexpr std::string_view kSearchProgressFormat = "(%1) - %2";         // count, directory
inline constexpr std::string_view kColumnName = "Name";
inline constexpr std::string_view kColumnInFolder = "In Folder";
inline constexpr std::string_view kColumnSize = "Size";
inline constexpr std::string_view kColumnModified = "Modified";
// "Save All Found": every listed store saved in turn, each with all its
// folders, into the saving path's Repair folder.
inline constexpr std::string_view kSaveAllFoundButton = "Save All Found";
inline constexpr std::string_view kSaveAllFoundTip =
    "Save every store in the list, one after another, each with all its folders, into the Repair folder of the "
    "saving path";
inline constexpr std::string_view kBatchStoreFormat = "Saving store %1 of %2: %3";  // position, count, name
inline constexpr std::string_view kBatchAnalysing = "Reading the store\u2026";
inline constexpr std::string_view kBatchAnalysisProgressFormat = "Reading the store: %v of %m";
// The closing box: a headline, then one entry per store in the list's order.
inline constexpr std::string_view kBatchHeadlineFormat = "%1 of %2 stores were saved whole.";  // whole, count
inline constexpr std::string_view kBatchHeadlineStopped = "The saving was stopped.";
inline constexpr std::string_view kBatchEntryFormat = "%1: %2";  // store, outcome
inline constexpr std::string_view kBatchSavedWhole = "saved whole";
inline constexpr std::string_view kBatchSavedPartly = "saved with items not recovered (%1)";  // the run's words
inline constexpr std::string_view kBatchFailed = "failed: %1";                                // reason
inline constexpr std::string_view kBatchStopped = "stopped: %1";                              // the run's words
inline constexpr std::string_view kBatchNotStarted = "not started because the saving was stopped";
inline constexpr std::string_view kBatchOutputLine = "    Saved to: %1";
inline constexpr std::string_view kBatchReportLine = "    Report: %1";
// Below the new store of a store that was stopped: kPartialStoreNote.
inline constexpr std::string_view kBatchNoteLine = "    %1";

}  // namespace bmui
