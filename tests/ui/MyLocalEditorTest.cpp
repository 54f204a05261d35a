// The curve editor: the graph's mapping, the button rules, key-point navigation, and the editor
// driven on the real main window (graph presses and drags, double-click delete, the on-screen
// drag on a zoomed preview, and the edited curve surviving a save and reload).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontComboBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>

#include "FakeUiServices.h"
#include "ITreeItem.h"
#include "MainZunt.h"
#include "MyFontDialog.h"
#include "MyLocalEditor.h"
#include "MySubtitleEditor.h"
#include "MyTimeData.h"
#include "MyTimeline.h"
#include "TempFolders.h"
#include "TrackProject.h"

namespace {

void Pump() {
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
}

void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons buttons = Qt::LeftButton) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

// A curve with points at the given times (the first is the created one at 0).
void Fill(TTimeData& c, std::initializer_list<Extended> times) {
    c.EnsurePoint();
    for (Extended t : times)
        if (t != 0)
            c.AddNew(t);
}

} // namespace

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
    EXPECT_EQ(f.CutOff, 2);
    EXPECT_EQ(f.Duration, o->GetDuration() - 2);
    EXPECT_EQ(f.TimeToX(2), 0);
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
    Fill(c, {0, 1, 2.02L, 3});
    auto snap = [](Extended t) { return std::nearbyintl(t * 10) / 10; }; // 10 fps
    const struct {
        Extended t;
        int next, previous; // point indexes, -1 none
    } cases[] = {{0, 1, -1},    {0.5L, 1, 0}, {1, 2, 0},  {2.0L, 2, 1},
                 {2.04L, 3, 1}, {2.1L, 3, 2}, {3, -1, 2}, {9, -1, 3}};
    for (const auto& k : cases) {
        TDataPoint* n = TCurveNavigation::Next(c, k.t);
        TDataPoint* p = TCurveNavigation::Previous(c, k.t, snap);
        EXPECT_EQ(n ? c.IndexOf(n) : -1, k.next) << double(k.t);
        EXPECT_EQ(p ? c.IndexOf(p) : -1, k.previous) << double(k.t);
    }
    c.GetPoint(0)->SetLevel(0.5L);
    TCurveNavigation::Clear(c);
    ASSERT_EQ(c.GetCount(), 1);
    EXPECT_EQ(c.GetPoint(0)->Time, 0);
    EXPECT_EQ(c.GetPoint(0)->Value, 0);
    EXPECT_TRUE(c.GetPoint(0)->Visible);

    const std::vector<TRect> boxes = {Rect(0, 0, 9, 9), Rect(5, 5, 14, 14)};
    EXPECT_EQ(TCurveNavigation::HitTest(boxes, 6, 6), 1); // the later box wins
    EXPECT_EQ(TCurveNavigation::HitTest(boxes, 2, 2), 0);
    EXPECT_EQ(TCurveNavigation::HitTest(boxes, 9, 2), -1);
}

namespace {

// The main window with a 4 s black clip at 2 s whose level and position curves are open in the
// curve editor.
struct EditorFixture : ::testing::Test {
    TFakeUiServices Ui;
    std::unique_ptr<TMainForm> Form;
    TProjectNode* P = nullptr;
    TTreeNodeData* Clip = nullptr;
    TTimeline* TL = nullptr;
    TLocalEditorForm* Ed = nullptr;

    void SetUp() override {
        Form = std::make_unique<TMainForm>(&Ui);
        Form->resize(1000, 700);
        Form->show();
        P = Form->GetProject();
        TTreeNodeData* lead = P->VideoTrack->AddNode("lead", amLastChild, nkBlank);
        lead->AutoDuration = false;
        lead->UserDuration = 2;
        Clip = P->VideoTrack->AddNode("clip", amLastChild, nkBlank);
        Clip->AutoDuration = false;
        Clip->UserDuration = 4;
        Clip->Curves->Register(ckLevel, "Level");
        Clip->Curves->Register(ckPosition, "On-screen positioning");
        Form->RefreshProject(false);
        P->SetActiveNode(Clip);
        TL = Form->TimelineArea->findChild<TTimeline*>();
        ASSERT_TRUE(TL);
        TL->GetTrackDraw()->AdjustMode = true;
        TL->RequestRepaint();
        Pump();
        Ed = dynamic_cast<TLocalEditorForm*>(TL->GetTrackDraw()->Editor);
        ASSERT_TRUE(Ed);
        ASSERT_EQ(Ed->GetEditedNode(), Clip);
        ASSERT_GT(Ed->GetGraphBitmap().Width(), 20);
    }
    void TearDown() override { Form.reset(); }

