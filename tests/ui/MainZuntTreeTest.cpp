// The main window's project tree in the real window, offscreen: delete refusals and questions,
// sealing, up and down, tree drags with a save and reload, file drops on the three targets, and
// the add commands through the scripted add-object and property dialogs.
#include <QMenu>
#include <QUrl>

#include "DlgAddObject.h"
#include "MainWindowRig.h"
#include "MyEffectNodes.h"
#include "MyMovieRangeDlg.h"
#include "MyPropDlg.h"
#include "NumberedMovie.h"

namespace {

QTreeWidgetItem* ItemOf(TTreeNodeData* n) {
    return dynamic_cast<TTreeWidgetItem*>(n->Item);
}

class MainTree : public TMainWindowRig<> {
protected:
    void TearDown() override {
        TAddObjectDlg::ExecHook = nullptr;
        TPropDlg::ExecHook = nullptr;
        TMovieRangeDlg::ExecHook = nullptr;
        TMainWindowRig::TearDown();
    }
    TTreeNodeData* Add(TTreeNodeData* parent, const std::string& name, uint8_t kind) {
        TTreeNodeData* n = parent->AddNode(name, amLastChild, kind);
        n->UserDuration = 1;
        return n;
    }
    void Select(TTreeNodeData* n) {
        Form->TreeView1->setCurrentItem(ItemOf(n));
        PumpEvents();
    }
    std::string Movie(const std::string& name) {
        BuildAvi(NumberedMovieSpec({})).Save(File(name));
        return File(name);
    }
    QPoint Centre(TTreeNodeData* n) const {
        return Form->TreeView1->visualItemRect(ItemOf(n)).center();
    }
    QWidget* Viewport() const { return Form->TreeView1->viewport(); }
};

} // namespace

TEST_F(MainTree, DeleteRefusesTheFixedNodesAndAsksForTheRest) {
    TTreeNodeData* group = Add(Root->VideoTrack, "Group", nkGroup);
    TTreeNodeData* queue = group->AddNode("Queue", amLastChild, nkVideoTrack);
    TTreeNodeData* blank = Add(Root->VideoTrack, "Black", nkBlank);
    Form->RefreshProject(true);
    for (TTreeNodeData* node : {static_cast<TTreeNodeData*>(Root), queue}) {
        Select(node);
        Form->TreePopupOpening(Centre(node));
        EXPECT_FALSE(Form->miDelete->isEnabled());
        QTest::keyClick(Form->TreeView1, Qt::Key_Delete);
    }
    EXPECT_EQ(Ui.Messages, (TNames{"Can not delete project node", "Can not delete Queue node"}));
    Form->TreePopupOpening(Centre(blank));
    EXPECT_TRUE(Form->miDelete->isEnabled());
    EXPECT_EQ(Root->GetActiveNode(), blank);
    Ui.Answers = {TMsgResult::Cancel, TMsgResult::OK};
    Form->miDelete->trigger();
    EXPECT_EQ(Ui.Questions, TNames{"Delete selected object (Black)?"});
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 2);
    QTest::keyClick(Form->TreeView1, Qt::Key_Delete);
    PumpEvents();
    EXPECT_EQ(Captions(Root->VideoTrack), TNames{"Group"});
}

