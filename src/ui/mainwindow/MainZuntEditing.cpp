// The main window's editing state: arrange or adjust mode, the active object chosen on the
// timeline or in the tree, and the editor buttons that follow both.
#include <QToolButton>
#include <QTreeWidget>

#include "MainZunt.h"
#include "MyTreeItems.h"

void TMainForm::sbArrangeClick(QToolButton* sender) {
    Project->Stop();
    TimelineLink->ResetEditor();
    // The click of an exclusive button leaves it down; a click on the down one keeps it.
    sender->setChecked(true);
    TimelineLink->SetAdjustMode(sender == sbAdjust);
    UpdateEditorButtons();
    if (TimelineLink)
        TimelineLink->RequestRepaint();
}

void TMainForm::UpdateEditorButtons() {
    for (QToolButton* b : {sbRange, sbProp, sbAddVideo, sbAddEffect})
        SetCommandEnabled(b, false);
    UpdateUpDownButtons();
    if (!sbArrange->isChecked())
        return;
    SetCommandEnabled(sbAddVideo, true);
    if (TreeView1->currentItem() == static_cast<TTreeWidgetItem*>(Project->Item)) {
        SetCommandEnabled(sbAddEffect, true);
        return;
    }
    TTreeNodeData* active = Project->GetActiveNode();
    if (!active)
        return;
    const bool open = !active->GetSealed();
    SetCommandEnabled(sbAddVideo, open);
    SetCommandEnabled(sbAddEffect, open);
    SetCommandEnabled(sbProp, true);
    const bool movieOverlay = active->Kind == nkOverlay && active->GetExternalKind() == 3;
    SetCommandEnabled(sbRange, active->Kind == nkVideo || movieOverlay);
}

void TMainForm::TreeView1Change(QTreeWidgetItem* item) {
    if (Closing || !Project)
        return;
    ITreeItem* treeItem = AsTreeItem(item);
    auto* node = treeItem ? static_cast<TTreeNodeData*>(treeItem->GetData()) : nullptr;
    // The root's item stands for no object.
    if (node == Project.get())
        node = nullptr;
    if (node != Project->GetActiveNode())
        Project->SetActiveNode(node);
    UpdateEditorButtons();
    if (TimelineLink)
        TimelineLink->RequestRepaint();
}

void TMainForm::ProjectChanged(TTreeNodeData* node) {
    if (Closing)
        return;
    // The timeline chose the object: the tree shows it selected.
    auto* item = node ? dynamic_cast<TTreeWidgetItem*>(node->Item) : nullptr;
    if (item && TreeView1->currentItem() != item)
        TreeView1->setCurrentItem(item);
    UpdateEditorButtons();
    if (TimelineLink)
        TimelineLink->RequestRepaint();
}
