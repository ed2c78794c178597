// The row of buttons at the foot of a dialog, kept to its right.
#pragma once

#include <initializer_list>

class QBoxLayout;
class QPushButton;

namespace bmui {

void AddButtonRow(QBoxLayout* layout, std::initializer_list<QPushButton*> buttons);

}  // namespace bmui