TEST_F(MainTree, SealingClosesTheItemKeepsItClosedAndFramesItsIconRed) {
    const int half = Form->TreeIconCount() / 2;
    EXPECT_EQ(Root->TreeImageCount, Form->TreeIconCount());
    EXPECT_GE(half, 20);
    TTreeNodeData* group = Add(Root->VideoTrack, "Group", nkGroup);
    Add(group->AddNode("Queue", amLastChild, nkVideoTrack), "Black", nkBlank);
    Form->RefreshProject(true);
    QTreeWidgetItem* item = ItemOf(group);
    Form->Expandall1Click(true);
    EXPECT_TRUE(item->isExpanded());
    EXPECT_EQ(AsTreeItem(item)->GetImageIndex(), group->ImageIndex + 10);

    Form->TreePopupOpening(Centre(group));
    EXPECT_TRUE(Form->miSealed->isEnabled() && !Form->miSealed->isChecked());
    Form->miSealed->trigger();
    PumpEvents();
    EXPECT_EQ(std::tuple(group->GetSealed(), item->isExpanded(), Form->TreeView1->currentItem()),
              std::tuple(true, false, item));
    item->setExpanded(true);
    Form->Expandall1Click(true);
    EXPECT_FALSE(item->isExpanded());
    // The red frame stays through a refresh and a collapse.
    Form->RefreshProject(true);
    item->setExpanded(false);
    EXPECT_EQ(AsTreeItem(item)->GetImageIndex(), group->ImageIndex + half);
    EXPECT_EQ(item->icon(0).pixmap(16, 16).toImage().pixel(15, 8) & 0xFFFFFF, 0xFF0000u);

    Form->TreePopupOpening(Centre(group));
    EXPECT_TRUE(Form->miSealed->isChecked());
    Form->miSealed->trigger();
    EXPECT_FALSE(group->GetSealed());
    EXPECT_EQ(AsTreeItem(item)->GetImageIndex(), group->ImageIndex);
    // The project's item never closes.
    Form->Expandall1Click(false);
    EXPECT_TRUE(Form->TreeView1->topLevelItem(0)->isExpanded());
    EXPECT_FALSE(ItemOf(Root->VideoTrack)->isExpanded());
}

TEST_F(MainTree, UpAndDownMoveWithinTheTrackOnly) {
    for (const char* n : {"A", "B", "C"})
        Add(Root->VideoTrack, n, nkBlank);
    Form->RefreshProject(true);
    QApplication::setActiveWindow(Form.get());
    Form->TreeView1->setFocus();
    Select(Root->VideoTrack->GetChild(2));
    ASSERT_TRUE(Form->TreeView1->hasFocus());
    EXPECT_TRUE(Form->sbUp->isEnabled() && !Form->sbDown->isEnabled());
    Form->sbUp->click();
    EXPECT_EQ(Captions(Root->VideoTrack), (TNames{"A", "C", "B"}));
    PumpEvents();
    EXPECT_TRUE(Form->sbDown->isEnabled());
    Select(Root->VideoTrack->GetChild(0));
    Form->sbDown->click();
    EXPECT_EQ(Captions(Root->VideoTrack), (TNames{"C", "A", "B"}));
    Form->sbDown->click();
    EXPECT_EQ(Captions(Root->VideoTrack), (TNames{"C", "B", "A"}));
    // The project's video track keeps its place.
    Select(Root->VideoTrack);
    EXPECT_FALSE(Form->sbUp->isEnabled() || Form->sbDown->isEnabled());
    // A refresh after a change elsewhere updates them for the same selection.
    Select(Root->VideoTrack->GetChild(2));
    EXPECT_FALSE(Form->sbDown->isEnabled());
    Add(Root->VideoTrack, "D", nkBlank);
    Form->RefreshProject(false);
    EXPECT_TRUE(Form->sbDown->isEnabled());
    // They belong to the tree's keyboard focus: gone with it at the next refresh, back when
    // the tree takes it again.
    Form->sbUp->setFocus();
    Form->RefreshProject(false);
    EXPECT_FALSE(Form->sbUp->isEnabled() || Form->sbDown->isEnabled());
    Form->TreeView1->setFocus();
    EXPECT_TRUE(Form->sbUp->isEnabled() && Form->sbDown->isEnabled());
}

TEST_F(MainTree, FindStartNeedsAnActiveObject) {
    Root->SetActiveNode(nullptr);
    emit Form->mnFind->aboutToShow();
    EXPECT_FALSE(Form->miFindStart->isEnabled());
    EXPECT_TRUE(Form->miFindEnd->isEnabled());
    TTreeNodeData* blank = Add(Root->VideoTrack, "A", nkBlank);
    Form->RefreshProject(true);
    Select(blank);
    emit Form->mnFind->aboutToShow();
    EXPECT_TRUE(Form->miFindStart->isEnabled());
}

