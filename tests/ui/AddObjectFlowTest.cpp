// The add-object flow in the real main window, offscreen: the add-object and property dialogs
// are driven through their test hooks, everything else goes through the scripted user.
#include <QFontMetrics>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <deque>

#include "DialogRig.h"
#include "MainWindowRig.h"
#include "PictureFixtures.h"

namespace {

std::string ReadAll(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class AddObjectFlow : public TMainRig {
protected:
    void SetUp() override {
        TAddObjectDlg::ExecHook = [this](TAddObjectDlg& d) {
            EXPECT_TRUE(AddOnPreview.Active);
            FirstSelections += d.tvKinds->currentItem()->text(0).toStdString() + "|";
            if (Kinds.empty())
                return int(QDialog::Rejected);
            const std::string kind = Kinds.front();
            Kinds.pop_front();
            EXPECT_TRUE(d.SelectKind(kind)) << kind;
            EXPECT_TRUE(d.PressOK()) << kind;
            return d.result();
        };
        TPropDlg::ExecHook = [this](TPropDlg& d) {
            Pages.push_back(d.GetPage());
            if (!Props.empty()) {
                Props.front()(d);
                Props.pop_front();
            }
            if (d.isVisible())
                d.PressOK();
            return d.result();
        };
        TMainRig::SetUp();
        Root->WaveOutFactory = [device = Device] { return device->MakeHandle(); };
    }
    void TearDown() override {
        TMainRig::TearDown();
        TAddObjectDlg::ExecHook = nullptr;
        TPropDlg::ExecHook = nullptr;
        EXPECT_TRUE(Kinds.empty() && Props.empty());
    }
    uint32_t PreviewPixel(int32_t frame) {
        Form->SendSetFrame(frame);
        Pump();
        return Form->VideoImage->Picture().Canvas().GetPixel(1, 1);
    }

    std::shared_ptr<TFakeWaveOut> Device = std::make_shared<TFakeWaveOut>();
    std::deque<std::string> Kinds;
    std::deque<std::function<void(TPropDlg&)>> Props;
    std::string FirstSelections;
    std::vector<TPropPage> Pages;
};

// The widget's shows and hides, each with the number of file answers still queued then.
class TShowLog : public QObject {
public:
    TShowLog(QWidget* w, const TFakeUiServices& ui) : Ui(ui) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show || e->type() == QEvent::Hide)
            Log += (e->type() == QEvent::Show ? "show" : "hide") +
                   std::to_string(Ui.FileAnswers.size()) + " ";
        return false;
    }
    const TFakeUiServices& Ui;
    std::string Log;
};

} // namespace

