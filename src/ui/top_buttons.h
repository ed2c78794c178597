// The three picture buttons at the top of step 1 and the analysis page:
// View Report, Help and Exit, with their tooltips.
#pragma once

#include <QWidget>

#include <initializer_list>

class QToolButton;

namespace bmui {

class TopButtons : public QWidget {
    Q_OBJECT
public:
    explicit TopButtons(QWidget* parent);

    // Tab walks `controls` in their order, then View Report, Help and Exit.
    void TabAfter(std::initializer_list<QWidget*> controls);

    QToolButton* viewReport = nullptr;  // 1055
    QToolButton* help = nullptr;        // 1056
    QToolButton* exit = nullptr;        // 1057
};

}  // namespace bmui
