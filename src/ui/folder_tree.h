// The folder tree of the analysis page: one item per folder the analysis
// found, with a check box (the folders to save). Checking a folder checks
// every folder below it; a checked folder is drawn bold, and so is every
// ancestor of a bold folder.
#pragma once

#include <QTreeWidget>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bmui {

// Normal and selected image of a tree item.
using IconPair = std::pair<int, int>;

inline constexpr IconPair kFolderIcons{0, 1};     // a folder below the root
inline constexpr IconPair kRootLevelIcons{5, 5};  // an entry at the root level

// The images of a folder by its label and container class (both compared
// in upper case), starting from `defaults`.
IconPair FolderIcon(std::string_view label, std::string_view containerClass, IconPair defaults);

class FolderTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit FolderTree(QWidget* parent);

    // Inserts the missing components of `path` ("Personal Folders\Inbox\";
    // only components followed by "\" count); the container class belongs
    // to the last component only. Every reached item is expanded.
    void InsertFolderPath(std::string_view path, std::string_view containerClass = {});

    // "Personal Folders\Inbox\": the labels from the root down, each with "\".
    static std::string PathOf(const QTreeWidgetItem* item);
    // Items below each root item, depth first, whose box is checked (the
    // root items themselves are not tested).
    std::vector<std::string> CheckedPaths() const;
    // The item of a full path; nullptr when there is none.
    QTreeWidgetItem* ItemOf(std::string_view path) const;
    // The images an item was given.
    static IconPair IconsOf(const QTreeWidgetItem* item);

    void Reset();

private:
    void OnItemChanged(QTreeWidgetItem* item, int column);
    void UpdateBold();

    bool propagating_ = false;
};

}  // namespace bmui
