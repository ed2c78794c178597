// The item list of the analysis page: the columns of the listed folder's
// kind, its rows as the list worker built them, sorting by a column (time
// columns by time, text by the user's locale), and a mark on the items the
// analysis read from damaged blocks (a warning icon, and a tooltip saying
// what is damaged).
#pragma once

#include <QTreeWidget>

#include <string>

#include "ui/item_rows.h"

namespace bmui {

class ItemList : public QTreeWidget {
    Q_OBJECT
public:
    explicit ItemList(QWidget* parent);

    // Empties the list and gives it the columns of `kind`, unsorted.
    void SetColumns(ListKind kind);
    // Shows `rows` (after SetColumns of their kind) in the order they come.
    void Fill(const ItemRows& rows);
    // Sorts by `column`; the same column again reverses the order.
    void SortBy(int column);

    // Where the row's item sits in the results; -1 for no row.
    static int SourceOf(const QTreeWidgetItem* row);
    // Whether the row carries the damage mark.
    static bool MarkedDamaged(const QTreeWidgetItem* row);

private:
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

}  // namespace bmui
