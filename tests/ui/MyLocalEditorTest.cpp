// The curve editor: the graph's mapping, the button rules, key-point navigation, and the editor
// driven on the real main window (graph presses and drags, double-click delete, the on-screen
// drag on a zoomed preview, and the dialogs its buttons open).

#include <QCheckBox>
#include <QComboBox>
#include <QFontComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QToolButton>

#include "MainWindowRig.h"
#include "MyCustomAddOn.h"
#include "MyEffectNodes.h"
#include "MyFontDialog.h"
#include "MyLocalEditor.h"
#include "MyPickDialog.h"
#include "MySubtitleEditor.h"
#include "MyTimeData.h"

TEST(CurveMapping, TimesLevelsAndACutOffStart) {
    TCurveMapping m;
    m.Duration = 8;
    m.CutOff = 2; // the object starts 2 s before its parent
    m.Width = 160;
    m.Height = 81;
    const std::pair<Extended, int32_t> xs[] = {{2, 0}, {6, 80}, {10, 160}, {0, -40}, {2.05L, 1}};
    for (auto [t, x] : xs)
        EXPECT_EQ(m.TimeToX(t), x) << double(t);
    EXPECT_EQ(m.XToTime(40), 4);
    TDataPoint p;
    const std::pair<Extended, int32_t> ys[] = {{0, 40}, {1, 0}, {-1, 80}, {0.5L, 20}};
    for (auto [level, y] : ys) {
        p.SetLevel(level);
        EXPECT_EQ(m.PointY(p), y) << double(level);
    }
    m.TimeOnly = true;
    EXPECT_EQ(m.PointY(p), 40);
    const std::pair<int32_t, Extended> levels[] = {
        {-30, 1}, {0, 1}, {20, 0.5L}, {80, -1}, {500, -1}};
    for (auto [y, level] : levels)
        EXPECT_EQ(m.YToLevel(y), level) << y;
    m.Height = 1; // no middle line to measure from
    EXPECT_FALSE(m.YToLevel(0));

    TTrackProject tp; // B runs 3-6
    TTreeNodeData* o = tp.Add(tp.B, nkOverlay, "O", 3);
    o->Offset = -2;
    tp.Refresh();
    ASSERT_EQ(o->GetStartTime(), 1);
    const TCurveMapping f = TCurveMapping::For(o, nullptr, 100, 40);
    EXPECT_EQ(std::tuple(f.CutOff, f.Duration, f.TimeToX(2)),
              std::tuple(2, o->GetDuration() - 2, 0));
    const TCurveMapping none{0, 0, 160, 81}; // no length: everything at the left edge
    EXPECT_EQ(none.TimeToX(5), 0);
}

TEST(CurveButtonRules, ByValueModeAndPointIndex) {
    // Add Del Mid =Val ~/~ Hide Text Color Pick Font, for index i of n points in mode m.
    const struct {
        bool curve;
        int i, n, m;
        const char* on;
    } cases[] = {
        {false, 0, 3, vmLevel, "0000000000"},   {true, -1, 3, vmLevel, "1000000000"},
        {true, 0, 1, vmLevel, "0010000000"},    {true, 0, 1, vmColor, "0010000100"},
        {true, 0, 1, vmText, "0000001000"},     {true, 1, 3, vmLevel, "0111100000"},
        {true, 2, 3, vmPosition, "0111000000"}, {true, 1, 3, vmText, "0100011000"},
        {true, 1, 2, vmPick, "0111000010"},     {true, 1, 3, vmFont, "0111100001"},
    };
    for (const auto& c : cases) {
        const auto e = TCurveButtonRules::Enabled(c.curve, c.i, c.n, c.m);
        std::string got;
        for (bool b : e)
            got += b ? '1' : '0';
        EXPECT_EQ(got, c.on) << c.i << " of " << c.n << ", mode " << c.m;
    }
}

