// The menu of step 1, the search page and the analysis page (resource 176):
// File (Select File, Select Directory, Save, Exit), Log (View Log, Clear
// Log, Change Path), Help (Contents, About). Each page connects the items it
// acts on and grays the others as its rules say.
#pragma once

#include <QMenuBar>

class QAction;

namespace bmui {

class WizardContext;

class WizardMenu : public QMenuBar {
    Q_OBJECT
public:
    explicit WizardMenu(QWidget* parent);

    // View Log, Clear Log, Change Path, Contents and About act the same on
    // every page; `owner` parents their dialogs.
    void ConnectCommon(WizardContext& context, QWidget* owner);

    QAction* selectFile = nullptr;       // 32779
    QAction* selectDirectory = nullptr;  // 32782
    QAction* save = nullptr;             // 32780
    QAction* exit = nullptr;             // 32772
    QAction* viewLog = nullptr;          // 32773
    QAction* clearLog = nullptr;         // 32774
    QAction* changePath = nullptr;       // 32775
    QAction* contents = nullptr;         // 32777
    QAction* about = nullptr;            // 32776
};

}  // namespace bmui