TEST_F(MainTree, DraggedFilterMovesToAnotherClipAndSurvivesASaveAndReload) {
    TTreeNodeData* a = Add(Root->VideoTrack, "A", nkBlank);
    TTreeNodeData* b = Add(Root->VideoTrack, "B", nkBlank);
    TTreeNodeData* filter = Add(a, "Filter", nkFilter);
    TTreeNodeData* group = Add(Root, "Group", nkGroup);
    Form->RefreshProject(true);
    Form->Expandall1Click(true);
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, Centre(filter));
    ASSERT_EQ(Form->TreeView1->currentItem(), ItemOf(filter));
    std::unique_ptr<QMimeData> data(Form->MakeTreeDragData());
    // Onto a group the user chooses: Cancel keeps it, No makes it the group's child, Yes its
    // sibling.
    Ui.Answers = {TMsgResult::Cancel, TMsgResult::No, TMsgResult::Yes};
    const std::tuple<TTreeNodeData*, TTreeNodeData*, int> drops[] = {
        {b, b, 0}, {group, b, 0}, {group, group, 0}, {group, Root, -1}, {b, b, 0}};
    for (const auto& [target, parent, index] : drops) {
        EXPECT_TRUE(DragOnto(Viewport(), data.get(), Centre(target)));
        EXPECT_EQ(filter->GetParent(), parent);
        if (index >= 0) {
            EXPECT_EQ(filter->GetIndex(), index);
        }
    }
    EXPECT_EQ(Ui.Questions.at(0), "Place \"Filter\" as sibling of \"Group\"?\nPress [No] to "
                                  "place \"Filter\" as child of \"Group\".");
    // A clip never goes onto the project, nor a foreign drag anywhere.
    Select(a);
    EXPECT_FALSE(DragOnto(Viewport(), data.get(), Centre(Root)));
    QMimeData foreign;
    foreign.setData("application/x-tarvolin-tree-item", "1");
    EXPECT_FALSE(DragOnto(Viewport(), &foreign, Centre(b)));

    ASSERT_TRUE(Root->SaveToFile(File("moved.mpr")));
    Ui.FileAnswers = {File("moved.mpr")};
    Ui.Answers = {TMsgResult::OK};
    Form->sbOpenProj->click();
    PumpEvents();
    ASSERT_EQ(Root->VideoTrack->GetChildCount(), 2);
    EXPECT_EQ(Captions(Root->VideoTrack->GetChild(1)), TNames{"Filter"});
    EXPECT_EQ(Root->VideoTrack->GetChild(0)->GetChildCount(), 0);
}

TEST_F(MainTree, ADragCarriesThePressedItemWhereverInItsRowItStarts) {
    for (const char* n : {"A", "B", "C"})
        Add(Root->VideoTrack, n, nkBlank);
    Form->RefreshProject(true);
    Form->Expandall1Click(true);
    PumpEvents();
    const int rowHeight = Form->TreeView1->visualItemRect(ItemOf(Root->VideoTrack)).height();
    ASSERT_GT(rowHeight, 4);
    TTreeNodeData* dragged = nullptr;
    Form->Drag = [&](QDrag* drag) {
        EXPECT_EQ(Form->TreeView1->currentItem(), ItemOf(dragged));
        EXPECT_TRUE(DragOnto(Viewport(), drag->mimeData(), Centre(Root->VideoTrack->GetChild(0))));
    };
    // Each drag takes the last clip up onto the first: a rotation of the track.
    for (const int offset : {0, 1, 2, rowHeight / 2, rowHeight - 1}) {
        SCOPED_TRACE(offset);
        TNames before = Captions(Root->VideoTrack);
        dragged = Root->VideoTrack->GetChild(2);
        const QRect row = Form->TreeView1->visualItemRect(ItemOf(dragged));
        const QPoint press(row.center().x(), row.top() + offset);
        SendMouse(Viewport(), QEvent::MouseButtonPress, press);
        // Short of the drag distance the mouse reaches the row above; nothing follows it.
        SendMouse(Viewport(), QEvent::MouseMove, press - QPoint(0, offset + 2));
        EXPECT_EQ(Form->TreeView1->currentItem(), ItemOf(dragged));
        SendMouse(Viewport(), QEvent::MouseMove,
                  press - QPoint(0, QApplication::startDragDistance() + 1));
        SendMouse(Viewport(), QEvent::MouseButtonRelease, press, Qt::NoButton);
        PumpEvents();
        before.insert(before.begin(), before.back());
        before.pop_back();
        EXPECT_EQ(Captions(Root->VideoTrack), before);
    }
}

