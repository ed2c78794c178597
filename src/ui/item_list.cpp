#include "ui/item_list.h"

#include <QHeaderView>
#include <QStyle>

#include "ui/icons.h"
#include "ui/ui_texts.h"

namespace bmui {

namespace {

// The row's item in the results, on the time column its FILETIME, and on
// the first column whether the item is damaged.
constexpr int kSourceRole = Qt::UserRole;
constexpr int kTimeKeyRole = Qt::UserRole + 1;
constexpr int kDamagedRole = Qt::UserRole + 2;

// A list row that sorts a time column by time and text by the user's
// locale; equal rows keep the order the list was filled in.
class ListRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
        const QVariant mine = data(column, kTimeKeyRole);
        const QVariant theirs = other.data(column, kTimeKeyRole);
        if (mine.isValid() && theirs.isValid() && mine.toLongLong() != theirs.toLongLong())
            return mine.toLongLong() < theirs.toLongLong();
        if (!mine.isValid() || !theirs.isValid()) {
            if (const int order = QString::localeAwareCompare(text(column), other.text(column)); order != 0)
                return order < 0;
        }
        return data(0, kSourceRole).toInt() < other.data(0, kSourceRole).toInt();
    }
};

QString DamageTip(const std::vector<std::string>& damage) {
    QStringList lines;
    for (const std::string& line : damage) lines << QString::fromStdString(line);
    return Text(kDamagedItemTip).arg(lines.join(QStringLiteral("; ")));
}

}  // namespace

ItemList::ItemList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setAllColumnsShowFocus(true);
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    // A click on a column's header sorts by it; a second click reverses.
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, &ItemList::SortBy);
}

void ItemList::SetColumns(ListKind kind) {
    clear();
    // A new fill shows its rows in the order they come until a header is
    // clicked.
    sortColumn_ = -1;
    header()->setSortIndicatorShown(false);
    const auto columns = ColumnsOf(kind);
    QStringList titles;
    for (const ListColumn& column : columns) titles << Text(column.title);
    setColumnCount(static_cast<int>(titles.size()));
    setHeaderLabels(titles);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i)
        setColumnWidth(i, columns[static_cast<std::size_t>(i)].width);
}

void ItemList::Fill(const ItemRows& rows) {
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.rows.size()));
    for (const ItemRow& row : rows.rows) {
        auto* item = new ListRow(row.cells);
        item->setIcon(0, row.damage.empty() ? ListIconImage(row.icon) : warning);
        item->setData(0, kSourceRole, row.source);
        if (row.timeColumn >= 0) item->setData(row.timeColumn, kTimeKeyRole, static_cast<qlonglong>(row.timeKey));
        if (!row.damage.empty()) {
            item->setData(0, kDamagedRole, true);
            const QString tip = DamageTip(row.damage);
            for (int column = 0; column < row.cells.size(); ++column) item->setToolTip(column, tip);
        }
        items.push_back(item);
    }
    addTopLevelItems(items);
}

void ItemList::SortBy(int column) {
    if (column < 0 || column >= columnCount()) return;
    const Qt::SortOrder order = column == sortColumn_ && sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                                           : Qt::AscendingOrder;
    sortColumn_ = column;
    sortOrder_ = order;
    sortItems(column, order);
    header()->setSortIndicator(column, order);
    header()->setSortIndicatorShown(true);
}

int ItemList::SourceOf(const QTreeWidgetItem* row) { return row != nullptr ? row->data(0, kSourceRole).toInt() : -1; }

bool ItemList::MarkedDamaged(const QTreeWidgetItem* row) {
    return row != nullptr && row->data(0, kDamagedRole).toBool();
}

}  // namespace bmui