TEST(CurveNavigation, NextPreviousWithFrameSnappingAndClear) {
    TTimeData c;
    c.EnsurePoint(); // at 0
    for (Extended t : {1.0L, 2.02L, 3.0L})
        c.AddNew(t);
    auto snap = [](Extended t) { return std::nearbyintl(t * 10) / 10; }; // 10 fps
    const struct {
        Extended t;
        int next, previous; // point indexes, -1 none
    } cases[] = {{0, 1, -1},    {0.5L, 1, 0}, {1, 2, 0},  {2.0L, 2, 1},
                 {2.04L, 3, 1}, {2.1L, 3, 2}, {3, -1, 2}, {9, -1, 3}};
    for (const auto& k : cases) {
        TDataPoint* n = TCurveNavigation::Next(c, k.t);
        TDataPoint* p = TCurveNavigation::Previous(c, k.t, snap);
        EXPECT_EQ(std::tuple(n ? c.IndexOf(n) : -1, p ? c.IndexOf(p) : -1),
                  std::tuple(k.next, k.previous))
            << double(k.t);
    }
    c.GetPoint(0)->SetLevel(0.5L);
    TCurveNavigation::Clear(c);
    ASSERT_EQ(c.GetCount(), 1);
    EXPECT_EQ(std::tuple(c.GetPoint(0)->Time, c.GetPoint(0)->Value, c.GetPoint(0)->Visible),
              std::tuple(0, 0, true));

    const std::vector<TRect> boxes = {Rect(0, 0, 9, 9), Rect(5, 5, 14, 14)};
    // The later box wins.
    EXPECT_EQ(std::tuple(TCurveNavigation::HitTest(boxes, 6, 6),
                         TCurveNavigation::HitTest(boxes, 2, 2),
                         TCurveNavigation::HitTest(boxes, 9, 2)),
              std::tuple(1, 0, -1));
}

namespace {

// The main window with a 4 s black clip at 2 s whose level and position curves are open in the
// curve editor.
struct EditorFixture : TMainWindowRig<> {
    TTreeNodeData* Clip = nullptr;
    TTimeline* TL = nullptr;
    TLocalEditorForm* Ed = nullptr;

    void SetUp() override {
        TMainWindowRig::SetUp();
        Form->resize(1000, 700);
        AddBlank(2)->AutoDuration = false;
        Clip = AddBlank(4);
        Clip->AutoDuration = false;
        Clip->Curves->Register(ckLevel, "Level");
        Clip->Curves->Register(ckPosition, "On-screen positioning");
        Form->RefreshProject(false);
        Root->SetActiveNode(Clip);
        TL = Form->TimelineArea->findChild<TTimeline*>();
        ASSERT_TRUE(TL);
        TL->GetTrackDraw()->AdjustMode = true;
        Redraw();
        Ed = dynamic_cast<TLocalEditorForm*>(TL->GetTrackDraw()->Editor);
        ASSERT_TRUE(Ed);
        ASSERT_EQ(Ed->GetEditedNode(), Clip);
        ASSERT_GT(Ed->GetGraphBitmap().Width(), 20);
    }
    void Redraw() {
        TL->RequestRepaint();
        PumpEvents(10);
    }
    int32_t Cursor() { return Form->Timeline().GetFramePos(); }
    QPoint PointCentre(const TDataPoint& p) {
        const TCurveMapping m = Ed->Mapping();
        return {m.TimeToX(p.Time), m.PointY(p)};
    }
    void Choose(const char* curve) { Ed->cbMode->setCurrentIndex(Ed->cbMode->findText(curve)); }
    // A click on the empty graph a quarter of the way in: 1 s into the clip.
    void ClickOneSecondIn() {
        const QPoint at(Ed->Mapping().Width / 4, 3);
        MouseDrag(Ed->ImRubber, {at, at});
    }
};

} // namespace

