// The main window's project tree in the real window, offscreen: delete refusals and questions,
// sealing, up and down, tree drags with a save and reload, file drops on the three targets, and
// the add commands through the scripted add-object and property dialogs.
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "DlgAddObject.h"
#include "FakeUiServices.h"
#include "MainZunt.h"
#include "MyMovieRangeDlg.h"
#include "MyPropDlg.h"
#include "MyTimeline.h"
#include "MyTreeItems.h"
#include "NumberedMovie.h"
#include "TempFolders.h"

namespace {

void Pump() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

QTreeWidgetItem* ItemOf(TTreeNodeData* n) {
    return dynamic_cast<TTreeWidgetItem*>(n->Item);
}

class MainTree : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TMainForm>(&Ui);
        Form->show();
        Pump();
        Root = Form->GetProject();
        Tree = Form->TreeView1;
    }
    void TearDown() override {
        TAddObjectDlg::ExecHook = nullptr;
        TPropDlg::ExecHook = nullptr;
        TMovieRangeDlg::ExecHook = nullptr;
        Form.reset();
        EXPECT_TRUE(Ui.Answers.empty()) << "questions not asked";
    }
    TTreeNodeData* Add(TTreeNodeData* parent, const std::string& name, uint8_t kind) {
        TTreeNodeData* n = parent->AddNode(name, amLastChild, kind);
        n->UserDuration = 1;
        return n;
    }
    void Select(TTreeNodeData* n) {
        Tree->setCurrentItem(ItemOf(n));
        Pump();
    }
    std::string File(const std::string& name) const { return Config.PathOf(name); }
    std::string Movie(const std::string& name) {
        const std::string path = File(name);
        BuildAvi(NumberedMovieSpec({})).Save(path);
        return path;
    }
    // Sends a drag of data onto widget at p, as Qt delivers it; whether the drop was accepted.
    static bool DragOnto(QWidget* widget, QMimeData* data, QPoint p) {
        QDragEnterEvent enter(p, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, {});
        QApplication::sendEvent(widget, &enter);
        QDragMoveEvent move(p, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, {});
        QApplication::sendEvent(widget, &move);
        if (!move.isAccepted())
            return false;
        QDropEvent drop(QPointF(p), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, {});
        QApplication::sendEvent(widget, &drop);
        return drop.isAccepted();
    }
    QPoint Centre(TTreeNodeData* n) const { return Tree->visualItemRect(ItemOf(n)).center(); }
    std::vector<std::string> Captions(TTreeNodeData* parent) const {
        std::vector<std::string> out;
        for (int i = 0; i < parent->GetChildCount(); ++i)
            out.push_back(parent->GetChild(i)->GetCaption());
        return out;
    }

    TScratchConfig Config;
    TFakeUiServices Ui;
    std::unique_ptr<TMainForm> Form;
    TProjectNode* Root = nullptr;
    QTreeWidget* Tree = nullptr;
};

} // namespace

