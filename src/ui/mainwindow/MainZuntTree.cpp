// The main window's project tree: its icons, popup menu and expand rules, the commands on the
// selected object (move, delete, seal, properties, range, positions), dragging items inside the
// tree, and movie files dropped on the preview, the tree and the timeline.
#include <QAction>
#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>

#include "IUiServices.h"
#include "MainZunt.h"
#include "MyEffectNodes.h"
#include "MyMovieNode.h"
#include "MyMovieRangeDlg.h"
#include "MyTimeline.h"
#include "MyTreeCommands.h"
#include "MyTreeItems.h"

namespace {

// The drag of a tree item carries this format; its value names the tree it started from.
const QString TreeDragFormat = QStringLiteral("application/x-tarvolin-tree-item");

QByteArray TreeId(const QTreeWidget* tree) {
    return QByteArray::number(reinterpret_cast<quintptr>(tree));
}

TTreeNodeData* NodeOf(QTreeWidgetItem* item) {
    ITreeItem* t = AsTreeItem(item);
    return t ? static_cast<TTreeNodeData*>(t->GetData()) : nullptr;
}

TTreeWidgetItem* ItemOf(TTreeNodeData* node) {
    return node ? dynamic_cast<TTreeWidgetItem*>(node->Item) : nullptr;
}

QIcon ToIcon(const TBitmap& b) {
    const QImage image(b.Bits(), b.Width(), b.Height(), b.RowBytes(), QImage::Format_BGR888);
    return QIcon(QPixmap::fromImage(image.copy()));
}

void SetExpandedDeep(QTreeWidgetItem* item, bool expanded) {
    for (int i = 0; i < item->childCount(); ++i)
        SetExpandedDeep(item->child(i), expanded);
    item->setExpanded(expanded);
}

// Expands the item and its descendants; a sealed node stays closed with all below it.
void ExpandOpen(QTreeWidgetItem* item) {
    if (TTreeNodeData* node = NodeOf(item); node && node->GetSealed())
        return;
    item->setExpanded(true);
    for (int i = 0; i < item->childCount(); ++i)
        ExpandOpen(item->child(i));
}

std::vector<std::string> LocalFiles(const QMimeData* data) {
    std::vector<std::string> files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files.push_back(url.toLocalFile().toStdString());
    return files;
}

bool IsDragEvent(QEvent::Type t) {
    return t == QEvent::DragEnter || t == QEvent::DragMove || t == QEvent::Drop ||
           t == QEvent::DragLeave;
}

} // namespace

// ---- set-up ----------------------------------------------------------------------------------

void TMainForm::SetupTree() {
    std::vector<QIcon> icons;
    for (const TBitmap& b : PrepareTreeIcons(MakeFolderIcons(), MakeEffectIcons()))
        icons.push_back(ToIcon(b));
    TreeIcons = static_cast<int>(icons.size());
    Project->TreeImageCount = TreeIcons;
    SetTreeImages(TreeView1, icons);

    connect(TreeView1, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { TreeItemExpansion(item, true); });
    connect(TreeView1, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { TreeItemExpansion(item, false); });
    connect(TreeView1, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (TreeView1->currentItem())
            GotoObjectEdge(false);
    });
    BuildTreePopup();
    TreeViewport = TreeView1->viewport();
    TreeView1->installEventFilter(this);
    TreeViewport->installEventFilter(this);
    TreeView1->setAcceptDrops(true);
    TreeView1->viewport()->setAcceptDrops(true);
    pBackground->setAcceptDrops(true);
    if (MainTimeline) {
        MainTimeline->Image1->setAcceptDrops(true);
        MainTimeline->Image1->installEventFilter(this);
    }
    connect(sbUp, &QToolButton::clicked, this, [this] { sbUpClick(sbUp); });
    connect(sbDown, &QToolButton::clicked, this, [this] { sbUpClick(sbDown); });
    connect(sbRange, &QToolButton::clicked, this, [this] { EditMovieRange(); });
    connect(sbProp, &QToolButton::clicked, this, [this] { Property1Click(); });
}

