// The about box: product name, version and what the tool does.
#pragma once

#include <QDialog>

namespace bmui {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent);
};

}  // namespace bmui