TEST_F(MainTree, DeleteRefusesTheFixedNodesAndAsksForTheRest) {
    TTreeNodeData* group = Add(Root->VideoTrack, "Group", nkGroup);
    TTreeNodeData* queue = group->AddNode("Queue", amLastChild, nkVideoTrack);
    TTreeNodeData* blank = Add(Root->VideoTrack, "Black", nkBlank);
    Form->RefreshProject(true);
    const struct {
        TTreeNodeData* Node;
        const char* Refusal;
    } fixed[] = {{Root, "Can not delete project node"},
                 {Root->VideoTrack, "Can not delete Master folder node"},
                 {queue, "Can not delete Queue node"}};
    for (const auto& f : fixed) {
        Ui.Messages.clear();
        Select(f.Node);
        Form->TreePopupOpening(Centre(f.Node));
        EXPECT_FALSE(Form->miDelete->isEnabled()) << f.Refusal;
        QTest::keyClick(Tree, Qt::Key_Delete);
        EXPECT_EQ(Ui.Messages, std::vector<std::string>{f.Refusal});
    }
    Form->TreePopupOpening(Centre(blank));
    EXPECT_TRUE(Form->miDelete->isEnabled());
    EXPECT_EQ(Root->GetActiveNode(), blank);
    Ui.Answers = {TMsgResult::Cancel, TMsgResult::OK};
    Form->miDelete->trigger();
    EXPECT_EQ(Ui.Questions, std::vector<std::string>{"Delete selected object (Black)?"});
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 2);
    QTest::keyClick(Tree, Qt::Key_Delete);
    Pump();
    EXPECT_EQ(Captions(Root->VideoTrack), std::vector<std::string>{"Group"});
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
    EXPECT_TRUE(Form->miSealed->isEnabled());
    EXPECT_FALSE(Form->miSealed->isChecked());
    Form->miSealed->trigger();
    Pump();
    EXPECT_TRUE(group->GetSealed());
    EXPECT_FALSE(item->isExpanded());
    EXPECT_EQ(Tree->currentItem(), item);
    item->setExpanded(true);
    Form->Expandall1Click(true);
    EXPECT_FALSE(item->isExpanded());
    // The red frame stays through a refresh and a collapse.
    Form->RefreshProject(true);
    item->setExpanded(false);
    EXPECT_EQ(AsTreeItem(item)->GetImageIndex(), group->ImageIndex + half);
    const QImage icon = item->icon(0).pixmap(16, 16).toImage();
    EXPECT_EQ(icon.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(icon.pixel(15, 8) & 0xFFFFFF, 0xFF0000u);

    Form->TreePopupOpening(Centre(group));
    EXPECT_TRUE(Form->miSealed->isChecked());
    Form->miSealed->trigger();
    EXPECT_FALSE(group->GetSealed());
    EXPECT_EQ(AsTreeItem(item)->GetImageIndex(), group->ImageIndex);
    // The project's item never closes.
    Form->Expandall1Click(false);
    EXPECT_TRUE(Tree->topLevelItem(0)->isExpanded());
    EXPECT_FALSE(ItemOf(Root->VideoTrack)->isExpanded());
}

TEST_F(MainTree, UpAndDownMoveWithinTheTrackOnly) {
    for (const char* n : {"A", "B", "C"})
        Add(Root->VideoTrack, n, nkBlank);
    Form->RefreshProject(true);
    QApplication::setActiveWindow(Form.get());
    Tree->setFocus();
    Select(Root->VideoTrack->GetChild(2));
    ASSERT_TRUE(Tree->hasFocus());
    EXPECT_TRUE(Form->sbUp->isEnabled());
    EXPECT_FALSE(Form->sbDown->isEnabled());
    Form->sbUp->click();
    EXPECT_EQ(Captions(Root->VideoTrack), (std::vector<std::string>{"A", "C", "B"}));
    Pump();
    EXPECT_TRUE(Form->sbDown->isEnabled());
    Select(Root->VideoTrack->GetChild(0));
    Form->sbDown->click();
    EXPECT_EQ(Captions(Root->VideoTrack), (std::vector<std::string>{"C", "A", "B"}));
    Form->sbDown->click();
    EXPECT_EQ(Captions(Root->VideoTrack), (std::vector<std::string>{"C", "B", "A"}));
    // The project's video track keeps its place.
    Select(Root->VideoTrack);
    EXPECT_FALSE(Form->sbUp->isEnabled());
    EXPECT_FALSE(Form->sbDown->isEnabled());
}