// Black frames, a clip of pictures, a movie, a transition and a text overlay, all through the
// dialogs: the project plays, saves, opens again to the same bytes and shows the right pictures.
TEST_F(AddObjectFlow, BuildsAProjectThatPlaysSavesAndReloads) {
    TNumberedMovieSpec movie{.Width = 80, .Height = 60, .Samples = 44100};
    MakePcmFormat(movie.Sound, 22050, 1, 16);
    BuildAvi(NumberedMovieSpec(movie)).Save(File("movie.avi"));
    std::filesystem::create_directory(File("pictures"));
    const uint32_t colours[3] = {0x00FF00, 0xFF0000, 0x00FFFF};
    TBmpSpec bmp;
    bmp.Width = 64;
    bmp.Height = 48;
    for (int i = 0; i < 3; ++i) {
        bmp.Pixel = [c = colours[i]](int32_t, int32_t) { return c; };
        SaveBytes(File("pictures/p" + std::to_string(i) + ".bmp"), BuildBmp(bmp));
    }
    // Black frames: one second of red. No rate of their own, so the format stays open.
    Kinds = {"Black frames", "Bitmap Clips", "Video", "Horizontal slide"};
    Ui.ColorAnswers = {0x0000FF};
    Props.push_back([](TPropDlg& d) {
        d.seBlankDuration->setValue(1000);
        d.bBlankColor->click();
    });
    Form->sbAddVideo->click();
    ASSERT_EQ(Root->VideoTrack->GetChildCount(), 1);
    EXPECT_FALSE(Root->VideoFormatFixed);
    // The clip of three pictures at four a second decides the project's format.
    Ui.FolderAnswers = {File("pictures")};
    Props.push_back([](TPropDlg& d) {
        d.bClipSet->click();
        d.eClipRate->setText("4");
    });
    Form->sbAddVideo->click();
    EXPECT_EQ(Root->Width * 1000 + Root->Height, 64048);
    EXPECT_EQ(Root->FrameRate, 4.0L);
    // The movie keeps that format but brings its sound format.
    Ui.FileAnswers = {File("movie.avi")};
    Form->sbAddVideo->click();
    EXPECT_EQ(Root->Width * 1000 + Root->Height, 64048);
    EXPECT_EQ(Root->FrameRate, 4.0L);
    EXPECT_EQ(Root->AudioFormat.Wfx.nSamplesPerSec * 10 + Root->AudioFormat.Wfx.nChannels, 220501u);
    Props.push_back([](TPropDlg& d) { d.seTransLength->setValue(500); });
    Form->sbAddVideo->click();
    ASSERT_EQ(Root->VideoTrack->GetChildCount(), 4);
    TTreeNodeData* video = Root->VideoTrack->GetChild(2);
    EXPECT_EQ(video->GetCaption(), "Movie: movie.avi");
    EXPECT_EQ(Root->VideoTrack->GetChild(3)->UserDuration, 0.5L);
    // A text overlay on the movie, after the notice about pegs.
    Form->TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(video->Item));
    Pump();
    Ui.ConfirmAnswers = {{true, false}};
    Kinds = {"Text overlay"};
    Form->sbAddEffect->click();
    ASSERT_EQ(video->GetChildCount(), 1);
    EXPECT_TRUE(dynamic_cast<TOverlayNode*>(video->GetChild(0)));
    EXPECT_EQ(FirstSelections, "Video|Video|Video|Video|Root|");
    EXPECT_EQ(Pages, (std::vector<TPropPage>{ppBlank, ppBitmapClip, ppMovie, ppTransitions,
                                             ppExternalText}));
    EXPECT_FALSE(AddOnPreview.Active);

    // Black 0-1 s, the clip's three pictures 1-1.75 s, the movie 1.75-3.75 s with the slide
    // over its last half second.
    EXPECT_EQ(Root->GetFrameCount(), 15);

    Ui.FileAnswers = {File("first.mpr")};
    ASSERT_TRUE(Form->SaveProjectAs());
    Ui.Answers = {TMsgResult::OK}; // "Close current project?"
    Ui.FileAnswers = {File("first.mpr")};
    Form->sbOpenProj1Click();
    ASSERT_EQ(Root->VideoTrack->GetChildCount(), 4);
    Ui.FileAnswers = {File("second.mpr")};
    ASSERT_TRUE(Form->SaveProjectAs());
    EXPECT_EQ(ReadAll(File("first.mpr")), ReadAll(File("second.mpr")));

    EXPECT_EQ(PreviewPixel(2), 0x0000FFu);              // 0.5 s: the black frames' red
    EXPECT_EQ(PreviewPixel(5), colours[1]);             // 1.25 s: the clip's second picture
    EXPECT_EQ(PreviewPixel(9), NumberedFrameColour(5)); // 2.25 s: the movie's frame 5
}

// A refused OK keeps the dialog and its preview; a cancelled property dialog takes the new
// object away again; cancelling the add-object dialog adds nothing and asks nothing more.
TEST_F(AddObjectFlow, RefusalsKeepTheDialogAndCancelRemovesTheObject) {
    TAddObjectDlg::ExecHook = [this](TAddObjectDlg& d) {
        EXPECT_TRUE(d.SelectKind("Video"));
        Ui.FileAnswers = {std::nullopt};
        EXPECT_FALSE(d.PressOK());
        EXPECT_TRUE(d.isVisible() && AddOnPreview.Active);
        // Folders and the root create nothing.
        EXPECT_TRUE(d.SelectKind("Transitions"));
        EXPECT_FALSE(d.bOK->isEnabled());
        EXPECT_TRUE(d.SelectKind("Black frames"));
        EXPECT_TRUE(d.bOK->isEnabled());
        // A text overlay's example follows a drag on its picture.
        EXPECT_TRUE(d.SelectKind("Text overlay"));
        MouseDrag(d.ExampleImage, {{10, 10}, {17, 7}, {17, 7}});
        EXPECT_EQ(d.Example().GetDragOffset().X * 1000 + d.Example().GetDragOffset().Y, 57047);
        // "Collapse all" of the kind tree's menu chooses "Root".
        emit d.tvKinds->customContextMenuRequested({5, 5});
        if (QMenu* menu = d.findChild<QMenu*>()) {
            menu->actions().at(1)->trigger();
            menu->close();
        } else {
            ADD_FAILURE() << "no menu";
        }
        EXPECT_EQ(d.tvKinds->currentItem()->text(0), "Root");
        EXPECT_FALSE(d.tvKinds->topLevelItem(0)->child(9)->isExpanded());
        EXPECT_FALSE(d.bOK->isEnabled());
        EXPECT_TRUE(d.SelectKind("Black frames"));
        EXPECT_TRUE(d.PressOK());
        return d.result();
    };
    Props.push_back([](TPropDlg& d) { d.PressCancel(); });
    const int items = Root->Item->GetCount();
    EXPECT_EQ(Form->AddObject(0, true), nullptr);
    EXPECT_EQ(Root->VideoTrack->GetChildCount() * 10 + Root->GetChildCount(), 1);
    EXPECT_EQ(Root->Item->GetCount(), items);
    EXPECT_FALSE(AddOnPreview.Active);
    TAddObjectDlg::ExecHook = [](TAddObjectDlg& d) {
        d.bCancel->click();
        return d.result();
    };
    EXPECT_EQ(Form->AddObject(VideoKindSet, false), nullptr);
    EXPECT_EQ(Pages, std::vector<TPropPage>{ppBlank});
}

