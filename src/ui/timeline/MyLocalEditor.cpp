#include "MyLocalEditor.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QToolButton>

#include <algorithm>

#include "IUiServices.h"
#include "MyCustomAddOn.h"
#include "MyEffectNodes.h"
#include "MyFontDialog.h"
#include "MyPickDialog.h"
#include "MyProjNode.h"
#include "MySubtitleEditor.h"
#include "MyTimeData.h"
#include "MyTimeline.h"

// ---- TCurveMapping ----------------------------------------------------------------------------

TCurveMapping TCurveMapping::For(TTreeNodeData* node, const TTimeData* curve, int32_t w,
                                 int32_t h) {
    TCurveMapping m;
    m.Width = w;
    m.Height = h;
    m.TimeOnly = curve && curve->TimeOnly;
    if (!node)
        return m;
    m.Duration = node->GetDuration();
    // A part of the object before its parent starts is never seen: the graph leaves it out.
    if (TTreeNodeData* parent = node->GetParent()) {
        const Extended before = parent->GetStartTime() - node->GetStartTime();
        if (before > 0) {
            m.CutOff = before;
            m.Duration -= before;
        }
    }
    return m;
}

int32_t TCurveMapping::TimeToX(Extended t) const {
    if (!(Duration > 0))
        return 0;
    return Round(Width * (t - CutOff) / Duration);
}

Extended TCurveMapping::XToTime(int32_t x) const {
    return Duration * x / Width + CutOff;
}

int32_t TCurveMapping::PointY(const TDataPoint& p) const {
    if (TimeOnly)
        return MiddleY();
    return MiddleY() - Round(Height * p.GetLevel() / 2.0L);
}

std::optional<Extended> TCurveMapping::YToLevel(int32_t y) const {
    const int32_t y0 = MiddleY();
    if (y0 <= 0)
        return std::nullopt;
    return std::clamp(Extended(y0 - y) / y0, -1.0L, 1.0L);
}

// ---- TCurveButtonRules ------------------------------------------------------------------------

std::array<bool, btCount> TCurveButtonRules::Enabled(bool haveCurve, int i, int n, int m) {
    std::array<bool, btCount> e{};
    if (!haveCurve)
        return e;
    const bool sel = i >= 0;
    e[btAdd] = !sel;
    e[btDel] = sel && i >= 1;
    e[btMid] = sel && m != vmText;
    e[btVal] = sel && i >= 1 && m != vmText;
    e[btInterpolate] = sel && i >= 1 && i < n - 1 && m != vmText;
    e[btHide] = sel && i >= 1 && m == vmText;
    e[btText] = sel && m == vmText;
    e[btColor] = sel && m == vmColor;
    e[btPick] = sel && m == vmPick;
    e[btFont] = sel && m == vmFont;
    return e;
}

// ---- TCurveNavigation -------------------------------------------------------------------------

TDataPoint* TCurveNavigation::Next(const TTimeData& curve, Extended t) {
    for (int i = 0; i < curve.GetCount(); ++i)
        if (curve.GetPoint(i)->Time > t)
            return curve.GetPoint(i);
    return nullptr;
}

TDataPoint* TCurveNavigation::Previous(const TTimeData& curve, Extended t,
                                       const std::function<Extended(Extended)>& snap) {
    const Extended now = snap(t);
    int i = 0;
    while (i < curve.GetCount() && snap(curve.GetPoint(i)->Time) < now)
        ++i;
    return i > 0 ? curve.GetPoint(i - 1) : nullptr;
}

void TCurveNavigation::Clear(TTimeData& curve) {
    curve.Clear();
    curve.EnsurePoint();
}

int TCurveNavigation::HitTest(const std::vector<TRect>& boxes, int32_t x, int32_t y) {
    for (int i = int(boxes.size()) - 1; i >= 0; --i) {
        const TRect& r = boxes[size_t(i)];
        if (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom)
            return i;
    }
    return -1;
}

// ---- TLocalEditorForm -------------------------------------------------------------------------