TEST_F(MainTree, DraggedFilterMovesToAnotherClipAndSurvivesASaveAndReload) {
    TTreeNodeData* a = Add(Root->VideoTrack, "A", nkBlank);
    TTreeNodeData* b = Add(Root->VideoTrack, "B", nkBlank);
    TTreeNodeData* filter = Add(a, "Filter", nkFilter);
    TTreeNodeData* group = Add(Root, "Group", nkGroup);
    Form->RefreshProject(true);
    Form->Expandall1Click(true);
    QTest::mouseClick(Tree->viewport(), Qt::LeftButton, {}, Centre(filter));
    ASSERT_EQ(Tree->currentItem(), ItemOf(filter));
    // A press moved past the drag distance starts the tree's own drag; the offscreen platform
    // ends it at once, without a drop, so nothing moves.
    QTest::mousePress(Tree->viewport(), Qt::LeftButton, {}, Centre(filter));
    QTest::mouseMove(Tree->viewport(), Centre(b));
    QTest::mouseRelease(Tree->viewport(), Qt::LeftButton, {}, Centre(b));
    EXPECT_EQ(filter->GetParent(), a);
    EXPECT_EQ(Tree->currentItem(), ItemOf(filter));
    std::unique_ptr<QMimeData> data(Form->MakeTreeDragData());
    EXPECT_TRUE(DragOnto(Tree->viewport(), data.get(), Centre(b)));
    EXPECT_EQ(filter->GetParent(), b);
    // Onto a group the user chooses: Cancel keeps it, No makes it the group's child.
    Ui.Answers = {TMsgResult::Cancel, TMsgResult::No};
    EXPECT_TRUE(DragOnto(Tree->viewport(), data.get(), Centre(group)));
    EXPECT_EQ(Ui.Questions.back(), "Place \"Filter\" as sibling of \"Group\"?\nPress [No] to "
                                   "place \"Filter\" as child of \"Group\".");
    EXPECT_EQ(filter->GetParent(), b);
    EXPECT_TRUE(DragOnto(Tree->viewport(), data.get(), Centre(group)));
    EXPECT_EQ(filter->GetParent(), group);
    EXPECT_EQ(filter->GetIndex(), 0);
    Ui.Answers = {TMsgResult::Yes};
    EXPECT_TRUE(DragOnto(Tree->viewport(), data.get(), Centre(group)));
    EXPECT_EQ(filter->GetParent(), Root);
    EXPECT_TRUE(DragOnto(Tree->viewport(), data.get(), Centre(b)));
    // A clip never goes onto the project, nor a foreign drag anywhere.
    Select(a);
    EXPECT_FALSE(DragOnto(Tree->viewport(), data.get(), Centre(Root)));
    QMimeData foreign;
    foreign.setData("application/x-tarvolin-tree-item", "1");
    EXPECT_FALSE(DragOnto(Tree->viewport(), &foreign, Centre(b)));

    const std::string name = File("moved.mpr");
    ASSERT_TRUE(Root->SaveToFile(name));
    Ui.FileAnswers = {name};
    Ui.Answers = {TMsgResult::OK};
    Form->sbOpenProj->click();
    Pump();
    ASSERT_EQ(Root->VideoTrack->GetChildCount(), 2);
    TTreeNodeData* loadedB = Root->VideoTrack->GetChild(1);
    EXPECT_EQ(Captions(loadedB), std::vector<std::string>{"Filter"});
    EXPECT_EQ(Root->VideoTrack->GetChild(0)->GetChildCount(), 0);
}

