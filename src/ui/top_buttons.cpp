#include "ui/top_buttons.h"

#include <QHBoxLayout>
#include <QToolButton>

#include "ui/icons.h"
#include "ui/ui_texts.h"

namespace bmui {

namespace {

QToolButton* MakeButton(QWidget* parent, const QIcon& icon, std::string_view tip) {
    auto* button = new QToolButton(parent);
    button->setIcon(icon);
    button->setIconSize(QSize(28, 28));
    button->setToolTip(Text(tip));
    button->setAutoRaise(true);
    button->setAccessibleName(Text(tip));
    return button;
}

}  // namespace

TopButtons::TopButtons(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    viewReport = MakeButton(this, ReportButtonIcon(), kViewReportTip);
    help = MakeButton(this, HelpButtonIcon(), kHelpTip);
    exit = MakeButton(this, ExitButtonIcon(), kExitTip);
    layout->addWidget(viewReport);
    layout->addWidget(help);
    layout->addWidget(exit);
}

void TopButtons::TabAfter(std::initializer_list<QWidget*> controls) {
    QWidget* previous = nullptr;
    for (QWidget* control : controls) {
        if (previous != nullptr) setTabOrder(previous, control);
        previous = control;
    }
    if (previous != nullptr) setTabOrder(previous, viewReport);
    setTabOrder(viewReport, help);
    setTabOrder(help, exit);
}

}  // namespace bmui