namespace {

constexpr uint32_t clAqua = 0xFFFF00;
constexpr uint32_t clBtnShadow = 0xA0A0A0;
constexpr uint32_t clGreyPoint = 0x808080;
constexpr uint32_t clRed = 0x0000FF;
constexpr uint32_t clBlue = 0xFF0000;

const char* const ButtonTexts[btCount][2] = {
    {"Add", "Add new node"},
    {"Del", "Delete node"},
    {"Mid", "Put node in the middle"},
    {"=Val", "Put on the same value as the left node"},
    {"~/~", "Interpolate position based on the left and right nodes"},
    {"Hide", "Hide node"},
    {"Text", "Edit text"},
    {"Color", "Select color"},
    {"Pick", "Pick transparent color"},
    {"Font", "Select font"},
};

// Paints the editor's graph bitmap at its own size.
class TGraphView : public QWidget {
public:
    TGraphView(const TBitmap& bitmap, QWidget* parent) : QWidget(parent), Bitmap(bitmap) {}

protected:
    void paintEvent(QPaintEvent*) override {
        if (Bitmap.Empty())
            return;
        QPainter p(this);
        p.drawImage(0, 0,
                    QImage(Bitmap.Bits(), Bitmap.Width(), Bitmap.Height(), Bitmap.RowBytes(),
                           QImage::Format_BGR888));
    }

private:
    const TBitmap& Bitmap;
};

QPoint EventPoint(QEvent* event) {
    return static_cast<QMouseEvent*>(event)->position().toPoint();
}

// The frame the cursor stands on at local time t of node.
int32_t FrameOf(TTreeNodeData& node, const TProjectNode& project, Extended t) {
    const Extended frame = (node.GetStartTime() + t) * project.GetFPS();
    return Round(std::clamp<Extended>(frame, 0, INT32_MAX));
}

// The first point later than local time t that moves the cursor off its frame. A point off the
// frame grid less than half a frame after the cursor lies on the cursor's own frame: taken as the
// next one, it would leave the cursor where it is, and every later "next" would find it again.
TDataPoint* NextFrom(const TTimeData& curve, TTreeNodeData& node, const TProjectNode& project,
                     Extended t, int32_t cursor) {
    TDataPoint* p = TCurveNavigation::Next(curve, t);
    while (p && FrameOf(node, project, p->Time) <= cursor)
        p = TCurveNavigation::Next(curve, p->Time);
    return p;
}

} // namespace

TLocalEditorForm::TLocalEditorForm(TTimeline& timeline, std::function<void(int32_t)> setFrame)
    : QWidget(&timeline), Timeline(timeline), SetFrame(std::move(setFrame)) {
    hide();
    Holder = new QWidget(this);
    ImRubber = new TGraphView(GraphBitmap, Holder);
    ImRubber->setMouseTracking(true);
    ImRubber->installEventFilter(this);
    pbOnScreen = new QWidget(this);
    pbOnScreen->setAttribute(Qt::WA_NoSystemBackground);
    pbOnScreen->setMouseTracking(true);
    pbOnScreen->installEventFilter(this);
    BuildToolbar();
    BuildPopup();
    ApplyButtonRules();
    Lent = {pEditor, pbOnScreen, ImRubber};
}

TLocalEditorForm::~TLocalEditorForm() {
    // The parts lent to other windows go with the editor, unless their window went first.
    for (const QPointer<QWidget>& panel : {EditorPanel, DisplayPanel})
        if (panel)
            panel->removeEventFilter(this);
    for (const QPointer<QWidget>& part : Lent)
        delete part.data();
}

