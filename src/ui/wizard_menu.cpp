#include "ui/wizard_menu.h"

#include <QAction>
#include <QMenu>

#include "ui/about_dlg.h"
#include "ui/cchangelog.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"

namespace bmui {

WizardMenu::WizardMenu(QWidget* parent) : QMenuBar(parent) {
    QMenu* file = addMenu(Text(kMenuFile));
    selectFile = file->addAction(Text(kMenuSelectFile));
    selectDirectory = file->addAction(Text(kMenuSelectDirectory));
    save = file->addAction(Text(kMenuSave));
    file->addSeparator();
    exit = file->addAction(Text(kMenuExit));
    QMenu* log = addMenu(Text(kMenuLog));
    viewLog = log->addAction(Text(kMenuViewLog));
    clearLog = log->addAction(Text(kMenuClearLog));
    changePath = log->addAction(Text(kMenuChangePath));
    QMenu* help = addMenu(Text(kMenuHelp));
    contents = help->addAction(Text(kMenuContents));
    about = help->addAction(Text(kMenuAbout));
}

void WizardMenu::ConnectCommon(WizardContext& context, QWidget* owner) {
    connect(viewLog, &QAction::triggered, owner, [&context] { context.ViewLog(); });
    connect(clearLog, &QAction::triggered, owner, [&context, owner] { context.ClearLog(owner); });
    connect(changePath, &QAction::triggered, owner, [&context, owner] {
        Cchangelog dialog(context, owner);
        dialog.exec();
    });
    connect(contents, &QAction::triggered, owner, [&context] { context.ShowHelp(); });
    connect(about, &QAction::triggered, owner, [owner] {
        CAboutDlg dialog(owner);
        dialog.exec();
    });
}

}  // namespace bmui