void TMainForm::BuildTreePopup() {
    pmTreePopup = new QMenu(this);
    miExpandAll = pmTreePopup->addAction(QStringLiteral("Expand all"));
    miCollapseAll = pmTreePopup->addAction(QStringLiteral("Collapse all"));
    pmTreePopup->addSeparator();
    miBeginPosition = pmTreePopup->addAction(QStringLiteral("Begin position"));
    miEndPosition = pmTreePopup->addAction(QStringLiteral("End position"));
    pmTreePopup->addSeparator();
    miSealed = pmTreePopup->addAction(QStringLiteral("Sealed"));
    miSealed->setCheckable(true);
    miDelete = pmTreePopup->addAction(QStringLiteral("Delete"));
    pmTreePopup->addSeparator();
    miTreeProperty = pmTreePopup->addAction(QStringLiteral("Property"));
    connect(miExpandAll, &QAction::triggered, this, [this] { Expandall1Click(true); });
    connect(miCollapseAll, &QAction::triggered, this, [this] { Expandall1Click(false); });
    connect(miBeginPosition, &QAction::triggered, this, [this] { Beginposition1Click(false); });
    connect(miEndPosition, &QAction::triggered, this, [this] { Beginposition1Click(true); });
    connect(miSealed, &QAction::triggered, this, [this] { Sealed1Click(); });
    connect(miDelete, &QAction::triggered, this, [this] { Delete1Click(); });
    connect(miTreeProperty, &QAction::triggered, this, [this] { Property2Click(); });
    TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(TreeView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        TreePopupOpening(pos);
        pmTreePopup->popup(TreeView1->viewport()->mapToGlobal(pos));
    });
}

bool TMainForm::IsRootItem(const QTreeWidgetItem* item) const {
    return item && Project && item == dynamic_cast<TTreeWidgetItem*>(Project->Item);
}

// ---- tree events -----------------------------------------------------------------------------

void TMainForm::TreeItemExpansion(QTreeWidgetItem* item, bool expanded) {
    if (Closing)
        return;
    TTreeNodeData* node = NodeOf(item);
    if (!node)
        return;
    // The project stays open and a sealed object stays closed.
    if (!expanded && !item->parent()) {
        item->setExpanded(true);
        return;
    }
    if (expanded && node->GetSealed()) {
        item->setExpanded(false);
        return;
    }
    int image = node->ImageIndex;
    if (node->GetSealed())
        image += TreeIcons / 2;
    else if (expanded && dynamic_cast<TCustomFolderNode*>(node))
        image += 10;
    node->Item->SetImageIndex(image);
}

bool TMainForm::TreeEvent(QObject* watched, QEvent* event) {
    if (!TreeView1 || !watched)
        return false;
    if (watched == TreeView1) {
        if (event->type() == QEvent::KeyRelease &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
            Delete1Click();
            return true;
        }
        if (event->type() == QEvent::FocusIn)
            UpdateUpDownButtons();
        return false;
    }
    if (watched != TreeViewport)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        TreePressPos = e->position().toPoint();
        TreePressed = e->button() == Qt::LeftButton && TreeView1->itemAt(TreePressPos);
        return false;
    }
    case QEvent::MouseButtonRelease:
        TreePressed = false;
        return false;
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (!TreePressed || !(e->buttons() & Qt::LeftButton))
            return false;
        // Until the drag starts the tree must not follow the mouse: its own drag-select would
        // make the row under the mouse current, and the drag would carry that row instead.
        if ((e->position().toPoint() - TreePressPos).manhattanLength() <
            QApplication::startDragDistance())
            return true;
        TreePressed = false;
        StartTreeDrag();
        return true;
    }
    default:
        return IsDragEvent(event->type()) && TreeDragEvent(event);
    }
}

void TMainForm::StartTreeDrag() {
    QTreeWidgetItem* pressed = TreeView1->itemAt(TreePressPos);
    if (!NodeOf(pressed))
        return;
    // The drag and drop work on the selected item: the pressed one.
    TreeView1->setCurrentItem(pressed);
    auto* drag = new QDrag(TreeView1);
    drag->setMimeData(MakeTreeDragData());
    ExecTreeDrag(drag);
}