void TLocalEditorForm::BuildToolbar() {
    pEditor = new QWidget(this);
    auto* h = new QHBoxLayout(pEditor);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(1);
    const std::function<void()> actions[btCount] = {
        [this] { AddClick(); },    [this] { DelClick(); },    [this] { PlaceClick(0); },
        [this] { PlaceClick(1); }, [this] { PlaceClick(2); }, [this] { HideClick(); },
        [this] { TextClick(); },   [this] { ColorClick(); },  [this] { PickClick(); },
        [this] { FontClick(); }};
    for (int i = 0; i < btCount; ++i) {
        auto* b = new QToolButton(pEditor);
        b->setText(QString::fromLatin1(ButtonTexts[i][0]));
        b->setToolTip(QString::fromLatin1(ButtonTexts[i][1]));
        connect(b, &QToolButton::clicked, this, actions[i]);
        Buttons[size_t(i)] = b;
        h->addWidget(b);
    }
    Buttons[btHide]->setCheckable(true);
    cbMode = new QComboBox(pEditor);
    cbMode->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    h->addWidget(cbMode);
    h->addStretch();
    connect(cbMode, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!Filling)
            ChooseCurve(i);
    });
    pEditor->hide();
}

void TLocalEditorForm::BuildPopup() {
    pmGraph = new QMenu(this);
    miLocateCurrent = pmGraph->addAction(QStringLiteral("Locate current node"));
    miLocateNext = pmGraph->addAction(QStringLiteral("Locate next node"));
    miLocateBefore = pmGraph->addAction(QStringLiteral("Locate node before"));
    miClear = pmGraph->addAction(QStringLiteral("Clear nodes"));
    connect(miLocateCurrent, &QAction::triggered, this, [this] { LocateCurrent(); });
    connect(miLocateNext, &QAction::triggered, this, [this] { LocateOther(true); });
    connect(miLocateBefore, &QAction::triggered, this, [this] { LocateOther(false); });
    connect(miClear, &QAction::triggered, this, [this] { ClearClick(); });
}

void TLocalEditorForm::Setup(TProjectNode* project, QWidget* editorPanel, QWidget* displayPanel) {
    Project = project;
    EditorPanel = editorPanel;
    DisplayPanel = displayPanel;
    // Both parts fill their panel and follow its size.
    for (auto [part, panel] :
         {std::pair{pEditor, editorPanel}, std::pair{pbOnScreen, displayPanel}}) {
        if (!panel)
            continue;
        part->setParent(panel);
        part->setGeometry(0, 0, panel->width(), panel->height());
        panel->installEventFilter(this);
        part->hide();
    }
    ReserveToolbarRoom();
}

void TLocalEditorForm::ReserveToolbarRoom() {
    if (!EditorPanel)
        return;
    // The toolbar lies over the panel rather than in its layout, so the panel's own contents
    // would decide its width; it only ever grows, so the window does not jump between objects.
    // A combo box would give way down to a few letters; the chosen curve's name stays whole.
    cbMode->setMinimumWidth(cbMode->sizeHint().width());
    pEditor->layout()->activate();
    const QSize need = pEditor->minimumSizeHint();
    EditorPanel->setMinimumSize(std::max(EditorPanel->minimumWidth(), need.width()),
                                std::max(EditorPanel->minimumHeight(), need.height()));
}

IUiServices* TLocalEditorForm::Ui() const {
    return Project ? Project->Ui : nullptr;
}

TCurveMapping TLocalEditorForm::Mapping() const {
    return TCurveMapping::For(EditedNode, CurrentCurve, GraphBitmap.Width(), GraphBitmap.Height());
}

Extended TLocalEditorForm::LocalTime() const {
    if (!EditedNode || !Project)
        return 0;
    const Extended fps = Project->GetFPS();
    if (!(fps > 0))
        return 0;
    const Extended t = Timeline.GetFramePos() / fps - EditedNode->GetStartTime();
    return t > 0 ? t : 0;
}

void TLocalEditorForm::RequestPreview() {
    if (SetFrame)
        SetFrame(-1);
}

void TLocalEditorForm::GotoLocalTime(Extended t) {
    if (!SetFrame || !EditedNode || !Project)
        return;
    SetFrame(FrameOf(*EditedNode, *Project, t));
}