TEST_F(EditorFixture, GraphPressAddLevelDragAndDoubleClickDelete) {
    EXPECT_EQ(Root->EditedNode, Clip);
    Choose("Level");
    EXPECT_EQ(Ed->GetCurrentCurve()->Caption, "Level");
    ClickOneSecondIn();
    EXPECT_EQ(std::tuple(Cursor(), Ed->LocalTime()), std::tuple(45, Extended(1))); // (2 + 1) x 15
    Ed->Buttons[btAdd]->click();
    TDataPoint* p = Ed->GetCurrentPoint();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Time, 1);
    EXPECT_TRUE(!Ed->Buttons[btAdd]->isEnabled() && Ed->Buttons[btDel]->isEnabled());
    const QPoint at = PointCentre(*p);
    MouseDrag(Ed->ImRubber, {at, {at.x(), -25}, {at.x(), -25}});
    EXPECT_EQ(p->GetLevel(), 1.0L);
    EXPECT_EQ(Cursor(), 60); // the cursor follows a second after the point
    SendMouse(Ed->ImRubber, QEvent::MouseMove, {at.x(), Ed->Mapping().Height + 30}, Qt::NoButton);
    EXPECT_EQ(p->GetLevel(), 1.0L); // the drag ended with the release

    Ui.Answers.push_back(TMsgResult::OK);
    const QPoint top = PointCentre(*p);
    MouseDrag(Ed->ImRubber, {top, top});
    SendMouse(Ed->ImRubber, QEvent::MouseButtonDblClick, top);
    EXPECT_EQ(Ui.Questions, std::vector<std::string>{"Delete node?"});
    EXPECT_EQ(Ed->GetCurrentCurve()->GetCount(), 1);
    EXPECT_EQ(Ed->GetCurrentPoint(), nullptr);
}

// At the main window's smallest size every caption of the toolbar and the chosen curve's name
// are whole, measured with the fonts the widgets draw with.
TEST_F(EditorFixture, ToolbarCaptionsFitAtTheSmallestWindow) {
    Choose("On-screen positioning");
    Form->resize(1, 1);
    PumpEvents(10);
    ASSERT_EQ(Form->size(), Form->minimumSize());
    for (QToolButton* b : Ed->Buttons) {
        SCOPED_TRACE(b->text().toStdString());
        ASSERT_TRUE(b->isVisibleTo(Form.get()));
        EXPECT_GE(b->width(), b->fontMetrics().horizontalAdvance(b->text()) + 4);
        EXPECT_GE(b->width(), b->sizeHint().width());
    }
    QStyleOptionComboBox opt;
    opt.initFrom(Ed->cbMode);
    opt.rect = Ed->cbMode->rect();
    const QRect field = Ed->cbMode->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                            QStyle::SC_ComboBoxEditField);
    EXPECT_GE(field.width(), Ed->cbMode->fontMetrics().horizontalAdvance("On-screen positioning"));
    // Nothing of the toolbar lies outside the panel it fills.
    EXPECT_LE(Ed->cbMode->geometry().right(), Ed->pEditor->width());
    EXPECT_GE(Ed->pEditor->parentWidget()->width(), Ed->pEditor->minimumSizeHint().width());
}

TEST_F(EditorFixture, OnScreenDragAtZoomTwoMovesByProjectPixels) {
    Form->miZoom200->trigger();
    PumpEvents(10);
    ASSERT_EQ(Form->pDisplay->width(), 640);
    EXPECT_EQ(Ed->pbOnScreen->size(), Form->pDisplay->size());
    ASSERT_EQ(Ed->GetCurrentCurve()->ValueMode, vmPosition);
    ClickOneSecondIn(); // drops the selection and moves the cursor
    Ed->Buttons[btAdd]->click();
    ASSERT_EQ(Ed->GetCurrentCurve()->GetCount(), 2);
    MouseDrag(Ed->pbOnScreen, {{100, 100}, {120, 110}, {140, 80}, {140, 80}});
    Clip->Curves->SetTime(1);
    TNodeInfo info;
    Clip->GetNodeInfo(info);
    EXPECT_EQ(std::tuple(info.X, info.Y), std::tuple(20, -10)); // 40 preview pixels at 200 %
}