TEST_F(MainTree, FileDropsAddTheFirstExistingMovieWhereTheyLand) {
    const std::string movie = Movie("CLIP.AVI"), text = File("note.txt"), gone = File("gone.avi");
    std::ofstream(text) << "x";
    TTreeNodeData* a = Add(Root->VideoTrack, "A", nkBlank);
    Add(Root->VideoTrack, "B", nkBlank);
    Form->RefreshProject(true);
    Form->Expandall1Click(true);
    PumpEvents();
    TTimeline* strip = Form->GetMainTimeline();
    QWidget* image = strip->Image1;
    const QPoint empty(image->width() - 1, image->height() - 1);
    ASSERT_EQ(strip->ObjectAtPoint(empty.x(), empty.y()), nullptr);
    const QPoint onA((a->TrackRect.Left + a->TrackRect.Right) / 2,
                     (a->TrackRect.Top + a->TrackRect.Bottom) / 2);
    ASSERT_EQ(strip->ObjectAtPoint(onA.x(), onA.y()), a);
    const TNames first{"Dropped: CLIP.AVI", "A", "B"}, last{"A", "B", "Dropped: CLIP.AVI"};
    const std::tuple<QWidget*, QPoint, TNames> drops[] = {
        {Form->pBackground, {5, 5}, last},
        {Viewport(), Centre(a), first},
        {Viewport(), Centre(Root->VideoTrack), last},
        {image, onA, first},
        {image, empty, last}};
    QMimeData files;
    for (const std::string& n : {text, gone, movie, movie})
        files.setUrls(files.urls() << QUrl::fromLocalFile(QString::fromStdString(n)));
    for (const auto& [widget, at, expected] : drops) {
        SCOPED_TRACE(widget->objectName().toStdString());
        EXPECT_TRUE(DragOnto(widget, &files, at));
        EXPECT_EQ(Captions(Root->VideoTrack), expected);
        TTreeNodeData* added = Root->GetActiveNode();
        ASSERT_TRUE(added);
        EXPECT_EQ(added->FileName, movie);
        Root->DeleteNode(added->Item);
        Form->RefreshProject(true);
        PumpEvents();
    }
    // An ".avi" that is no movie is named and not kept; later files are not tried.
    const std::string bad = File("bad.avi");
    std::ofstream(bad) << "not a movie";
    Form->HandleDroppedFiles({bad, movie}, TMainForm::TDropTarget::Preview, {});
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 2);
    EXPECT_EQ(Ui.Messages.at(0).rfind("Can not open " + bad, 0), 0u) << Ui.Messages[0];
    Ui.Messages.clear();
    // Nowhere on the tree, nothing; a sealed track refuses and says why.
    Form->HandleDroppedFiles({movie}, TMainForm::TDropTarget::Tree, {1, 5000});
    TTreeNodeData* queue =
        Add(Root->VideoTrack, "Group", nkGroup)->AddNode("Inner", amLastChild, nkVideoTrack);
    Form->RefreshProject(true);
    Form->Expandall1Click(true);
    for (bool sealed : {false, true}) {
        queue->SetSealed(sealed);
        Form->HandleDroppedFiles({movie}, TMainForm::TDropTarget::Tree, Centre(queue));
    }
    EXPECT_EQ(Captions(queue), TNames{"Dropped: CLIP.AVI"});
    EXPECT_EQ(Ui.Messages, TNames{"Can not insert new child. Inner is sealed!"});
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 3);
}