TEST_F(MainTree, FileDropsAddTheFirstExistingMovieWhereTheyLand) {
    const std::string movie = Movie("CLIP.AVI");
    const std::string text = File("note.txt");
    std::ofstream(text) << "x";
    const std::string missing = File("gone.avi");
    TTreeNodeData* a = Add(Root->VideoTrack, "A", nkBlank);
    Add(Root->VideoTrack, "B", nkBlank);
    Form->RefreshProject(true);
    Form->Expandall1Click(true);
    Pump();
    QWidget* image = Form->GetMainTimeline()->Image1;
    const QPoint empty(image->width() - 1, image->height() - 1);
    ASSERT_EQ(Form->GetMainTimeline()->ObjectAtPoint(empty.x(), empty.y()), nullptr);
    // A point of the track image on A's row.
    QPoint onA(-1, -1);
    for (int y = 0; y < image->height() && onA.x() < 0; y += 2)
        for (int x = 0; x < image->width() && onA.x() < 0; x += 2)
            if (Form->GetMainTimeline()->ObjectAtPoint(x, y) == a)
                onA = QPoint(x, y);
    ASSERT_GE(onA.x(), 0);
    const struct {
        QWidget* Widget;
        QPoint At;
        std::vector<std::string> Expected; // the video track's captions afterwards
    } drops[] = {
        {Form->pBackground, {5, 5}, {"A", "B", "Dropped: CLIP.AVI"}},
        {Tree->viewport(), Centre(a), {"Dropped: CLIP.AVI", "A", "B"}},
        {Tree->viewport(), Centre(Root->VideoTrack), {"A", "B", "Dropped: CLIP.AVI"}},
        {image, onA, {"Dropped: CLIP.AVI", "A", "B"}},
        {image, empty, {"A", "B", "Dropped: CLIP.AVI"}},
    };
    for (const auto& d : drops) {
        QMimeData nothing;
        nothing.setUrls({QUrl::fromLocalFile(QString::fromStdString(missing)),
                         QUrl::fromLocalFile(QString::fromStdString(text))});
        EXPECT_TRUE(DragOnto(d.Widget, &nothing, d.At));
        EXPECT_EQ(Root->VideoTrack->GetChildCount(), 2);
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(QString::fromStdString(text)),
                       QUrl::fromLocalFile(QString::fromStdString(missing)),
                       QUrl::fromLocalFile(QString::fromStdString(movie)),
                       QUrl::fromLocalFile(QString::fromStdString(movie))});
        EXPECT_TRUE(DragOnto(d.Widget, &files, d.At));
        EXPECT_EQ(Captions(Root->VideoTrack), d.Expected) << d.Widget->objectName().toStdString();
        TTreeNodeData* added = Root->GetActiveNode();
        ASSERT_TRUE(added);
        EXPECT_EQ(added->FileName, movie);
        Root->DeleteNode(added->Item);
        Form->RefreshProject(true);
        Pump();
    }
    // An ".avi" that is no movie is named and not kept; later files are not tried.
    const std::string bad = File("bad.avi");
    std::ofstream(bad) << "not a movie";
    Form->HandleDroppedFiles({bad, movie}, TMainForm::TDropTarget::Preview, {});
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 2);
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_EQ(Ui.Messages[0].rfind("Can not open " + bad, 0), 0u) << Ui.Messages[0];
    Ui.Messages.clear();
    // Nowhere on the tree, nothing; a sealed track refuses and says why.
    Form->HandleDroppedFiles({movie}, TMainForm::TDropTarget::Tree, {1, 5000});
    TTreeNodeData* group = Add(Root->VideoTrack, "Group", nkGroup);
    TTreeNodeData* queue = group->AddNode("Inner", amLastChild, nkVideoTrack);
    Form->RefreshProject(true);
    Form->Expandall1Click(true);
    Form->HandleDroppedFiles({movie}, TMainForm::TDropTarget::Tree, Centre(queue));
    EXPECT_EQ(Captions(queue), std::vector<std::string>{"Dropped: CLIP.AVI"});
    queue->SetSealed(true);
    Form->HandleDroppedFiles({movie}, TMainForm::TDropTarget::Tree, Centre(queue));
    EXPECT_EQ(Ui.Messages, std::vector<std::string>{"Can not insert new child. Inner is sealed!"});
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 3);
    EXPECT_EQ(queue->GetChildCount(), 1);
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
    TPropDlg::ExecHook = [](TPropDlg& d) {
        d.PressOK();
        return d.result();
    };
    Select(a);
    Form->miAddVideo->trigger();
    Form->GetMainTimeline()->AddVideo();
    Pump();
    EXPECT_EQ(adds, 2);
    ASSERT_EQ(Root->VideoTrack->GetChildCount(), 4);
    EXPECT_EQ(Root->GetActiveNode(), Root->VideoTrack->GetChild(3));
    EXPECT_EQ(Root->VideoTrack->GetChild(0), a);
    EXPECT_TRUE(Tree->updatesEnabled());
    // The timeline's delete goes through the tree's question.
    Ui.Answers = {TMsgResult::OK};
    Form->GetMainTimeline()->GetCommands()->Delete(a);
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 3);
    EXPECT_EQ(Ui.Questions, std::vector<std::string>{"Delete selected object (A)?"});
}

TEST_F(MainTree, RangeAndPropertyCommandsReachTheirDialogs) {
    const std::string movie = Movie("clip.avi");
    ASSERT_TRUE(Form->AddDroppedMovie(movie));
    TTreeNodeData* video = Root->GetActiveNode();
    ASSERT_TRUE(video);
    Pump();
    int ranges = 0;
    TMovieRangeDlg::ExecHook = [&](TMovieRangeDlg&) { return ++ranges, int(QDialog::Accepted); };
    Form->EditMovieRange();
    EXPECT_EQ(ranges, 1);
    // A clip whose file is gone says so instead of opening the dialog.
    video->MissingFileName = video->FileName;
    video->FileName.clear();
    Form->EditMovieRange();
    EXPECT_EQ(ranges, 1);
    EXPECT_EQ(Ui.Messages, std::vector<std::string>{"Can not open " + movie});
    // Property on the project's item opens the project settings.
    int props = 0;
    TPropDlg::ExecHook = [&](TPropDlg& d) {
        ++props;
        d.PressCancel();
        return d.result();
    };
    Form->TreePopupOpening(Centre(video));
    EXPECT_TRUE(Form->miTreeProperty->isEnabled());
    Form->miTreeProperty->trigger();
    EXPECT_EQ(props, 1);
    Form->TreePopupOpening(Centre(Root->VideoTrack));
    EXPECT_FALSE(Form->miTreeProperty->isEnabled());
}