void TMainForm::ExecTreeDrag(QDrag* drag) {
    // The drop moves the item itself: the drag never removes anything at its end.
    drag->exec(Qt::MoveAction);
}

QMimeData* TMainForm::MakeTreeDragData() const {
    auto* data = new QMimeData;
    data->setData(TreeDragFormat, TreeId(TreeView1));
    return data;
}

bool TMainForm::TreeDragEvent(QEvent* event) {
    if (event->type() == QEvent::DragLeave)
        return true;
    auto* e = static_cast<QDropEvent*>(event);
    const QMimeData* data = e->mimeData();
    const bool fromTree = data && data->data(TreeDragFormat) == TreeId(TreeView1);
    if (!fromTree)
        return FileDropEvent(TreeViewport, event);
    QTreeWidgetItem* target = TreeView1->itemAt(e->position().toPoint());
    if (event->type() == QEvent::DragEnter) {
        e->acceptProposedAction();
        return true;
    }
    const bool accept = TreeView1DragOver(target);
    if (accept && event->type() == QEvent::Drop)
        TreeView1DragDrop(target);
    e->setDropAction(Qt::MoveAction);
    e->setAccepted(accept);
    return true;
}

void TMainForm::TreePopupOpening(const QPoint& pos) {
    if (QTreeWidgetItem* item = TreeView1->itemAt(pos); item && NodeOf(item)) {
        TreeView1->setCurrentItem(item);
        Project->SetActiveNode(NodeOf(item));
    }
    miSealed->setChecked(false);
    miSealed->setEnabled(false);
    miDelete->setEnabled(DeleteSelectedObject(true));
    TTreeNodeData* active = Project->GetActiveNode();
    miBeginPosition->setEnabled(active != nullptr);
    miEndPosition->setEnabled(active != nullptr);
    // On the project's item Property opens the project settings.
    miTreeProperty->setEnabled(IsRootItem(TreeView1->currentItem()));
    if (active) {
        miSealed->setChecked(active->GetSealed());
        miSealed->setEnabled(active->GetChildCount() > 0);
        miTreeProperty->setEnabled(!dynamic_cast<TQueueFolder*>(active));
    }
}

// ---- commands ----------------------------------------------------------------------------------

void TMainForm::Expandall1Click(bool expand) {
    QTreeWidgetItem* root = TreeView1->topLevelItem(0);
    if (!root)
        return;
    if (expand) {
        ExpandOpen(root);
        return;
    }
    SetExpandedDeep(root, false);
    root->setExpanded(true);
}

void TMainForm::Beginposition1Click(bool atEnd) {
    if (!Project->GetActiveNode())
        return;
    GotoObjectEdge(atEnd);
    TimelineLink->LocateCursor(2);
}

void TMainForm::miFindStartingPointClick(bool atEnd) {
    Beginposition1Click(atEnd);
}

void TMainForm::GotoObjectEdge(bool atEnd) {
    TTreeNodeData* node = Project->GetActiveNode();
    if (!node)
        return;
    const Extended t = atEnd ? node->GetEndTime() : node->GetStartTime();
    TimelineLink->SetFramePos(Round(Project->GetFPS() * t) + 1);
    TimelineLink->LocateCursor(2);
}

void TMainForm::Sealed1Click() {
    TTreeNodeData* node = Project->GetActiveNode();
    TTreeWidgetItem* item = ItemOf(node);
    if (!item)
        return;
    const bool sealed = !node->GetSealed();
    miSealed->setChecked(sealed);
    node->SetSealed(sealed);
    UpdateEditorButtons();
    Project->Refresh();
    if (sealed)
        SetExpandedDeep(item, false);
    item->SetImageIndex(node->ImageIndex + (sealed ? TreeIcons / 2 : 0));
    TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(Project->Item));
    TreeView1->setCurrentItem(item);
    TimelineLink->RequestRepaint();
}

