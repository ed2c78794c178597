#include "ui/button_row.h"

#include <QBoxLayout>
#include <QPushButton>

namespace bmui {

void AddButtonRow(QBoxLayout* layout, std::initializer_list<QPushButton*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (QPushButton* button : buttons) row->addWidget(button);
    layout->addLayout(row);
}

}  // namespace bmui
