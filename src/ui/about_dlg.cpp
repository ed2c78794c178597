#include "ui/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/command_line.h"
#include "ui/icons.h"
#include "ui/ui_texts.h"

namespace bmui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text(kAboutTitle));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(48, 48));
    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setText(QStringLiteral("<b>%1</b><br>%2<br><br>Recovers the contents of Outlook offline store files "
                                 "(.ost) into a new Personal Folders file (.pst).")
                      .arg(Text(kCaption), VersionText()));
    text->setWordWrap(true);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(text, 1);
    layout->addLayout(top);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

}  // namespace bmui