void TLocalEditorForm::EditObject(TTreeNodeData* node, const TRectI& rect) {
    if (!node || !Project)
        return;
    if (node->GetDuration() == 0) {
        // Every repaint of the row comes here: the message is shown once per object.
        if (node != RefusedNode)
            if (IUiServices* ui = Ui())
                ui->ShowMessage("Error in TLocalEditorForm.EditObject: Object duration is 0.");
        RefusedNode = node;
        return;
    }
    RefusedNode = nullptr;
    // A repaint of the row refreshes the editor; the curve and the point chosen survive it.
    const bool opening = node != EditedNode || !pEditor->isVisible();
    if (node != EditedNode) {
        EditedNode = node;
        Filling = true;
        cbMode->clear();
        for (int i = 0; TTimeData* c = node->Curves->GetEnabledItem(i); ++i)
            cbMode->addItem(QString::fromStdString(c->Caption));
        cbMode->setCurrentIndex(0);
        Filling = false;
        ReserveToolbarRoom();
        ChooseCurve(0);
    }
    Project->EditedNode = node;
    PlaceGraph(rect);
    pEditor->raise();
    pEditor->show();
    pbOnScreen->raise();
    pbOnScreen->show();
    DrawGraph();
    if (opening)
        RequestPreview();
}

void TLocalEditorForm::PlaceGraph(const TRectI& rect) {
    if (ImRubber->parentWidget() != Timeline.Image1)
        ImRubber->setParent(Timeline.Image1);
    const int32_t w = std::max<int32_t>(rect.Right - rect.Left, 0);
    const int32_t h = std::max<int32_t>(rect.Bottom - rect.Top, 0);
    ImRubber->setGeometry(rect.Left + 4, rect.Top, w, h);
    ImRubber->show();
    GraphBitmap.SetSize(w, h);
}

void TLocalEditorForm::Reset() {
    const bool wasShown = pEditor->isVisible();
    if (Project)
        Project->EditedNode = nullptr;
    pEditor->hide();
    pbOnScreen->hide();
    EditedNode = nullptr;
    CurrentCurve = nullptr;
    CurrentPoint = nullptr;
    LevelDragging = ScreenDragging = false;
    ImRubber->setParent(Holder);
    ImRubber->hide();
    ApplyButtonRules();
    if (wasShown)
        RequestPreview();
}

void TLocalEditorForm::Redraw() {
    if (!Busy)
        SelectPoint(nullptr);
    ApplyButtonRules();
    DrawGraph();
}

void TLocalEditorForm::ChooseCurve(int index) {
    CurrentCurve = EditedNode ? EditedNode->Curves->GetEnabledItem(index) : nullptr;
    CurrentPoint = nullptr;
    if (CurrentCurve)
        SelectPoint(CurrentCurve->FindPointAt(LocalTime()));
    ApplyButtonRules();
    DrawGraph();
}

void TLocalEditorForm::SelectPoint(TDataPoint* p) {
    CurrentPoint = nullptr;
    Updating = true;
    Buttons[btHide]->setChecked(p && !p->Visible);
    Updating = false;
    CurrentPoint = p;
    ApplyButtonRules();
    if (p)
        DrawGraph();
}

void TLocalEditorForm::ApplyButtonRules() {
    const bool have = EditedNode && CurrentCurve;
    const int i = have && CurrentPoint ? CurrentCurve->IndexOf(CurrentPoint) : -1;
    const auto e = TCurveButtonRules::Enabled(have, i, have ? CurrentCurve->GetCount() : 0,
                                              have ? CurrentCurve->ValueMode : 0);
    for (int b = 0; b < btCount; ++b)
        Buttons[size_t(b)]->setEnabled(e[size_t(b)]);
}

void TLocalEditorForm::Changed(bool redraw) {
    if (redraw)
        DrawGraph();
    RequestPreview();
}