// An effect added to a clip that has one already, then cancelled in the property dialog: the
// selection goes back to the clip, so the next addition targets it again.
TEST_F(AddObjectFlow, CancelledPropertiesSelectTheNodeSelectedBefore) {
    TTreeNodeData* red = Root->VideoTrack->AddNode("red", amLastChild, nkBlank);
    auto* text = static_cast<TOverlayNode*>(red->AddNode("text", amLastChild, nkOverlay));
    text->SetAddOn("{A0B8F036-67F4-4B94-8DF9-0B4FA8FA6060}");
    Form->RefreshProject(true);
    Form->TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(red->Item));
    Pump();
    Kinds = {"Text overlay"};
    Props.push_back([](TPropDlg& d) { d.PressCancel(); });
    EXPECT_EQ(Form->AddObject(EffectKindSet, false), nullptr);
    EXPECT_EQ(red->GetChildCount(), 1);
    EXPECT_EQ(Form->TreeView1->currentItem(), static_cast<TTreeWidgetItem*>(red->Item));
    EXPECT_EQ(Root->GetActiveNode(), red);
}

// In its own modal loop, not a test hook: OK hides the dialog while the object is made, so the
// file question comes over the main window; a refusal brings it back, modal, with the same
// choice; the next OK ends the loop with the object.
TEST_F(AddObjectFlow, OkHidesTheDialogWhileTheObjectIsMade) {
    TAddObjectDlg::ExecHook = nullptr;
    TAddObjectDlg& d = *Form->AddObjectDlg;
    TShowLog shows(&d, Ui);
    Ui.FileAnswers = {std::nullopt};
    std::string seen;
    QTimer::singleShot(0, &d, [&] {
        d.SelectKind("Video");
        d.bOK->click();
        seen = d.tvKinds->currentItem()->text(0).toStdString() + " " +
               std::to_string(QApplication::activeModalWidget() == &d);
        // After the loop has had its turn.
        QTimer::singleShot(0, &d, [&] {
            d.SelectKind("Black frames");
            d.bOK->click();
        });
    });
    // Should the loop not end by itself, it is ended here and the test fails.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &d,
                     [&d] { static_cast<QDialog&>(d).done(QDialog::Rejected); });
    guard.start(10000);
    TTreeNodeData* node = Form->AddObject(VideoKindSet, false);
    EXPECT_TRUE(guard.isActive());
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Kind, nkBlank);
    EXPECT_EQ(shows.Log, "show1 hide1 show0 hide0 ");
    EXPECT_EQ(seen, "Video 1");
    EXPECT_FALSE(d.isVisible());
}

// "after the selected node" and "before the selected node" put the new clip beside the clip
// selected in the tree, not at the end of the video track.
TEST_F(AddObjectFlow, AddVideoHonoursTheChosenPosition) {
    Kinds = {"Black frames", "Black frames"};
    Form->sbAddVideo->click();
    Form->sbAddVideo->click();
    TTreeNodeData* track = Root->VideoTrack;
    ASSERT_EQ(track->GetChildCount(), 2);
    TTreeNodeData* first = track->GetChild(0);
    TTreeNodeData* second = track->GetChild(1);
    int position = 2;
    TAddObjectDlg::ExecHook = [&position](TAddObjectDlg& d) {
        EXPECT_TRUE(d.SelectKind("Black frames"));
        d.cbPosition->setCurrentIndex(position);
        EXPECT_TRUE(d.PressOK());
        return d.result();
    };
    for (int pos : {2, 3}) {
        position = pos;
        Form->TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(first->Item));
        Pump();
        Form->sbAddVideo->click();
    }
    // new (before), first, new (after), second.
    ASSERT_EQ(track->GetChildCount(), 4);
    EXPECT_EQ(std::tuple(first->GetIndex(), second->GetIndex()), std::tuple(1, 3));
    EXPECT_EQ(Pages, std::vector<TPropPage>(4, ppBlank));
}

