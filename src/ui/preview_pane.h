// The preview pane: shows pages from the application directory. It reads
// the page it is sent to and nothing else: no image, style sheet or frame a
// page names is loaded, local or remote, links are not followed, and no
// script runs (the browser has no script engine).
#pragma once

#include <QTextBrowser>
#include <QUrl>

namespace bmui {

class PreviewPane : public QTextBrowser {
    Q_OBJECT
public:
    explicit PreviewPane(QWidget* parent);

    // Shows a local page, reading it again even when it is the page shown.
    void Navigate(const QString& localPath);
    // The URLs the pane refused to load (for tests and diagnostics).
    int refusedLoads() const { return refused_; }

    QVariant loadResource(int type, const QUrl& name) override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QUrl page_;  // the one resource the pane reads
    int refused_ = 0;
};

}  // namespace bmui