TEST_F(EditorFixture, ClearAndResetCloseTheEditor) {
    TTimeData* c = Ed->GetCurrentCurve();
    c->AddNew(1)->SetLevel(0.5L);
    c->AddNew(2);
    Ui.Answers.push_back(TMsgResult::OK);
    Ed->UpdatePopup();
    Ed->miClear->trigger();
    ASSERT_EQ(c->GetCount(), 1);
    EXPECT_EQ(c->GetPoint(0)->Value, 0);
    Ed->Reset();
    EXPECT_EQ(Root->EditedNode, nullptr);
    EXPECT_FALSE(Ed->pEditor->isVisible() || Ed->pbOnScreen->isVisible());
    // An object of no duration is refused, with one message however often its row is drawn.
    Clip->UserDuration = 0;
    Form->RefreshProject(false);
    for (int i = 0; i < 3; ++i)
        Ed->EditObject(Clip, TRectI{10, 40, 200, 120});
    EXPECT_EQ(Ui.Messages, std::vector<std::string>{
                               "Error in TLocalEditorForm.EditObject: Object duration is 0."});
    EXPECT_EQ(Ed->GetEditedNode(), nullptr);
}

TEST_F(EditorFixture, TextThroughTheSubtitleEditorAndFontsThroughTheFontDialog) {
    Clip->Curves->Register(ckText, "Text");
    Clip->Curves->Register(ckFont, "Font");
    Ed->Reset();
    Redraw();
    Form->SendSetFrame(45);
    Choose("Text");
    TSubtitleEditor::ExecHook = [&](TSubtitleEditor& e) {
        EXPECT_EQ(e.GetCurrentPoint(), Ed->GetCurrentPoint());
        e.Memo->setPlainText(QStringLiteral("Hello\n\nthere"));
        e.cbHidden->setChecked(true);
    };
    Ed->Buttons[btAdd]->click(); // a text point opens the subtitle editor at once
    TSubtitleEditor::ExecHook = nullptr;
    TDataPoint* p = Ed->GetCurrentPoint();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Lines, (std::vector<std::string>{"Hello", "there"}));
    // The change report selected the point, moved the cursor to it and redrew the graph: the
    // selected hidden point shows in the button-shadow colour.
    EXPECT_EQ(std::tuple(Cursor(), p->Visible, Ed->Buttons[btHide]->isChecked()),
              std::tuple(45, false, true));
    const QPoint at = PointCentre(*p);
    EXPECT_EQ(Ed->GetGraphBitmap().Canvas().GetPixel(at.x(), at.y()), 0xA0A0A0u);

    Choose("Font");
    Ed->Buttons[btAdd]->click();
    TDataPoint* f = Ed->GetCurrentPoint();
    ASSERT_TRUE(f);
    TFontDialog::ExecHook = [&](TFontDialog& d) {
        EXPECT_EQ(d.seSize->value(), 14);
        d.cbName->setEditText(QString(300, QLatin1Char('n')));
        d.seSize->setValue(30);
        d.cbStyles[0]->setChecked(true);
        d.cbStyles[3]->setChecked(true);
        Ui.ColorAnswers.push_back(0x123456);
        d.bColor->click();
        return int(QDialog::Accepted);
    };
    Ed->Buttons[btFont]->click();
    TFontDialog::ExecHook = nullptr;
    EXPECT_EQ(std::tuple(f->Font.Size, f->Font.Name, f->Font.Style, f->Font.Color),
              std::tuple(30, std::string(255, 'n'), fsBold | fsStrikeOut, 0x123456u));
    // Editing allowed again after playback: the selection is dropped and the rules hold.
    Form->EnableEditing(false);
    Form->EnableEditing(true);
    EXPECT_EQ(Ed->GetCurrentPoint(), nullptr);
    EXPECT_TRUE(Ed->Buttons[btAdd]->isEnabled() && !Ed->Buttons[btFont]->isEnabled());
}