TEST_F(MainTree, AddCommandsRunTheScriptedDialogsAndAppendToTheVideoTrack) {
    TTreeNodeData* a = Add(Root->VideoTrack, "A", nkBlank);
    Add(Root->VideoTrack, "B", nkBlank);
    Form->RefreshProject(true);
    int adds = 0;
    TAddObjectDlg::ExecHook = [&](TAddObjectDlg& d) {
        ++adds;
        EXPECT_TRUE(d.SelectKind("Black frames"));
        return d.PressOK() ? int(QDialog::Accepted) : int(QDialog::Rejected);
    };
    TPropDlg::ExecHook = [](TPropDlg& d) { return d.PressOK(), d.result(); };
    Select(a);
    Form->miAddVideo->trigger();
    Form->GetMainTimeline()->AddVideo();
    PumpEvents();
    EXPECT_EQ(adds, 2);
    ASSERT_EQ(Root->VideoTrack->GetChildCount(), 4);
    EXPECT_EQ(Root->GetActiveNode(), Root->VideoTrack->GetChild(3));
    EXPECT_EQ(Root->VideoTrack->GetChild(0), a);
    EXPECT_TRUE(Form->TreeView1->updatesEnabled());
    // The timeline's delete goes through the tree's question.
    Ui.Answers = {TMsgResult::OK};
    Form->GetMainTimeline()->GetCommands()->Delete(a);
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 3);
    EXPECT_EQ(Ui.Questions, TNames{"Delete selected object (A)?"});
}

TEST_F(MainTree, RangeAndPropertyCommandsReachTheirDialogs) {
    const std::string movie = Movie("clip.avi");
    ASSERT_TRUE(Form->AddDroppedMovie(movie));
    TTreeNodeData* video = Root->GetActiveNode();
    ASSERT_TRUE(video);
    PumpEvents();
    int ranges = 0, props = 0;
    // The dialog steps by the movie's frames and sits on the preview's background.
    TMovieRangeDlg::ExecHook = [&](TMovieRangeDlg& d) {
        EXPECT_EQ(d.GetRange().FramesPerSecond, 10);
        EXPECT_EQ(d.PlayerView->GetBackground(),
                  Form->pBackground->palette().color(QPalette::Window));
        return ++ranges, int(QDialog::Accepted);
    };
    Form->EditMovieRange();
    EXPECT_EQ(ranges, 1);
    // A clip whose file is gone says so instead of opening the dialog.
    video->MissingFileName = video->FileName;
    video->FileName.clear();
    Form->EditMovieRange();
    EXPECT_EQ(ranges, 1);
    EXPECT_EQ(Ui.Messages, TNames{"Can not open " + movie});
    TPropDlg::ExecHook = [&](TPropDlg& d) { return ++props, d.PressCancel(), d.result(); };
    Form->TreePopupOpening(Centre(video));
    EXPECT_TRUE(Form->miTreeProperty->isEnabled());
    Form->miTreeProperty->trigger();
    EXPECT_EQ(props, 1);
    Form->TreePopupOpening(Centre(Root->VideoTrack));
    EXPECT_FALSE(Form->miTreeProperty->isEnabled());
    // A movie overlay has a range to edit, a picture overlay none.
    for (auto [guid, range] : {std::pair{"{F3C34695-8149-4D2C-AE86-DAA65EF943E9}", true},
                               {"{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}", false}}) {
        auto* o = static_cast<TOverlayNode*>(video->AddNode("o", amLastChild, nkOverlay));
        o->SetAddOn(guid);
        Root->SetActiveNode(o);
        Form->UpdateEditorButtons();
        EXPECT_EQ(Form->sbRange->isEnabled(), range) << guid;
    }
}
