#include "ui/preview_pane.h"

#include <QContextMenuEvent>
#include <QImage>
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
    page_ = url;
    setSource(url, QTextDocument::HtmlResource);
    if (source() == url) reload();
}

QVariant PreviewPane::loadResource(int type, const QUrl& name) {
    // Only the page itself is read. A mail's body may name any file, device
    // or pipe (file:///dev/zero, a FIFO, /proc/...), a remote server, or a
    // data: URL: every such image, style sheet or frame is refused unread.
    const QUrl resolved = page_.resolved(name);
    if (type != QTextDocument::HtmlResource || resolved != page_ || !page_.isLocalFile()) {
        ++refused_;
        // An empty value, not a null one: given nothing, the document would
        // open the file itself.
        // An empty image would make the image handler read the file by name.
        if (type == QTextDocument::ImageResource) {
            QImage blank(1, 1, QImage::Format_ARGB32);
            blank.fill(Qt::transparent);
            return blank;
        }
        return QByteArray();
    }
    return QTextBrowser::loadResource(type, resolved);
}

void PreviewPane::contextMenuEvent(QContextMenuEvent* event) {
    // The pane offers no context menu (nothing to navigate to or from).
    event->accept();
}

}  // namespace bmui
