#include "ui/preview_pane.h"

#include <QContextMenuEvent>
#include <QUrl>

namespace bmui {

PreviewPane::PreviewPane(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setUndoRedoEnabled(false);
}

void PreviewPane::Navigate(const QString& localPath) {
    clear();
    const QUrl url = QUrl::fromLocalFile(localPath);
    setSource(url, QTextDocument::HtmlResource);
    if (source() == url) reload();
}

QVariant PreviewPane::loadResource(int type, const QUrl& name) {
    // Relative names resolve against the local page; anything with a scheme
    // other than file (http, https, ftp, data from elsewhere...) is refused.
    const QUrl resolved = source().resolved(name);
    if (!resolved.isLocalFile()) {
        ++refused_;
        return {};
    }
    return QTextBrowser::loadResource(type, resolved);
}

void PreviewPane::contextMenuEvent(QContextMenuEvent* event) {
    // The pane offers no context menu (nothing to navigate to or from).
    event->accept();
}

}  // namespace bmui
