// The Change Log Path dialog: the directory of the activity log.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace bmui {

class WizardContext;

class Cchangelog : public QDialog {
    Q_OBJECT
public:
    Cchangelog(WizardContext& context, QWidget* parent);

    QLineEdit* pathEdit() const { return edit_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* applyButton() const { return apply_; }

private:
    void Browse();
    void Apply();

    WizardContext& context_;
    QLineEdit* edit_ = nullptr;     // 1018
    QPushButton* browse_ = nullptr; // 1076
    QPushButton* apply_ = nullptr;
};

}  // namespace bmui