TEST_F(EditorFixture, PickTakesTheColourFromTheEffectsPicture) {
    auto* o = static_cast<TOverlayNode*>(Clip->AddNode("overlay", amLastChild, nkOverlay));
    o->SetAddOn("{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}"); // bitmap overlay
    ASSERT_TRUE(o->AddOn);
    o->AutoDuration = false;
    o->UserDuration = 2;
    o->Curves->Register(ckPick, "Color as opaque");
    TBitmap& work = o->Bridge->WorkBitmap;
    work.SetSize(16, 8);
    work.Canvas().SetPixel(5, 6, 0x102030);
    Form->RefreshProject(false);
    Form->SendSetFrame(45); // 1 s into the overlay
    Root->SetActiveNode(o);
    Redraw();
    ASSERT_EQ(Ed->GetEditedNode(), o);
    Choose("Color as opaque");
    Ed->Buttons[btAdd]->click();
    ASSERT_TRUE(Ed->Buttons[btPick]->isEnabled());
    TDataPoint* p = Ed->GetCurrentPoint();
    p->SetRawValue(0x0000FF);
    TPickDialog::ExecHook = [&](TPickDialog& d) {
        EXPECT_EQ(d.GetSelected(), 0x0000FFu);
        EXPECT_EQ(d.Image1->Picture().Width(), 16);
        SendMouse(d.Image1, QEvent::MouseButtonRelease, {5, 6}, Qt::NoButton);
        return int(QDialog::Accepted);
    };
    Ed->Buttons[btPick]->click();
    TPickDialog::ExecHook = nullptr;
    EXPECT_EQ(p->GetRawValue(), 0x102030);
}

// "Locate next node" and "Locate node before" from the graph's menu, on a stored curve whose
// first key lies 1 s in and whose other keys are off the frame grid: 2.02 s is reached at frame
// 60 (before it), 2.98 s at frame 75 (after it). The clip starts at frame 30.
TEST_F(EditorFixture, LocateNextAndBeforeSelectThePointAndMoveTheCursor) {
    Choose("Level");
    TTimeData* c = Ed->GetCurrentCurve();
    c->GetPoint(0)->Time = 1;
    c->AddNew(2.02L);
    c->AddNew(2.98L);
    // Runs the command as the menu offers it (greyed or not, its own guard is run too); whether
    // it was offered, the selected point's index (-1: none) and the cursor.
    auto locate = [&](QAction* a) {
        Ed->UpdatePopup();
        const bool offered = a->isEnabled();
        a->setEnabled(true);
        a->trigger();
        PumpEvents(10);
        const TDataPoint* p = Ed->GetCurrentPoint();
        return std::tuple(offered, p ? c->IndexOf(p) : -1, Cursor());
    };
    auto from = [&](int32_t frame) {
        Form->SendSetFrame(frame);
        PumpEvents(10);
    };
    QAction* next = Ed->miLocateNext;
    QAction* before = Ed->miLocateBefore;
    from(0);      // ahead of the clip and of its first key
    Ed->Redraw(); // nothing selected
    EXPECT_EQ(locate(before), std::tuple(false, -1, 0));
    EXPECT_EQ(locate(next), std::tuple(true, 0, 45));
    from(50);
    EXPECT_EQ(locate(next), std::tuple(true, 1, 60));
    // The cursor stands on the 2.02 s key's frame: the next one is the key after it.
    EXPECT_EQ(locate(next), std::tuple(true, 2, 75));
    EXPECT_EQ(locate(next), std::tuple(false, 2, 75)); // past the last key
    // Waiting in the queue when the command runs: a stale frame request and editing allowed again
    // after a playback, which drops the selection. Both run with the centring's render; the key
    // and its frame are chosen again after it and win.
    Form->PostSetFrame(0);
    QMetaObject::invokeMethod(
        Form.get(), [this] { Form->EnableEditing(true); }, Qt::QueuedConnection);
    // On the frame grid 2.98 s is where the cursor stands: the key before is 2.02 s.
    EXPECT_EQ(locate(before), std::tuple(true, 1, 60));
    from(55);
    EXPECT_EQ(locate(before), std::tuple(true, 0, 45));
    EXPECT_EQ(locate(before), std::tuple(false, 0, 45));
}