void TLocalEditorForm::DrawGraph() {
    const TCurveMapping m = Mapping();
    if (!EditedNode || !CurrentCurve || !(m.Duration > 0) || GraphBitmap.Empty())
        return;
    TCanvas& c = GraphBitmap.Canvas();
    c.Brush.Style = bsSolid;
    c.Brush.Color = EditedNode->GetDrawColor();
    c.FillRect(Rect(0, 0, m.Width, m.Height));
    c.Pen.Color = 0;
    c.MoveTo(0, m.MiddleY());
    c.LineTo(m.Width, m.MiddleY());
    c.Pen.Color = clRed;
    int32_t lastY = m.MiddleY();
    for (int i = 0; i < CurrentCurve->GetCount(); ++i) {
        const TDataPoint& p = *CurrentCurve->GetPoint(i);
        const int32_t x = m.TimeToX(p.Time), y = m.PointY(p);
        if (i == 0)
            c.MoveTo(x, y);
        else if (CurrentCurve->Stepped)
            c.LineTo(x, lastY);
        c.LineTo(x, y);
        lastY = y;
    }
    c.LineTo(m.Width, lastY);
    DrawPoints(c, m);
    ImRubber->update();
}

void TLocalEditorForm::DrawPoints(TCanvas& c, const TCurveMapping& m) {
    Boxes.assign(size_t(CurrentCurve->GetCount()), TRect{});
    for (int i = 0; i < CurrentCurve->GetCount(); ++i) {
        const TDataPoint* p = CurrentCurve->GetPoint(i);
        const int32_t x = m.TimeToX(p->Time), y = m.PointY(*p);
        const TRect box = Rect(x - 4, y - 4, x + 5, y + 5);
        Boxes[size_t(i)] = box;
        if (p == CurrentPoint)
            c.Brush.Color = p->Visible ? clAqua : clBtnShadow;
        else
            c.Brush.Color = p->Visible ? 0xFFFFFF : clGreyPoint;
        if (m.TimeOnly) {
            c.FillRect(box);
            c.Brush.Color = clBlue;
            c.FrameRect(box);
        } else {
            c.Pen.Color = 0;
            c.Rectangle(box);
        }
    }
}

// ---- mouse on the graph ----

bool TLocalEditorForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ImRubber)
        return GraphEvent(event);
    if (watched == pbOnScreen)
        return ScreenEvent(event);
    const bool editorPanel = watched == EditorPanel.data();
    if (event->type() == QEvent::Resize && (editorPanel || watched == DisplayPanel.data())) {
        QWidget* part = editorPanel ? pEditor : pbOnScreen;
        part->setGeometry(0, 0, static_cast<QWidget*>(watched)->width(),
                          static_cast<QWidget*>(watched)->height());
    }
    return false;
}

bool TLocalEditorForm::GraphEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            GraphPress(EventPoint(event));
        return true;
    case QEvent::MouseMove:
        GraphMove(EventPoint(event));
        return true;
    case QEvent::MouseButtonRelease:
        LevelDragging = false;
        return true;
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            GraphDoubleClick();
        return true;
    case QEvent::ContextMenu:
        UpdatePopup();
        pmGraph->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    default:
        return false;
    }
}

void TLocalEditorForm::GraphPress(const QPoint& at) {
    if (!EditedNode)
        return;
    Busy = true;
    LastMouse = at;
    const int hit = CurrentCurve ? TCurveNavigation::HitTest(Boxes, at.x(), at.y()) : -1;
    TDataPoint* p = hit >= 0 ? CurrentCurve->GetPoint(hit) : nullptr;
    SelectPoint(p);
    const TCurveMapping m = Mapping();
    if (!p) {
        if (m.Width > 0)
            GotoLocalTime(m.XToTime(at.x()));
        DrawGraph();
    } else {
        GotoLocalTime(p->Time + 1.0L);
        DrawGraph();
        LevelDragging = CurrentCurve->ValueMode == vmLevel;
    }
    Busy = false;
}

