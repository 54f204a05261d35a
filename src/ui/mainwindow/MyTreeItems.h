// The project tree's items on the tree widget: each QTreeWidgetItem of the project tree is also
// the ITreeItem its node holds, so the engine edits the tree the user sees without knowing Qt.
// The widget owns the items; a node deleting its item deletes the widget item.
#pragma once

#include <QIcon>
#include <QTreeWidgetItem>
#include <vector>

#include "ITreeItem.h"

class QTreeWidget;

class TTreeWidgetItem final : public QTreeWidgetItem, public ITreeItem {
public:
    static constexpr int ItemType = QTreeWidgetItem::UserType + 1;

    explicit TTreeWidgetItem(const std::string& text);

    std::string GetText() const override;
    void SetText(const std::string& text) override;
    int GetImageIndex() const override { return ImageIndex; }
    void SetImageIndex(int index) override;
    void* GetData() const override { return Data; }
    void SetData(void* data) override { Data = data; }

    ITreeItem* GetParent() const override;
    int GetCount() const override { return childCount(); }
    ITreeItem* GetItem(int index) const override;
    int GetIndex() const override;
    int GetSiblingCount() const override;
    ITreeItem* GetSiblingItem(int index) const override;

    ITreeItem* InsertChild(int index, const std::string& text) override;
    ITreeItem* InsertSibling(int index, const std::string& text) override;
    void MoveTo(ITreeItem* newParent, int index) override;
    void DeleteChildren() override;
    void Delete() override;

    // Shows the icon of the current image index from the tree's image list, when it has one.
    void UpdateIcon();

private:
    int ImageIndex = 0;
    void* Data = nullptr;
};

// The ITreeItem behind a widget item, or nullptr for an item of another kind.
ITreeItem* AsTreeItem(QTreeWidgetItem* item);

// Adds a top-level item at the end of the tree.
ITreeItem* AddTreeRoot(QTreeWidget* tree, const std::string& text);

// The icons the items of a tree show by image index; items outside the list show none.
void SetTreeImages(QTreeWidget* tree, const std::vector<QIcon>& icons);