    int32_t Cursor() { return Form->Timeline().GetFramePos(); }
    QPoint PointCentre(const TDataPoint& p) {
        const TCurveMapping m = Ed->Mapping();
        return {m.TimeToX(p.Time), m.PointY(p)};
    }
};

} // namespace

TEST_F(EditorFixture, GraphPressAddLevelDragAndDoubleClickDelete) {
    EXPECT_EQ(P->EditedNode, Clip);
    Ed->cbMode->setCurrentIndex(Ed->cbMode->findText(QStringLiteral("Level")));
    EXPECT_EQ(Ed->GetCurrentCurve()->Caption, "Level");
    const TCurveMapping m = Ed->Mapping();
    // An empty spot a quarter of the way in: 1 s into the clip, frame (2 + 1) x 15.
    Mouse(Ed->ImRubber, QEvent::MouseButtonPress, {m.Width / 4, 3});
    Mouse(Ed->ImRubber, QEvent::MouseButtonRelease, {m.Width / 4, 3}, Qt::NoButton);
    EXPECT_EQ(Cursor(), 45);
    EXPECT_EQ(Ed->LocalTime(), 1);

    Ed->Buttons[btAdd]->click();
    TDataPoint* p = Ed->GetCurrentPoint();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Time, 1);
    EXPECT_FALSE(Ed->Buttons[btAdd]->isEnabled());
    EXPECT_TRUE(Ed->Buttons[btDel]->isEnabled());
    const QPoint at = PointCentre(*p);
    Mouse(Ed->ImRubber, QEvent::MouseButtonPress, at);
    Mouse(Ed->ImRubber, QEvent::MouseMove, {at.x(), -25});
    Mouse(Ed->ImRubber, QEvent::MouseButtonRelease, {at.x(), -25}, Qt::NoButton);
    EXPECT_EQ(p->GetLevel(), 1.0L);
    EXPECT_EQ(Cursor(), 60); // the cursor follows a second after the point
    Mouse(Ed->ImRubber, QEvent::MouseMove, {at.x(), m.Height + 30}, Qt::NoButton);
    EXPECT_EQ(p->GetLevel(), 1.0L); // the drag ended with the release

    Ui.Answers.push_back(TMsgResult::OK);
    const QPoint top = PointCentre(*p);
    Mouse(Ed->ImRubber, QEvent::MouseButtonPress, top);
    Mouse(Ed->ImRubber, QEvent::MouseButtonRelease, top, Qt::NoButton);
    Mouse(Ed->ImRubber, QEvent::MouseButtonDblClick, top);
    EXPECT_EQ(Ui.Questions, std::vector<std::string>{"Delete node?"});
    EXPECT_EQ(Ed->GetCurrentCurve()->GetCount(), 1);
    EXPECT_EQ(Ed->GetCurrentPoint(), nullptr);
}