void TLocalEditorForm::GraphMove(const QPoint& at) {
    const int hit = CurrentCurve ? TCurveNavigation::HitTest(Boxes, at.x(), at.y()) : -1;
    const bool hand = hit >= 0 && !CurrentCurve->TimeOnly;
    ImRubber->setCursor(hand ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (!LevelDragging || !CurrentPoint)
        return;
    const std::optional<Extended> v = Mapping().YToLevel(at.y());
    if (!v)
        return; // too flat a graph to tell a level
    const int32_t before = CurrentPoint->Value;
    CurrentPoint->SetLevel(*v);
    DrawGraph();
    if (CurrentPoint->Value != before)
        GotoLocalTime(CurrentPoint->Time + 1.0L);
}

void TLocalEditorForm::GraphDoubleClick() {
    if (!CurrentCurve)
        return;
    const bool onPoint = TCurveNavigation::HitTest(Boxes, LastMouse.x(), LastMouse.y()) >= 0;
    if (onPoint && Buttons[btDel]->isEnabled())
        DelClick();
    else if (!onPoint && Buttons[btAdd]->isEnabled())
        AddClick();
}

// ---- on-screen position drag ----

bool TLocalEditorForm::ScreenEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (!ScreenDragging) {
            ScreenLast = EventPoint(event);
            ScreenDragging = true;
            Updating = false;
        }
        return true;
    case QEvent::MouseMove:
        ScreenMove(EventPoint(event));
        return true;
    case QEvent::MouseButtonRelease:
        ScreenDragging = false;
        return true;
    default:
        return false;
    }
}

void TLocalEditorForm::ScreenMove(const QPoint& at) {
    const bool position = CurrentCurve && CurrentCurve->ValueMode == vmPosition;
    const bool hand = position && CurrentPoint;
    pbOnScreen->setCursor(!position ? Qt::ForbiddenCursor
                          : hand    ? Qt::PointingHandCursor
                                    : Qt::ArrowCursor);
    if (!hand || !ScreenDragging || Updating || !EditedNode || !Project)
        return;
    Updating = true;
    // The preview may be zoomed: a drag counts in pixels of the project's frame.
    const Extended zoom =
        Project->Width > 0 && DisplayPanel ? Extended(DisplayPanel->width()) / Project->Width : 1;
    const Extended fw = EditedNode->GetFrameWidth(), fh = EditedNode->GetFrameHeight();
    if (zoom > 0 && fw > 0 && fh > 0) {
        Extended x, y;
        CurrentPoint->GetPosition(x, y);
        x += (at.x() - ScreenLast.x()) / zoom / fw;
        y += (at.y() - ScreenLast.y()) / zoom / fh;
        // The stored halves stop at their ends rather than wrap round.
        CurrentPoint->SetPosition(x, y);
    }
    ScreenLast = at;
    GotoLocalTime(LocalTime());
    Updating = false;
}

// ---- buttons ----

void TLocalEditorForm::AddClick() {
    if (!CurrentCurve)
        return;
    const Extended t = LocalTime();
    TDataPoint* p = CurrentCurve->FindPointAt(t);
    if (!p)
        p = CurrentCurve->AddNew(t);
    SelectPoint(p);
    GotoLocalTime(t);
    DrawGraph();
    if (CurrentCurve->ValueMode == vmText)
        TextClick();
    RequestPreview();
}

void TLocalEditorForm::DelClick() {
    if (!CurrentCurve || !CurrentPoint)
        return;
    IUiServices* ui = Ui();
    if (!ui || ui->Ask("Delete node?", TMsgButtons::OKCancel) != TMsgResult::OK)
        return;
    const int i = CurrentCurve->IndexOf(CurrentPoint);
    if (i <= 0)
        return;
    CurrentCurve->DeletePoint(i);
    SelectPoint(nullptr);
    Changed();
}

void TLocalEditorForm::PlaceClick(int mode) {
    if (!CurrentPoint)
        return;
    CurrentPoint->PlaceValue(mode);
    Changed();
}

void TLocalEditorForm::HideClick() {
    if (Updating || !CurrentPoint)
        return;
    CurrentPoint->Visible = !Buttons[btHide]->isChecked();
    Changed();
}

