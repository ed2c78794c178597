#include "ui/modal_run.h"

#include <QDialog>
#include <QEventLoop>

namespace bmui {

int RunModal(QDialog& dialog) {
    QEventLoop loop;
    int result = QDialog::Rejected;
    const QMetaObject::Connection finished = QObject::connect(&dialog, &QDialog::finished, &loop, [&](int code) {
        result = code;
        loop.quit();
    });
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    // A dialog done before its loop starts (a page that failed while it was
    // being shown) does not wait for an end that has come already.
    if (dialog.isVisible()) loop.exec(QEventLoop::DialogExec);
    QObject::disconnect(finished);
    return result;
}

}  // namespace bmui
