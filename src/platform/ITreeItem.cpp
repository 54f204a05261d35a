#include "ITreeItem.h"

#include <algorithm>

#include "MyExceptions.h"

ITreeItem* ITreeItem::GetNext() const {
    if (GetCount() > 0)
        return GetItem(0);
    const ITreeItem* cur = this;
    while (cur) {
        int next = cur->GetIndex() + 1;
        if (next < cur->GetSiblingCount())
            return cur->GetSiblingItem(next);
        cur = cur->GetParent();
    }
    return nullptr;
}

static void CheckIndex(const char* where, int index, int count) {
    if (index < 0 || index > count)
        throw EListError(std::string(where) + ": index out of bounds", index, count);
}

std::vector<std::unique_ptr<TMemTreeItem>>& TMemTreeItem::Siblings() const {
    return Parent ? Parent->Children : Tree->Roots;
}

int TMemTreeItem::GetCount() const {
    return static_cast<int>(Children.size());
}

ITreeItem* TMemTreeItem::GetItem(int index) const {
    if (index < 0 || index >= GetCount())
        throw EListError("TMemTreeItem.GetItem: index out of bounds", index, GetCount());
    return Children[index].get();
}

int TMemTreeItem::GetIndex() const {
    auto& s = Siblings();
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i].get() == this)
            return static_cast<int>(i);
    return -1;
}

int TMemTreeItem::GetSiblingCount() const {
    return static_cast<int>(Siblings().size());
}

ITreeItem* TMemTreeItem::GetSiblingItem(int index) const {
    auto& s = Siblings();
    if (index < 0 || index >= static_cast<int>(s.size()))
        throw EListError("TMemTreeItem.GetSiblingItem: index out of bounds", index,
                         static_cast<int>(s.size()));
    return s[index].get();
}

ITreeItem* TMemTreeItem::InsertChild(int index, const std::string& text) {
    CheckIndex("TMemTreeItem.InsertChild", index, GetCount());
    auto item = std::unique_ptr<TMemTreeItem>(new TMemTreeItem(Tree, this, text));
    TMemTreeItem* raw = item.get();
    Children.insert(Children.begin() + index, std::move(item));
    return raw;
}

ITreeItem* TMemTreeItem::InsertSibling(int index, const std::string& text) {
    auto& s = Siblings();
    CheckIndex("TMemTreeItem.InsertSibling", index, static_cast<int>(s.size()));
    auto item = std::unique_ptr<TMemTreeItem>(new TMemTreeItem(Tree, Parent, text));
    TMemTreeItem* raw = item.get();
    s.insert(s.begin() + index, std::move(item));
    return raw;
}

void TMemTreeItem::MoveTo(ITreeItem* newParent, int index) {
    auto* target = static_cast<TMemTreeItem*>(newParent);
    for (TMemTreeItem* p = target; p; p = p->Parent)
        if (p == this)
            throw EInvalidOperation("TMemTreeItem.MoveTo: item moved into itself");
    auto& from = Siblings();
    int at = GetIndex();
    std::unique_ptr<TMemTreeItem> self = std::move(from[at]);
    from.erase(from.begin() + at);
    auto& to = target ? target->Children : Tree->Roots;
    index = std::clamp(index, 0, static_cast<int>(to.size()));
    Parent = target;
    to.insert(to.begin() + index, std::move(self));
}

void TMemTreeItem::DeleteChildren() {
    // Last to first, as nodes free their children.
    while (!Children.empty())
        Children.pop_back();
}

void TMemTreeItem::Delete() {
    auto& s = Siblings();
    int at = GetIndex();
    std::unique_ptr<TMemTreeItem> self = std::move(s[at]);
    s.erase(s.begin() + at);
    // self goes out of scope here and frees this item and its children.
}

ITreeItem* TMemTree::AddRoot(const std::string& text) {
    auto item = std::unique_ptr<TMemTreeItem>(new TMemTreeItem(this, nullptr, text));
    TMemTreeItem* raw = item.get();
    Roots.push_back(std::move(item));
    return raw;
}

ITreeItem* TMemTree::GetItem(int index) const {
    if (index < 0 || index >= GetCount())
        throw EListError("TMemTree.GetItem: index out of bounds", index, GetCount());
    return Roots[index].get();
}