TEST_F(EditorFixture, OnScreenDragAtZoomTwoMovesByProjectPixelsAndTheCurveIsSaved) {
    Form->miZoom200->trigger();
    Pump();
    ASSERT_EQ(Form->pDisplay->width(), 640);
    EXPECT_EQ(Ed->pbOnScreen->size(), Form->pDisplay->size());
    ASSERT_EQ(Ed->GetCurrentCurve()->ValueMode, vmPosition);
    // A press on the empty graph 1 s into the clip drops the selection and moves the cursor.
    Mouse(Ed->ImRubber, QEvent::MouseButtonPress, {Ed->Mapping().Width / 4, 3});
    Mouse(Ed->ImRubber, QEvent::MouseButtonRelease, {Ed->Mapping().Width / 4, 3}, Qt::NoButton);
    ASSERT_EQ(Ed->LocalTime(), 1);
    Ed->Buttons[btAdd]->click();
    ASSERT_EQ(Ed->GetCurrentCurve()->GetCount(), 2);
    TDataPoint* p = Ed->GetCurrentPoint();
    ASSERT_TRUE(p);
    Mouse(Ed->pbOnScreen, QEvent::MouseButtonPress, {100, 100});
    Mouse(Ed->pbOnScreen, QEvent::MouseMove, {120, 110});
    Mouse(Ed->pbOnScreen, QEvent::MouseMove, {140, 80});
    Mouse(Ed->pbOnScreen, QEvent::MouseButtonRelease, {140, 80}, Qt::NoButton);
    Clip->Curves->SetTime(1);
    TNodeInfo info;
    Clip->GetNodeInfo(info);
    EXPECT_EQ(info.X, 20); // 40 preview pixels at 200 %
    EXPECT_EQ(info.Y, -10);

    TTempDir dir;
    const std::string file = dir.Path + "/edited.mpr";
    ASSERT_TRUE(P->SaveToFile(file));
    TMemTree tree;
    TProjectNode again("Project", tree.AddRoot("Project"));
    ASSERT_TRUE(again.LoadFromFile(file));
    TTreeNodeData* clip = again.VideoTrack->GetChild(1);
    ASSERT_TRUE(clip);
    ASSERT_EQ(clip->GetCaption(), "clip");
    const TTimeData* c = clip->Curves->FindByKey(Ed->GetCurrentCurve()->Key);
    ASSERT_EQ(c->GetCount(), 2);
    EXPECT_EQ(c->GetPoint(1)->Time, 1);
    EXPECT_EQ(c->GetPoint(1)->Value, p->Value);
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
    EXPECT_EQ(P->EditedNode, nullptr);
    EXPECT_FALSE(Ed->pEditor->isVisible());
    EXPECT_FALSE(Ed->pbOnScreen->isVisible());
}

TEST_F(EditorFixture, TextThroughTheSubtitleEditorAndFontsThroughTheFontDialog) {
    Clip->Curves->Register(ckText, "Text");
    Clip->Curves->Register(ckFont, "Font");
    Ed->Reset();
    TL->RequestRepaint();
    Pump();
    Form->SendSetFrame(45);
    Ed->cbMode->setCurrentIndex(Ed->cbMode->findText(QStringLiteral("Text")));
    ASSERT_EQ(Ed->GetCurrentCurve()->ValueMode, vmText);
    int shown = 0;
    TSubtitleEditor::ExecHook = [&](TSubtitleEditor& e) {
        ++shown;
        EXPECT_EQ(e.GetCurrentPoint(), Ed->GetCurrentPoint());
        e.Memo->setPlainText(QStringLiteral("Hello\n\nthere"));
        e.cbHidden->setChecked(true);
    };
    Ed->Buttons[btAdd]->click(); // a text point opens the subtitle editor at once
    TSubtitleEditor::ExecHook = nullptr;
    ASSERT_EQ(shown, 1);
    TDataPoint* p = Ed->GetCurrentPoint();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Lines, (std::vector<std::string>{"Hello", "there"}));
    // The change report selected the point, moved the cursor to it and redrew the graph: the
    // selected hidden point shows in the button-shadow colour.
    EXPECT_EQ(Cursor(), 45);
    EXPECT_FALSE(p->Visible);
    const QPoint at = PointCentre(*p);
    EXPECT_EQ(Ed->GetGraphBitmap().Canvas().GetPixel(at.x(), at.y()), 0xA0A0A0u);
    EXPECT_TRUE(Ed->Buttons[btHide]->isChecked());

    Ed->cbMode->setCurrentIndex(Ed->cbMode->findText(QStringLiteral("Font")));
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
    EXPECT_EQ(f->Font.Size, 30);
    EXPECT_EQ(f->Font.Name, std::string(255, 'n'));
    EXPECT_EQ(f->Font.Style, fsBold | fsStrikeOut);
    EXPECT_EQ(f->Font.Color, 0x123456u);

    // Editing allowed again after playback: the selection is dropped and the rules hold.
    Form->EnableEditing(false);
    Form->EnableEditing(true);
    EXPECT_EQ(Ed->GetCurrentPoint(), nullptr);
    EXPECT_TRUE(Ed->Buttons[btAdd]->isEnabled());
    EXPECT_FALSE(Ed->Buttons[btFont]->isEnabled());
}
