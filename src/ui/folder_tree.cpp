#include "ui/folder_tree.h"

#include <QHeaderView>

#include "ui/icons.h"

namespace bmui {

namespace {

constexpr int kNormalIconRole = Qt::UserRole + 1;
constexpr int kSelectedIconRole = Qt::UserRole + 2;

QIcon IconFor(IconPair icons) {
    QIcon icon = TreeIconImage(icons.first);
    const QIcon selected = TreeIconImage(icons.second);
    for (const QSize& size : selected.availableSizes()) icon.addPixmap(selected.pixmap(size), QIcon::Selected);
    return icon;
}

bool SetBold(QTreeWidgetItem* item) {
    bool bold = item->checkState(0) == Qt::Checked;
    for (int i = 0; i < item->childCount(); ++i) bold = SetBold(item->child(i)) || bold;
    QFont font = item->font(0);
    if (font.bold() != bold) {
        font.setBold(bold);
        item->setFont(0, font);
    }
    return bold;
}

void SetCheckBelow(QTreeWidgetItem* item, Qt::CheckState state) {
    for (int i = 0; i < item->childCount(); ++i) {
        item->child(i)->setCheckState(0, state);
        SetCheckBelow(item->child(i), state);
    }
}

void CollectChecked(const QTreeWidgetItem* item, std::vector<std::string>& out) {
    for (int i = 0; i < item->childCount(); ++i) {
        const QTreeWidgetItem* child = item->child(i);
        if (child->checkState(0) == Qt::Checked) out.push_back(FolderTree::PathOf(child));
        CollectChecked(child, out);
    }
}

}  // namespace

IconPair FolderIcon(std::string_view label, std::string_view containerClass, IconPair defaults) {
    const QString name = QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())).toUpper();
    const QString cls =
        QString::fromUtf8(containerClass.data(), static_cast<qsizetype>(containerClass.size())).toUpper();
    auto is = [&](const char* text) { return name == QLatin1String(text); };
    auto classIs = [&](const char* text) { return cls == QLatin1String(text); };
    auto one = [](int icon) { return IconPair{icon, icon}; };

    IconPair result = defaults;
    if (is("CALENDAR") || classIs("IPF.APPOINTMENT")) result = one(kTreeCalendar);
    else if (is("PERSONAL FOLDERS")) result = one(kTreeStore);
    if (is("CONTACTS") || classIs("IPF.CONTACT")) result = one(kTreeContacts);
    if (is("JOURNAL") || classIs("IPF.JOURNAL")) result = one(kTreeJournal);
    else if (is("INBOX")) result = one(kTreeInbox);
    else if (is("DRAFTS")) result = one(kTreeDrafts);
    else if (is("DELETED ITEMS")) result = one(kTreeDeletedItems);
    if (is("NOTES") || classIs("IPF.STICKYNOTE")) result = one(kTreeNotes);
    else if (is("JUNK E-MAILS")) result = one(kTreeJunk);
    if (is("TASKS") || classIs("IPF.TASK")) result = one(kTreeTasks);
    else if (is("SENT ITEMS")) result = one(kTreeSentItems);
    else if (is("OUTBOX")) result = one(kTreeOutbox);
    if (is("SYNC ISSUES")) result = one(kTreeSyncIssues);
    return result;
}

FolderTree::FolderTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setIconSize(QSize(16, 16));
    connect(this, &QTreeWidget::itemChanged, this, &FolderTree::OnItemChanged);
}

void FolderTree::Reset() {
    const QSignalBlocker block(this);
    clear();
}

void FolderTree::InsertFolderPath(std::string_view path, std::string_view containerClass) {
    QTreeWidgetItem* parent = nullptr;
    std::size_t start = 0;
    for (std::size_t end = path.find('\\'); end != std::string_view::npos;
         start = end + 1, end = path.find('\\', start)) {
        const QString label = QString::fromUtf8(path.data() + start, static_cast<qsizetype>(end - start));
        const bool last = path.find('\\', end + 1) == std::string_view::npos;
        const int count = parent != nullptr ? parent->childCount() : topLevelItemCount();
        QTreeWidgetItem* found = nullptr;
        for (int i = 0; i < count && found == nullptr; ++i) {
            QTreeWidgetItem* child = parent != nullptr ? parent->child(i) : topLevelItem(i);
            if (child->text(0) == label) found = child;  // exact, case-sensitive
        }
        if (found == nullptr) {
            const IconPair icons = FolderIcon(label.toStdString(), last ? containerClass : std::string_view{},
                                              parent != nullptr ? kFolderIcons : kRootLevelIcons);
            const QSignalBlocker block(this);
            found = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
            found->setText(0, label);
            found->setFlags(found->flags() | Qt::ItemIsUserCheckable);
            found->setCheckState(0, Qt::Unchecked);
            found->setData(0, kNormalIconRole, icons.first);
            found->setData(0, kSelectedIconRole, icons.second);
            found->setIcon(0, IconFor(icons));
        }
        found->setExpanded(true);
        parent = found;
    }
}

std::string FolderTree::PathOf(const QTreeWidgetItem* item) {
    QString path;
    for (; item != nullptr; item = item->parent()) path.prepend(item->text(0) + QLatin1Char('\\'));
    return path.toStdString();
}

std::vector<std::string> FolderTree::CheckedPaths() const {
    std::vector<std::string> out;
    for (int i = 0; i < topLevelItemCount(); ++i) CollectChecked(topLevelItem(i), out);
    return out;
}

QTreeWidgetItem* FolderTree::ItemOf(std::string_view path) const {
    QTreeWidgetItemIterator it(const_cast<FolderTree*>(this));
    for (; *it != nullptr; ++it)
        if (PathOf(*it) == path) return *it;
    return nullptr;
}

IconPair FolderTree::IconsOf(const QTreeWidgetItem* item) {
    return {item->data(0, kNormalIconRole).toInt(), item->data(0, kSelectedIconRole).toInt()};
}

void FolderTree::OnItemChanged(QTreeWidgetItem* item, int column) {
    if (propagating_ || column != 0) return;
    propagating_ = true;
    {
        const QSignalBlocker block(this);
        SetCheckBelow(item, item->checkState(0));
        UpdateBold();
    }
    propagating_ = false;
}

void FolderTree::UpdateBold() {
    for (int i = 0; i < topLevelItemCount(); ++i) SetBold(topLevelItem(i));
}

}  // namespace bmui
