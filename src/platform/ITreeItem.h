// An item of the project tree view as the engine sees it: text, image index, the node it
// stands for, and its place among its siblings. The program implements it on its tree
// widget; the engine and its tests use TMemTreeItem.
#pragma once

#include <memory>
#include <string>
#include <vector>

class ITreeItem {
public:
    virtual ~ITreeItem() = default;

    virtual std::string GetText() const = 0;
    virtual void SetText(const std::string& text) = 0;
    virtual int GetImageIndex() const = 0;
    virtual void SetImageIndex(int index) = 0;
    // The object this item stands for (a node), not owned.
    virtual void* GetData() const = 0;
    virtual void SetData(void* data) = 0;

    // nullptr for a top-level item.
    virtual ITreeItem* GetParent() const = 0;
    virtual int GetCount() const = 0;
    virtual ITreeItem* GetItem(int index) const = 0;
    // Index among the siblings (top-level items count among the top-level items).
    virtual int GetIndex() const = 0;
    // Number of items sharing this item's parent, this one included.
    virtual int GetSiblingCount() const = 0;
    // The sibling at index (this item's own list, top level included).
    virtual ITreeItem* GetSiblingItem(int index) const = 0;

    // New child at index (0..GetCount()); returns it. The tree owns the new item.
    virtual ITreeItem* InsertChild(int index, const std::string& text) = 0;
    // New sibling at index among this item's siblings (0..GetSiblingCount()).
    virtual ITreeItem* InsertSibling(int index, const std::string& text) = 0;
    // Moves this item (with its children) under newParent (nullptr: top level) at index.
    virtual void MoveTo(ITreeItem* newParent, int index) = 0;
    // Deletes every child item.
    virtual void DeleteChildren() = 0;
    // Removes this item and its children from the tree and frees them. `this` is gone after.
    virtual void Delete() = 0;

    ITreeItem* AddChild(const std::string& text) { return InsertChild(GetCount(), text); }
    // Depth of the item; 0 for a top-level item.
    int GetLevel() const {
        int level = 0;
        for (ITreeItem* p = GetParent(); p; p = p->GetParent())
            ++level;
        return level;
    }
    // The item that follows this one in a depth-first walk of the whole tree, or nullptr.
    ITreeItem* GetNext() const;
};

// Plain in-memory tree: a forest of top-level items owned by a TMemTree.
class TMemTree;

class TMemTreeItem final : public ITreeItem {
public:
    std::string GetText() const override { return Text; }
    void SetText(const std::string& text) override { Text = text; }
    int GetImageIndex() const override { return ImageIndex; }
    void SetImageIndex(int index) override { ImageIndex = index; }
    void* GetData() const override { return Data; }
    void SetData(void* data) override { Data = data; }
    ITreeItem* GetParent() const override { return Parent; }
    int GetCount() const override;
    ITreeItem* GetItem(int index) const override;
    int GetIndex() const override;
    int GetSiblingCount() const override;
    ITreeItem* GetSiblingItem(int index) const override;
    ITreeItem* InsertChild(int index, const std::string& text) override;
    ITreeItem* InsertSibling(int index, const std::string& text) override;
    void MoveTo(ITreeItem* newParent, int index) override;
    void DeleteChildren() override;
    void Delete() override;

private:
    friend class TMemTree;
    TMemTreeItem(TMemTree* tree, TMemTreeItem* parent, std::string text)
        : Tree(tree), Parent(parent), Text(std::move(text)) {}
    std::vector<std::unique_ptr<TMemTreeItem>>& Siblings() const;

    TMemTree* Tree;
    TMemTreeItem* Parent;
    std::string Text;
    int ImageIndex = 0;
    void* Data = nullptr;
    std::vector<std::unique_ptr<TMemTreeItem>> Children;
};

class TMemTree {
public:
    TMemTree() = default;
    TMemTree(const TMemTree&) = delete;
    TMemTree& operator=(const TMemTree&) = delete;

    ITreeItem* AddRoot(const std::string& text);
    int GetCount() const { return static_cast<int>(Roots.size()); }
    ITreeItem* GetItem(int index) const;

private:
    friend class TMemTreeItem;
    std::vector<std::unique_ptr<TMemTreeItem>> Roots;
};
