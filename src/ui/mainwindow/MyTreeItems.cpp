#include "MyTreeItems.h"

#include <QTreeWidget>
#include <QVariant>
#include <algorithm>

#include "MyExceptions.h"

namespace {

constexpr const char* ImagesProperty = "tarvolinTreeImages";

void CheckIndex(const char* where, int index, int count) {
    if (index < 0 || index > count)
        throw EListError(std::string(where) + ": index out of bounds", index, count);
}

} // namespace

TTreeWidgetItem::TTreeWidgetItem(const std::string& text) : QTreeWidgetItem(ItemType) {
    setText(0, QString::fromStdString(text));
}

std::string TTreeWidgetItem::GetText() const {
    return text(0).toStdString();
}

void TTreeWidgetItem::SetText(const std::string& text) {
    setText(0, QString::fromStdString(text));
}

void TTreeWidgetItem::SetImageIndex(int index) {
    ImageIndex = index;
    UpdateIcon();
}

void TTreeWidgetItem::UpdateIcon() {
    QTreeWidget* tree = treeWidget();
    if (!tree)
        return;
    const QVariant v = tree->property(ImagesProperty);
    const auto icons = v.value<QList<QIcon>>();
    setIcon(0, ImageIndex >= 0 && ImageIndex < icons.size() ? icons[ImageIndex] : QIcon());
}

ITreeItem* TTreeWidgetItem::GetParent() const {
    return AsTreeItem(parent());
}

ITreeItem* TTreeWidgetItem::GetItem(int index) const {
    if (index < 0 || index >= childCount())
        throw EListError("TTreeWidgetItem.GetItem: index out of bounds", index, childCount());
    return AsTreeItem(child(index));
}

int TTreeWidgetItem::GetIndex() const {
    if (QTreeWidgetItem* p = parent())
        return p->indexOfChild(const_cast<TTreeWidgetItem*>(this));
    if (QTreeWidget* tree = treeWidget())
        return tree->indexOfTopLevelItem(const_cast<TTreeWidgetItem*>(this));
    return 0;
}

int TTreeWidgetItem::GetSiblingCount() const {
    if (QTreeWidgetItem* p = parent())
        return p->childCount();
    if (QTreeWidget* tree = treeWidget())
        return tree->topLevelItemCount();
    return 1;
}

ITreeItem* TTreeWidgetItem::GetSiblingItem(int index) const {
    const int count = GetSiblingCount();
    if (index < 0 || index >= count)
        throw EListError("TTreeWidgetItem.GetSiblingItem: index out of bounds", index, count);
    if (QTreeWidgetItem* p = parent())
        return AsTreeItem(p->child(index));
    if (QTreeWidget* tree = treeWidget())
        return AsTreeItem(tree->topLevelItem(index));
    return const_cast<TTreeWidgetItem*>(this);
}

ITreeItem* TTreeWidgetItem::InsertChild(int index, const std::string& text) {
    CheckIndex("TTreeWidgetItem.InsertChild", index, childCount());
    auto* item = new TTreeWidgetItem(text); // owned by this item from here on
    insertChild(index, item);
    item->UpdateIcon();
    return item;
}

ITreeItem* TTreeWidgetItem::InsertSibling(int index, const std::string& text) {
    CheckIndex("TTreeWidgetItem.InsertSibling", index, GetSiblingCount());
    QTreeWidgetItem* p = parent();
    QTreeWidget* tree = treeWidget();
    if (!p && !tree)
        throw EInvalidOperation("TTreeWidgetItem.InsertSibling: item is not in a tree");
    auto* item = new TTreeWidgetItem(text); // owned by the parent or the tree
    if (p)
        p->insertChild(index, item);
    else
        tree->insertTopLevelItem(index, item);
    item->UpdateIcon();
    return item;
}

void TTreeWidgetItem::MoveTo(ITreeItem* newParent, int index) {
    auto* target = dynamic_cast<TTreeWidgetItem*>(newParent);
    if (newParent && !target)
        throw EInvalidOperation("TTreeWidgetItem.MoveTo: parent is not an item of this tree");
    for (QTreeWidgetItem* p = target; p; p = p->parent())
        if (p == this)
            throw EInvalidOperation("TTreeWidgetItem.MoveTo: item moved into itself");
    QTreeWidget* tree = treeWidget();
    if (!target && !tree)
        throw EInvalidOperation("TTreeWidgetItem.MoveTo: item is not in a tree");
    // Taking an item out keeps its children with it; the expanded state and the selection,
    // which Qt hands to a neighbour, are restored after.
    const bool expanded = isExpanded();
    QTreeWidgetItem* current = tree ? tree->currentItem() : nullptr;
    bool selectedInside = false;
    for (QTreeWidgetItem* p = current; p && !selectedInside; p = p->parent())
        selectedInside = p == this;
    if (QTreeWidgetItem* p = parent())
        p->takeChild(p->indexOfChild(this));
    else if (tree)
        tree->takeTopLevelItem(tree->indexOfTopLevelItem(this));
    if (target) {
        target->insertChild(std::clamp(index, 0, target->childCount()), this);
    } else {
        tree->insertTopLevelItem(std::clamp(index, 0, tree->topLevelItemCount()), this);
    }
    setExpanded(expanded);
    if (selectedInside && treeWidget())
        treeWidget()->setCurrentItem(current);
}

void TTreeWidgetItem::DeleteChildren() {
    // Last to first, as nodes free their children.
    while (childCount() > 0)
        delete takeChild(childCount() - 1);
}

void TTreeWidgetItem::Delete() {
    // The item's destructor takes it out of its parent or tree and frees its children.
    delete this;
}

ITreeItem* AsTreeItem(QTreeWidgetItem* item) {
    if (!item || item->type() != TTreeWidgetItem::ItemType)
        return nullptr;
    return static_cast<TTreeWidgetItem*>(item);
}

ITreeItem* AddTreeRoot(QTreeWidget* tree, const std::string& text) {
    auto* item = new TTreeWidgetItem(text); // owned by the tree
    tree->addTopLevelItem(item);
    item->UpdateIcon();
    return item;
}

void SetTreeImages(QTreeWidget* tree, const std::vector<QIcon>& icons) {
    tree->setProperty(ImagesProperty,
                      QVariant::fromValue(QList<QIcon>(icons.begin(), icons.end())));
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if ((*it)->type() == TTreeWidgetItem::ItemType)
            static_cast<TTreeWidgetItem*>(*it)->UpdateIcon();
}