bool TMainForm::DeleteSelectedObject(bool testOnly) {
    QTreeWidgetItem* item = TreeView1->currentItem();
    TTreeNodeData* node = NodeOf(item);
    // Nothing is taken out of the tree while the root is rendering or playing.
    if (!node || Project->Busy || RenderBusy)
        return false;
    if (const auto refusal = DeleteRefusal(node, Project.get())) {
        if (!testOnly)
            Ui->ShowMessage(*refusal);
        return false;
    }
    if (testOnly)
        return true;
    if (Ui->Ask(DeleteQuestion(item->text(0).toStdString()), TMsgButtons::OKCancel,
                TMsgKind::Confirmation) != TMsgResult::OK)
        return false;
    Project->DeleteNode(node->Item);
    Ui->ProcessMessages();
    RefreshProject(true);
    return true;
}

void TMainForm::Delete1Click() {
    DeleteSelectedObject(false);
}

void TMainForm::Property1Click() {
    if (Project->GetActiveNode())
        EditNodeProperties(true);
}

void TMainForm::Property2Click() {
    if (IsRootItem(TreeView1->currentItem()))
        Projectproperty1Click();
    else
        EditNodeProperties(true);
}

void TMainForm::sbUpClick(QToolButton* sender) {
    QTreeWidgetItem* item = TreeView1->currentItem();
    TTreeNodeData* node = NodeOf(item);
    TTreeNodeData* parent = node ? node->GetParent() : nullptr;
    if (!parent)
        return;
    const TUpDownState allowed = GetUpDownState(node, true);
    const int index = node->GetIndex();
    if (sender == sbUp && allowed.Up)
        MoveNodeByMode(node, parent->GetChild(index - 1), taInsertBefore);
    else if (sender == sbDown && allowed.Down && index + 2 < parent->GetChildCount())
        MoveNodeByMode(node, parent->GetChild(index + 2), taInsertBefore);
    else if (sender == sbDown && allowed.Down)
        MoveNodeByMode(node, parent, taLastChild);
    else
        return;
    TreeView1->setCurrentItem(item);
    RefreshProject(true);
    UpdateUpDownButtons();
}

void TMainForm::UpdateUpDownButtons() {
    const TUpDownState st = GetUpDownState(Project->GetActiveNode(), TreeView1->hasFocus());
    SetCommandEnabled(sbUp, st.Up);
    SetCommandEnabled(sbDown, st.Down);
}

void TMainForm::EditMovieRange() {
    TTreeNodeData* node = Project->GetActiveNode();
    TPartialInfo* range = nullptr;
    if (auto* durable = dynamic_cast<TCustomDurableNode*>(node))
        range = &durable->ClipRange;
    else if (auto* overlay = dynamic_cast<TOverlayNode*>(node))
        range = &overlay->ClipRange;
    if (!range)
        return;
    if (node->FileName.empty()) {
        Ui->ShowMessage("Can not open " + node->GetStoredFileName());
        return;
    }
    // The dialog reads the file itself; an unreadable one is named. It steps at the object's
    // rate and sits on the preview's background.
    TPartialInfo edited = *range;
    const TMovieRangeSetup setup{RangeStepRate(node),
                                 pBackground->palette().color(QPalette::Window)};
    if (!TMovieRangeDlg::Execute(node->FileName, edited, Ui, this, setup))
        return;
    *range = edited;
    Project->Refresh();
    TimelineLink->RequestRepaint();
}

// ---- tree drag --------------------------------------------------------------------------------

bool TMainForm::TreeView1DragOver(QTreeWidgetItem* target) {
    QTreeWidgetItem* source = TreeView1->currentItem();
    if (!source || !target || source == target || Project->Busy || RenderBusy)
        return false;
    return TreeDragAccept(NodeOf(source), NodeOf(target));
}

void TMainForm::TreeView1DragDrop(QTreeWidgetItem* target) {
    if (!TreeView1DragOver(target))
        return;
    QTreeWidgetItem* source = TreeView1->currentItem();
    TTreeNodeData* s = NodeOf(source);
    TTreeDropChoice c = TreeDropChoice(s, NodeOf(target), source->text(0).toStdString(),
                                       target->text(0).toStdString());
    if (c.Ask) {
        switch (Ui->Ask(c.Question, TMsgButtons::YesNoCancel, TMsgKind::Confirmation)) {
        case TMsgResult::Yes:
            c.Mode = c.AskYes;
            break;
        case TMsgResult::No:
            c.Mode = c.AskNo;
            break;
        default:
            return;
        }
    }
    MoveNodeByMode(s, c.Target, c.Mode);
    TreeView1->setCurrentItem(source);
    RefreshProject(true);
}