void TLocalEditorForm::TextClick() {
    if (!CurrentCurve || CurrentCurve->ValueMode != vmText || !CurrentPoint)
        return;
    TSubtitleEditor::Execute(
        window(), Ui(), [this](TDataPoint* p) { SubtitleNodeChanged(p); }, CurrentPoint,
        *CurrentCurve);
    RequestPreview();
}

void TLocalEditorForm::SubtitleNodeChanged(TDataPoint* p) {
    SelectPoint(p);
    if (p)
        GotoLocalTime(p->Time);
}

void TLocalEditorForm::ColorClick() {
    IUiServices* ui = Ui();
    if (!ui || !CurrentCurve || CurrentCurve->ValueMode != vmColor || !CurrentPoint)
        return;
    if (std::optional<uint32_t> c = ui->ChooseColor(uint32_t(CurrentPoint->GetRawValue()))) {
        CurrentPoint->SetRawValue(int32_t(*c));
        RequestPreview();
    }
}

void TLocalEditorForm::FontClick() {
    if (!CurrentPoint)
        return;
    if (TFontDialog::Execute(CurrentPoint->GetFont(), Ui(), window()))
        RequestPreview();
}

void TLocalEditorForm::PickClick() {
    if (!CurrentCurve || CurrentCurve->ValueMode != vmPick || !CurrentPoint)
        return;
    auto* effect = dynamic_cast<TCustomAddOnsNode*>(EditedNode);
    TBitmap* picture = effect && effect->AddOn ? effect->AddOn->GetWorkBitmap() : nullptr;
    if (!picture)
        return;
    uint32_t colour = uint32_t(CurrentPoint->GetRawValue());
    if (TPickDialog::Execute(*picture, colour, window())) {
        CurrentPoint->SetRawValue(int32_t(colour));
        RequestPreview();
    }
}

// ---- pop-up menu ----

void TLocalEditorForm::UpdatePopup() {
    for (QAction* a : {miLocateCurrent, miLocateNext, miLocateBefore})
        a->setEnabled(false);
    if (!CurrentCurve || !Project)
        return;
    const Extended t = LocalTime();
    miLocateCurrent->setEnabled(CurrentPoint != nullptr);
    miLocateNext->setEnabled(EditedNode && NextFrom(*CurrentCurve, *EditedNode, *Project, t,
                                                    Timeline.GetFramePos()) != nullptr);
    miLocateBefore->setEnabled(TCurveNavigation::Previous(*CurrentCurve, t, [this](Extended s) {
                                   return Project->SnapTime(s);
                               }) != nullptr);
}

void TLocalEditorForm::LocateCurrent() {
    Timeline.LocateCursor(2);
    if (!CurrentPoint)
        return;
    TDataPoint* p = CurrentPoint;
    SelectPoint(p);
    GotoLocalTime(p->Time);
}

void TLocalEditorForm::LocateOther(bool next) {
    if (!CurrentCurve || !EditedNode || !Project)
        return;
    const Extended t = LocalTime();
    TDataPoint* p = next ? NextFrom(*CurrentCurve, *EditedNode, *Project, t, Timeline.GetFramePos())
                         : TCurveNavigation::Previous(*CurrentCurve, t, [this](Extended s) {
                               return Project->SnapTime(s);
                           });
    if (!p)
        return;
    SelectPoint(p);
    GotoLocalTime(p->Time);
    Timeline.LocateCursor(2);
    // Centring renders the cursor's frame anew; once that has run, the point is chosen again
    // so that the cursor and the selection end on it.
    QCoreApplication::processEvents();
    if (CurrentCurve && CurrentCurve->IndexOf(p) >= 0) {
        SelectPoint(p);
        GotoLocalTime(p->Time);
    }
}

void TLocalEditorForm::ClearClick() {
    IUiServices* ui = Ui();
    if (!CurrentCurve || !ui || ui->Ask("Clear nodes?", TMsgButtons::OKCancel) != TMsgResult::OK)
        return;
    TCurveNavigation::Clear(*CurrentCurve);
    SelectPoint(nullptr);
    DrawGraph();
    Timeline.RequestRepaint();
}
