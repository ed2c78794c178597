// Runs a wizard page modally in an event loop of its own.
#pragma once

class QDialog;

namespace bmui {

// Shows `dialog` application-modal and waits until it is done (accepted or
// rejected) or the application quits; returns its result. Unlike
// QDialog::exec(), hiding the dialog meanwhile (a page opened over it hides
// it) does not end the wait, so the page below comes back when the page
// over it closes.
int RunModal(QDialog& dialog);

}  // namespace bmui