// ---- file drops ---------------------------------------------------------------------------------

bool TMainForm::FileDropEvent(QObject* watched, QEvent* event) {
    if (!IsDragEvent(event->type()) || event->type() == QEvent::DragLeave)
        return false;
    TDropTarget target;
    if (watched == pBackground)
        target = TDropTarget::Preview;
    else if (watched == TreeViewport)
        target = TDropTarget::Tree;
    else if (MainTimeline && watched == MainTimeline->Image1)
        target = TDropTarget::Timeline;
    else
        return false;
    auto* e = static_cast<QDropEvent*>(event);
    if (!e->mimeData() || !e->mimeData()->hasUrls()) {
        e->ignore();
        return true;
    }
    e->acceptProposedAction();
    if (event->type() == QEvent::Drop)
        HandleDroppedFiles(LocalFiles(e->mimeData()), target, e->position().toPoint());
    return true;
}

void TMainForm::HandleDroppedFiles(const std::vector<std::string>& files, TDropTarget target,
                                   const QPoint& pos) {
    if (Closing || Project->Busy || RenderBusy)
        return;
    const std::optional<std::string> movie = PickDroppedMovie(files);
    if (!movie)
        return;
    switch (target) {
    case TDropTarget::Preview:
        AddDroppedMovie(*movie);
        break;
    case TDropTarget::Tree:
        DropMovieOnTree(*movie, pos);
        break;
    case TDropTarget::Timeline:
        DropMovieOnTimeline(*movie, pos);
        break;
    }
}

bool TMainForm::AddDroppedMovie(const std::string& fileName) {
    TQueueFolder* track = Project->VideoTrack;
    if (!track)
        return false;
    const std::string name = "Dropped: " + std::filesystem::path(fileName).filename().string();
    TTreeNodeData* node = Project->AddChild(amLastChild, nkVideo, track->Item, name);
    auto* movie = dynamic_cast<TMovieNode*>(node);
    if (!movie)
        return false;
    movie->SetFileName(fileName);
    // The reader has told why it could not read the file; an empty clip is not kept.
    if (movie->FileName != fileName || movie->SourceFrameCount <= 0) {
        Project->DeleteNode(movie->Item);
        return false;
    }
    movie->PlaceBetweenPegs();
    Project->SetActiveNode(movie);
    RefreshProject(false);
    GotoObjectEdge(false);
    TimelineLink->RequestRepaint();
    if (auto* item = ItemOf(track))
        item->setExpanded(true);
    return true;
}

void TMainForm::PlaceDroppedMovie(const std::string& fileName, TTreeNodeData* target) {
    if (target && target->GetSealed() && dynamic_cast<TQueueFolder*>(target)) {
        Ui->ShowMessage(SealedTrackText(target->GetCaption()));
        return;
    }
    // A failed add has told why already.
    if (!AddDroppedMovie(fileName))
        return;
    TTreeNodeData* node = Project->GetActiveNode();
    if (dynamic_cast<TMasterNode*>(target))
        MoveNodeByMode(node, target, taInsertBefore);
    else if (dynamic_cast<TQueueFolder*>(target) && target->GetTreeLevel() != 1)
        MoveNodeByMode(node, target, taLastChild);
    Project->SetActiveNode(node);
    RefreshProject(false);
    GotoObjectEdge(false);
    TimelineLink->RequestRepaint();
}

void TMainForm::DropMovieOnTree(const std::string& fileName, const QPoint& pos) {
    TTreeNodeData* target = NodeOf(TreeView1->itemAt(pos));
    if (!target)
        return;
    PlaceDroppedMovie(fileName, target);
}

void TMainForm::DropMovieOnTimeline(const std::string& fileName, const QPoint& pos) {
    if (!MainTimeline)
        return;
    PlaceDroppedMovie(fileName, MainTimeline->ObjectAtPoint(pos.x(), pos.y()));
}