// The clip selected in the tree carries a text overlay. Whether its item is folded or not,
// "after the selected node" puts the new clip right behind it and "before" in front of it; "as
// a child" of a clip sends a video to the track's end. The overlay stays with its clip.
TEST_F(AddObjectFlow, AddVideoBesideAClipWithAnEffect) {
    TTreeNodeData* track = Root->VideoTrack;
    TTreeNodeData* red = track->AddNode("red", amLastChild, nkBlank);
    auto* text = static_cast<TOverlayNode*>(red->AddNode("text", amLastChild, nkOverlay));
    text->SetAddOn("{A0B8F036-67F4-4B94-8DF9-0B4FA8FA6060}");
    ASSERT_TRUE(text->AddOn);
    track->AddNode("green", amLastChild, nkBlank);
    Form->RefreshProject(true);
    Pump();
    int position = 0;
    TAddObjectDlg::ExecHook = [&position](TAddObjectDlg& d) {
        EXPECT_TRUE(d.SelectKind("Black frames"));
        d.cbPosition->setCurrentIndex(position);
        EXPECT_TRUE(d.PressOK());
        return d.result();
    };
    const std::pair<int, const char*> cases[] = {
        {2, "red|new|green|"}, {3, "new|red|green|"}, {0, "red|green|new|"}};
    for (bool folded : {true, false}) {
        for (const auto& [pos, order] : cases) {
            SCOPED_TRACE(std::string(InsertPositionTexts[pos]) + (folded ? ", folded" : ""));
            position = pos;
            auto* item = static_cast<TTreeWidgetItem*>(red->Item);
            Form->TreeView1->setCurrentItem(item);
            item->setExpanded(!folded);
            Pump();
            Form->sbAddVideo->click();
            TTreeNodeData* made = nullptr;
            std::string got;
            for (int i = 0; i < track->GetChildCount(); ++i) {
                TTreeNodeData* c = track->GetChild(i);
                if (c->GetCaption() == "Black frames")
                    made = c;
                got += (c == made ? std::string("new") : c->GetCaption()) + "|";
            }
            EXPECT_EQ(got, order);
            EXPECT_EQ(red->GetChildCount(), 1);
            ASSERT_TRUE(made);
            Root->DeleteNode(made->Item);
            Form->RefreshProject(true);
        }
    }
}

// From the keyboard, with a movie that cannot be read: every kind name shows whole, the refused
// movie keeps the dialog open and adds nothing, Enter confirms both dialogs, and Tab leaves the
// description without typing into it.
TEST_F(AddObjectFlow, UnreadableMovieRefusedAndKeyboardConfirms) {
    const std::vector<uint8_t> good = BuildAvi(NumberedMovieSpec({})).Bytes;
    const std::string half = File("half.avi");
    SaveBytes(half, std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2));
    TAddObjectDlg::ExecHook = [&](TAddObjectDlg& d) {
        Pump();
        const QFontMetrics fm(d.tvKinds->font());
        d.tvKinds->expandAll();
        for (QTreeWidgetItemIterator it(d.tvKinds); *it; ++it) {
            const QRect r = d.tvKinds->visualItemRect(*it);
            EXPECT_LE(r.left() + fm.horizontalAdvance((*it)->text(0)),
                      d.tvKinds->viewport()->width())
                << (*it)->text(0).toStdString();
        }
        // One size from kind to kind, which the window manager may not change.
        const QSize size = d.size();
        EXPECT_EQ(d.minimumSize(), d.maximumSize());
        EXPECT_TRUE(d.SelectKind("Video"));
        Pump();
        EXPECT_EQ(d.size(), size);
        Ui.FileAnswers = {half};
        EXPECT_FALSE(d.PressOK());
        EXPECT_TRUE(d.isVisible());
        // Only the example of the kind stands in the track.
        EXPECT_LE(Root->VideoTrack->GetChildCount(), 1);
        for (int i = 0; i < Root->VideoTrack->GetChildCount(); ++i)
            EXPECT_NE(Root->VideoTrack->GetChild(i)->FileName, half);
        EXPECT_TRUE(d.SelectKind("Black frames"));
        QTest::keyClick(d.tvKinds, Qt::Key_Return);
        EXPECT_FALSE(d.isVisible());
        return d.result();
    };
    Props.push_back([](TPropDlg& d) {
        d.mDescription->setFocus();
        QTest::keyClick(d.mDescription, Qt::Key_Tab);
        EXPECT_FALSE(d.mDescription->toPlainText().contains(QLatin1Char('\t')));
        EXPECT_NE(d.focusWidget(), d.mDescription);
        QTest::keyClick(d.eLabel, Qt::Key_Return);
        EXPECT_FALSE(d.isVisible());
    });
    Form->TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(Root->VideoTrack->Item));
    ASSERT_NE(Form->AddObject(0, true), nullptr);
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 1);
    EXPECT_EQ(Root->VideoTrack->GetChild(0)->Kind, nkBlank);
    EXPECT_EQ(Pages, std::vector<TPropPage>{ppBlank});
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_EQ(Ui.Messages[0].rfind("Can not open " + half + "\n", 0), 0u) << Ui.Messages[0];
}
