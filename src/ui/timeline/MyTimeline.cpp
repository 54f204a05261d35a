#include "MyTimeline.h"

#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "IUiServices.h"
#include "MyProjNode.h"

namespace {

// Plain panel that shows a bitmap, or nothing.
class TImagePanel : public QWidget {
public:
    TImagePanel(QWidget* parent, const TBitmap* image) : QWidget(parent), Image(image) {}

protected:
    void paintEvent(QPaintEvent*) override {
        if (!Image || Image->Empty())
            return;
        QPainter p(this);
        const QImage view(Image->Bits(), Image->Width(), Image->Height(), Image->RowBytes(),
                          QImage::Format_BGR888);
        p.drawImage(0, 0, view);
    }

private:
    const TBitmap* Image;
};

QToolButton* MakeButton(QWidget* parent, const QString& caption, const QString& hint) {
    auto* b = new QToolButton(parent);
    b->setText(caption);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setMouseTracking(true);
    return b;
}

QHBoxLayout* HBox(QWidget* w) {
    auto* l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    return l;
}

QVBoxLayout* VBox(QWidget* w) {
    auto* l = new QVBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    return l;
}

} // namespace

TTimeline::TTimeline(QWidget* parent) : QWidget(parent) {
    VBox(this);
    BasePanel = new QWidget(this);
    layout()->addWidget(BasePanel);
    QHBoxLayout* base = HBox(BasePanel);
    BuildToolColumn();
    base->addWidget(Panel2);

    auto* right = new QWidget(BasePanel);
    QVBoxLayout* column = VBox(right);
    base->addWidget(right, 1);
    BuildCursorBar(right, column);
    BuildTrackImage(right, column);
    BuildScrollBar(right, column);
    ConnectControls();
    BindModel();

    // The track image's font: "Arial", 7 points.
    Bitmap.Canvas().Font.Name = "Arial";
    Bitmap.Canvas().Font.Size = 7;
    SyncControls();
    Model.UpdateLayout();
}

void TTimeline::BuildToolColumn() {
    Panel2 = new QWidget(BasePanel);
    Panel2->setFixedWidth(28);
    Panel2->setMouseTracking(true);
    QVBoxLayout* tools = VBox(Panel2);
    sbLocate = MakeButton(Panel2, QStringLiteral("|>"), QStringLiteral("Locate current position"));
    sbZoomIn = MakeButton(Panel2, QStringLiteral("+"), QStringLiteral("Zooming in, more detail"));
    sbZoomNormal =
        MakeButton(Panel2, QStringLiteral("="), QStringLiteral("Standard zooming level"));
    sbZoomOut = MakeButton(Panel2, QStringLiteral("-"), QStringLiteral("Zooming out more global"));
    sbMode2 = MakeButton(Panel2, QStringLiteral("s"), QStringLiteral("Display as time index"));
    sbMode1 = MakeButton(Panel2, QStringLiteral("f"), QStringLiteral("Display as frame index"));
    sbRepeat =
        MakeButton(Panel2, QStringLiteral("R"), QStringLiteral("Repeating between stop-point"));
    sbSoundSuppress =
        MakeButton(Panel2, QStringLiteral("A"), QStringLiteral("Suppress audio during preview"));
    sbPreviewVideo =
        MakeButton(Panel2, QStringLiteral("V"), QStringLiteral("Suppress video during preview"));
    for (QToolButton* b : {sbLocate, sbZoomIn, sbZoomNormal, sbZoomOut, sbMode2, sbMode1, sbRepeat,
                           sbSoundSuppress, sbPreviewVideo}) {
        b->setFixedSize(26, 20);
        tools->addWidget(b, 0, Qt::AlignHCenter);
    }
    tools->addStretch(1);
    auto* modes = new QButtonGroup(this);
    sbMode2->setCheckable(true);
    sbMode1->setCheckable(true);
    modes->addButton(sbMode2);
    modes->addButton(sbMode1);
    sbMode2->setChecked(true);
    sbRepeat->setCheckable(true);
    sbSoundSuppress->setCheckable(true);
    sbPreviewVideo->setCheckable(true);
}

// The cursor bar, as wide as the track image.
void TTimeline::BuildCursorBar(QWidget* right, QVBoxLayout* column) {
    pPosBack = new QWidget(right);
    pPosBack->setFixedHeight(15);
    QHBoxLayout* posRow = HBox(pPosBack);
    pPos = new QWidget(pPosBack);
    pPos->setToolTip(QStringLiteral("Dbl-click to set position"));
    pPos->setMouseTracking(true);
    posRow->addWidget(pPos, 1);
    posRow->addSpacing(17);
    sbPos = MakeButton(pPos, QStringLiteral("I"), QStringLiteral("Drag to re-locate"));
    sbPos->setAutoRaise(false);
    sbPos->setGeometry(0, 0, TTimelineModel::CursorButtonWidth, 15);
    column->addWidget(pPosBack);
}

void TTimeline::BuildTrackImage(QWidget* right, QVBoxLayout* column) {
    pGraph = new QWidget(right);
    QHBoxLayout* graph = HBox(pGraph);
    Image1 = new TImagePanel(pGraph, &Bitmap);
    Image1->setMouseTracking(true);
    Image1->setMinimumSize(1, 1);
    graph->addWidget(Image1, 1);
    Panel1 = new QWidget(pGraph);
    Panel1->setFixedWidth(17);
    graph->addWidget(Panel1);
    sbVertScroll = MakeButton(Panel1, QString(), QString());
    sbVertScroll->setAutoRaise(false);
    sbVertScroll->setGeometry(2, 0, 13, 17);
    column->addWidget(pGraph, 1);
}

void TTimeline::BuildScrollBar(QWidget* right, QVBoxLayout* column) {
    Panel4 = new QWidget(right);
    Panel4->setFixedHeight(17);
    QHBoxLayout* bar = HBox(Panel4);
    sbSmallLeft = MakeButton(Panel4, QStringLiteral("<"), QStringLiteral("+ Ctrl till end"));
    sbSmallRight = MakeButton(Panel4, QStringLiteral(">"), QStringLiteral("+ Ctrl till end"));
    sbSmallLeft->setFixedSize(17, 15);
    sbSmallRight->setFixedSize(17, 15);
    pScroll = new QWidget(Panel4);
    pScroll->setMouseTracking(true);
    pScroll->setAutoFillBackground(true);
    sbScroll = MakeButton(pScroll, QString(), QString());
    sbScroll->setAutoRaise(false);
    sbScroll->setGeometry(0, 0, 16, 17);
    bar->addWidget(sbSmallLeft);
    bar->addWidget(pScroll, 1);
    bar->addWidget(sbSmallRight);
    column->addWidget(Panel4);
}

void TTimeline::ConnectControls() {
    tmSmallHorz = new QTimer(this);
    tmSmallHorz->setSingleShot(true);
    connect(tmSmallHorz, &QTimer::timeout, this, [this] {
        const int32_t next = Model.ArrowTick();
        if (next > 0)
            tmSmallHorz->start(next);
    });

    for (QWidget* w : std::initializer_list<QWidget*>{
             Image1, pPos, pScroll, Panel2, sbPos, sbScroll, sbVertScroll, sbSmallLeft,
             sbSmallRight, sbLocate, sbZoomIn, sbZoomNormal, sbZoomOut, sbMode2, sbMode1, sbRepeat,
             sbSoundSuppress, sbPreviewVideo})
        w->installEventFilter(this);

    connect(sbLocate, &QToolButton::clicked, this, [this] { Model.LocateCursor(2); });
    connect(sbZoomIn, &QToolButton::clicked, this, [this] { Model.ZoomIn(); });
    connect(sbZoomOut, &QToolButton::clicked, this, [this] { Model.ZoomOut(); });
    connect(sbZoomNormal, &QToolButton::clicked, this, [this] { Model.ZoomNormal(); });
    connect(sbMode2, &QToolButton::clicked, this, [this] { SetShowSecond(true); });
    connect(sbMode1, &QToolButton::clicked, this, [this] { SetShowSecond(false); });
    connect(sbRepeat, &QToolButton::toggled, this, [this](bool on) { RepeatBetweenStops = on; });
    connect(sbSoundSuppress, &QToolButton::clicked, this, [this](bool down) {
        if (!Host.Project)
            return;
        Host.Project->Stop();
        Host.Project->SoundInPlayback = !down;
    });
    connect(sbPreviewVideo, &QToolButton::clicked, this, [this](bool down) {
        if (!Host.Project)
            return;
        Host.Project->Stop();
        Host.Project->VideoInPlayback = !down;
    });
}

void TTimeline::BindModel() {
    Model.Fps = [this]() -> Extended { return Host.Project ? Host.Project->GetFPS() : 0; };
    Model.Duration = [this]() -> Extended {
        return Host.Project ? Host.Project->GetDuration() : 0;
    };
    Model.Beep = [this] { Beep(); };
    Model.Repaint = [this] { RequestRepaint(); };
    Model.SetFrame = [this] {
        Post([this] {
            if (Host.OnSetFrame)
                Host.OnSetFrame(-1);
        });
    };
    Model.Position = [this](int32_t frame, Extended time) {
        if (Host.OnPosition)
            Host.OnPosition(frame, time);
    };
    Model.Moved = [this] { SyncControls(); };
}

TTimeline::~TTimeline() {
    // The curve editor goes first: its graph may sit in the track panel.
    if (TrackDraw)
        TrackDraw->Editor = nullptr;
    Editor.reset();
    delete BasePanel; // also when it was moved into the host's panel
    TrackDraw.reset();
}

void TTimeline::AttachHost(const TTimelineHost& host) {
    Host = host;
    Model.MaxFrames = std::max<int32_t>(0, host.MaxFrames);
    ShowSecond = host.ShowSecond;
    (ShowSecond ? sbMode2 : sbMode1)->setChecked(true);
    if (host.ZoomLevel > 0 && host.ZoomLevel <= MaxZoomLevel) {
        Model.ZoomLevel = host.ZoomLevel;
        Model.PixelsPerFrame = host.ZoomLevel * 4;
    }
    if (Host.ParentPanel) {
        BasePanel->setParent(Host.ParentPanel);
        QLayout* l = Host.ParentPanel->layout();
        if (!l)
            l = VBox(Host.ParentPanel);
        l->addWidget(BasePanel);
        BasePanel->show();
    }
    FireCursor(0, 0);
    if (Host.CreateEditor)
        Editor = Host.CreateEditor(*this);
    TrackDraw = std::make_unique<TTrackDraw>(Editor.get(), Host.Project);
    Mouse = std::make_unique<TTrackMouse>(*TrackDraw);
    TTimelineCommandHost commands = Host.Commands;
    commands.Repaint = [this] { RequestRepaint(); };
    commands.SetCursorPixels = [this](int64_t p) { Model.SetPosPixels(static_cast<Extended>(p)); };
    commands.LocateCursor = [this](int mode) { Model.LocateCursor(mode); };
    commands.SetFrame = [this](int32_t frame) {
        if (Host.OnSetFrame)
            Host.OnSetFrame(frame);
    };
    commands.SendFrame = [this](int32_t frame) {
        if (Host.OnSendFrame)
            Host.OnSendFrame(frame);
    };
    commands.FramePos = [this] { return Model.GetFramePos(); };
    Commands = std::make_unique<TTimelineCommands>(
        *TrackDraw, Host.Project ? Host.Project->Ui : nullptr, std::move(commands));
    BuildPopTrack();
    TrackDraw->EnsureBottomRoom = [this](int32_t height) {
        QWidget* b = Host.BottomPanel;
        if (b && b->height() < height) {
            b->setMinimumHeight(height);
            b->resize(b->width(), height);
        }
    };
    UpdateSizes();
    Model.UpdateLayout();
    SyncControls();
    RequestRepaint();
}

void TTimeline::SetShowSecond(bool value) {
    ShowSecond = value;
    (ShowSecond ? sbMode2 : sbMode1)->setChecked(true);
    RequestRepaint();
}

void TTimeline::RequestRepaint() {
    if (RepaintPending)
        return;
    RepaintPending = true;
    QMetaObject::invokeMethod(
        this, [this] { WMTimelineRepaint(); }, Qt::QueuedConnection);
}

void TTimeline::WMTimelineRepaint() {
    RepaintPending = false;
    if (!TrackDraw)
        return;
    const QSize size = Image1->size();
    Bitmap.SetSize(size.width(), size.height());
    const Extended d = Model.PrepareRepaint();
    const Extended fps = Model.GetFps();
    TTrackPaintInfo info;
    info.Bitmap = &Bitmap;
    const int64_t left = std::min<int64_t>(Model.ScrollX, INT32_MAX - size.width());
    info.ViewRect = TRectI{static_cast<int32_t>(left), 0, static_cast<int32_t>(left) + size.width(),
                           size.height()};
    info.CursorPixels = Model.CursorPixels;
    info.ScrollX = Model.ScrollX;
    info.PixelsPerFrame = Model.PixelsPerFrame;
    info.PixelsPerSecond = fps * Model.PixelsPerFrame;
    info.MinLabelSpacing = 10;
    info.Duration = d;
    info.CursorMargin = TTimelineModel::CursorMargin;
    info.LabelSpacingFactor = 4;
    info.ShowSecond = ShowSecond;
    info.FPS = fps;
    ++PaintCount;
    TrackDraw->Paint(info);
    Image1->update();
}

TTreeNodeData* TTimeline::ObjectAtPoint(int32_t x, int32_t y) const {
    return TrackDraw ? TrackDraw->ObjectAt(y, XToTime(x)) : nullptr;
}

void TTimeline::SyncControls() {
    sbPos->move(Model.CursorLeft, 0);
    sbScroll->setGeometry(Model.ThumbPxLeft, 0, Model.ThumbPxWidth, std::max(1, pScroll->height()));
    QPalette pal = sbZoomNormal->palette();
    pal.setColor(QPalette::ButtonText, Model.ZoomLevel == 1.0L ? Qt::blue : Qt::red);
    sbZoomNormal->setPalette(pal);
}

void TTimeline::UpdateSizes() {
    Model.ImageWidth = Image1->width();
    Model.ScrollTrackWidth = pScroll->width();
    Model.CursorBarWidth = pPos->width();
}

void TTimeline::ProcessMessages() {
    if (Host.Project && Host.Project->Ui)
        Host.Project->Ui->ProcessMessages();
    else
        QCoreApplication::processEvents();
}

void TTimeline::Beep() {
    if (Host.Project && Host.Project->Ui)
        Host.Project->Ui->Beep();
    else
        QApplication::beep();
}

void TTimeline::Post(std::function<void()> f) {
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void TTimeline::FireCursor(int32_t frame, Extended time) {
    if (Host.OnCursor)
        Host.OnCursor(frame, time);
}

void TTimeline::PostPreviewFrame() {
    Post([this] {
        if (Host.OnPreviewFrame)
            Host.OnPreviewFrame();
    });
}

bool TTimeline::DragEvent(QWidget* control, QEvent* event) {
    auto* me = static_cast<QMouseEvent*>(event);
    const QPoint global = me->globalPosition().toPoint();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (me->button() != Qt::LeftButton)
            return true;
        DragControl = control;
        DragStart = control == sbVertScroll ? control->y() : control->x();
        DragPress = global;
        Dragging = true;
        return true;
    case QEvent::MouseMove: {
        FireCursor(0, 0);
        if (!Dragging || DragControl != control || InMove)
            return true;
        InMove = true;
        if (control == sbVertScroll) {
            const int32_t top =
                std::clamp<int32_t>(static_cast<int32_t>(DragStart) + global.y() - DragPress.y(), 0,
                                    std::max(0, Panel1->height() - sbVertScroll->height()));
            sbVertScroll->move(sbVertScroll->x(), top);
            if (TrackDraw)
                TrackDraw->SetVerticalOffset(-top);
            RequestRepaint();
            ProcessMessages();
        } else {
            const int32_t left = static_cast<int32_t>(DragStart) + global.x() - DragPress.x();
            if (control == sbPos)
                Model.DragCursorTo(left);
            else
                Model.DragThumbTo(left);
            ProcessMessages();
            PostPreviewFrame();
        }
        InMove = false;
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (me->button() == Qt::LeftButton)
            Dragging = false;
        return true;
    case QEvent::MouseButtonDblClick:
        return true;
    default:
        return false;
    }
}

bool TTimeline::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Resize && (watched == Image1 || watched == pScroll || watched == pPos)) {
        UpdateSizes();
        Model.UpdateLayout();
        SyncControls();
        RequestRepaint();
        return false;
    }
    const bool mouse = type == QEvent::MouseButtonPress || type == QEvent::MouseMove ||
                       type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick;
    if (!mouse)
        return QWidget::eventFilter(watched, event);
    auto* me = static_cast<QMouseEvent*>(event);
    const QPoint pos = me->position().toPoint();

    if (watched == sbPos || watched == sbScroll || watched == sbVertScroll)
        return DragEvent(static_cast<QWidget*>(watched), event);

    if (watched == Image1) {
        if (type == QEvent::MouseMove) {
            const Extended s = SnapToFrame(XToTime(pos.x()));
            FireCursor(TimeToFrame(s), s);
        }
        return TrackMouseEvent(me);
    }
    if (watched == pPos) {
        if (type == QEvent::MouseMove)
            FireCursor(0, 0);
        if (type == QEvent::MouseButtonPress)
            LastBarDown = pos;
        if (type == QEvent::MouseButtonDblClick) {
            Model.CursorBarDoubleClick(pos.x());
            ProcessMessages();
            PostPreviewFrame();
        }
        return false;
    }
    if (watched == pScroll) {
        if (type == QEvent::MouseMove)
            FireCursor(0, 0);
        if (type == QEvent::MouseButtonPress && me->button() == Qt::LeftButton)
            Model.ScrollTrackClick(pos.x());
        return false;
    }
    if (watched == sbSmallLeft || watched == sbSmallRight) {
        if (type == QEvent::MouseButtonPress && me->button() == Qt::LeftButton) {
            const bool ctrl = me->modifiers() & Qt::ControlModifier;
            tmSmallHorz->start(Model.ArrowDown(watched == sbSmallLeft, ctrl));
        } else if (type == QEvent::MouseButtonRelease) {
            Model.ArrowUp();
        }
        return false;
    }
    // Tool column.
    if (type == QEvent::MouseMove)
        FireCursor(0, 0);
    return false;
}

// ---- track image mouse and popup ------------------------------------------------------------

namespace {

Qt::CursorShape Shape(TTrackCursor c) {
    switch (c) {
    case TTrackCursor::Hand:
        return Qt::PointingHandCursor;
    case TTrackCursor::NoDrop:
    case TTrackCursor::Forbidden:
        return Qt::ForbiddenCursor;
    case TTrackCursor::HSplit:
        return Qt::SplitHCursor;
    case TTrackCursor::SizeWE:
        return Qt::SizeHorCursor;
    default:
        return Qt::ArrowCursor;
    }
}

} // namespace

bool TTimeline::TrackMouseEvent(QMouseEvent* me) {
    if (!Mouse || !TrackDraw)
        return false;
    const QPoint pos = me->position().toPoint();
    const bool ctrl = me->modifiers() & Qt::ControlModifier;
    const TTimeScale sc = Model.Scale();
    switch (me->type()) {
    case QEvent::MouseButtonPress: {
        const bool left = me->button() == Qt::LeftButton;
        const bool popup = Mouse->Press(pos.x(), pos.y(), left, ctrl, Down(Host.PlayDown), sc);
        if (left && !Mouse->HoverNode)
            RequestRepaint();
        if (me->button() == Qt::RightButton && popup && PopTrack) {
            PopTrackPopup();
            PopTrack->popup(Image1->mapToGlobal(pos));
        }
        return true;
    }
    case QEvent::MouseMove:
        ApplyStep(
            Mouse->Move(pos.x(), pos.y(), ctrl, Down(Host.AdjustDown), Down(Host.ArrangeDown), sc));
        return true;
    case QEvent::MouseButtonRelease: {
        TTreeNodeData* selected = nullptr;
        if (!Mouse->Release(selected))
            return true;
        if (selected && Host.OnSetFrame)
            Host.OnSetFrame(-1);
        Image1->unsetCursor();
        RequestRepaint();
        return true;
    }
    case QEvent::MouseButtonDblClick: {
        Mouse->PressX = pos.x();
        Mouse->PressY = pos.y();
        const Extended t = SnapToFrame(XToTime(pos.x()));
        if (TrackDraw->InStopPointRow(pos.y())) {
            if (TStopPoint* s = TrackDraw->StopPointAt(pos.y(), XToTime(pos.x())))
                Commands->DeleteStopPoint(s);
            else
                Commands->AddStopPoint(pos.y(), t);
        } else if (TStopPoint* peg = TrackDraw->PegAt(pos.y(), XToTime(pos.x()))) {
            Commands->DeletePeg(peg);
        } else {
            Commands->AddPeg(pos.y(), t);
        }
        Mouse->Forget();
        return true;
    }
    default:
        return false;
    }
}

void TTimeline::ApplyStep(const TTrackStep& step) {
    if (step.SetCursor)
        Image1->setCursor(Shape(step.Cursor));
    if (step.FollowEnd) {
        Model.SetPosPixels(static_cast<Extended>(Model.Scale().TimeToX(step.EndTime)) +
                           static_cast<Extended>(Model.ScrollX) -
                           (TTimelineModel::CursorButtonWidth - 1) / 2);
        PostPreviewFrame();
    }
    if (step.Changed)
        RequestRepaint();
}

TTreeNodeData* TTimeline::RunAdd(TAddPlacement how) {
    return Commands ? Commands->Add(how, Mouse ? Mouse->HoverNode : nullptr) : nullptr;
}

QAction* TTimeline::PopItem(const std::string& caption) const {
    for (const auto& [text, action] : PopItems)
        if (text == caption)
            return action;
    return nullptr;
}

void TTimeline::BuildPopTrack() {
    delete PopTrack;
    PopItems.clear();
    PopTrack = new QMenu(this);
    auto add = [this](QMenu* menu, const char* caption, std::function<void()> fn) {
        QAction* a = menu->addAction(QString::fromUtf8(caption));
        if (fn)
            connect(a, &QAction::triggered, this, std::move(fn));
        PopItems.emplace_back(caption, a);
        return a;
    };
    auto sub = [&](const char* caption) {
        QMenu* m = PopTrack->addMenu(QString::fromUtf8(caption));
        PopItems.emplace_back(caption, m->menuAction());
        return m;
    };
    auto press = [this] { return SnapToFrame(XToTime(Mouse->PressX)); };
    add(PopTrack, "Add video", [this] { RunAdd(TAddPlacement::AddVideo); });
    add(PopTrack, "Add effect", [this] { RunAdd(TAddPlacement::AddEffect); });
    add(PopTrack, "Delete", [this] { Commands->Delete(Mouse->HoverNode); });
    PopTrack->addSeparator();
    add(PopTrack, "Insert before", [this] { RunAdd(TAddPlacement::InsertBefore); });
    add(PopTrack, "Insert after", [this] { RunAdd(TAddPlacement::InsertAfter); });
    add(PopTrack, "Replace effect", [this] { RunAdd(TAddPlacement::Replace); });
    PopTrack->addSeparator();
    MarkMenu = sub("Mark-in and Mark-out");
    connect(MarkMenu, &QMenu::aboutToShow, this, [this] {
        const TMarkMenuState m =
            GetMarkMenuState(TrackDraw->ActiveNode(), Mouse->PressX, Mouse->PressY);
        PopItem("Set as Mark-in point")->setEnabled(m.SetIn);
        PopItem("Set as Mark-out point")->setEnabled(m.SetOut);
        PopItem("Release Mark-in point")->setEnabled(m.ReleaseIn);
        PopItem("Release Mark-out point")->setEnabled(m.ReleaseOut);
        PopItem("Use viewer for marking")->setEnabled(m.UseViewer);
    });
    add(MarkMenu, "Set as Mark-in point",
        [this] { Commands->SetMarkIn(XToTime(Mouse->PressX), Model.Scale()); });
    add(MarkMenu, "Set as Mark-out point",
        [this] { Commands->SetMarkOut(XToTime(Mouse->PressX), Mouse->PressX, Model.Scale()); });
    add(MarkMenu, "Release Mark-in point", [this] { Commands->ReleaseMarkIn(); });
    add(MarkMenu, "Release Mark-out point", [this] { Commands->ReleaseMarkOut(); });
    add(MarkMenu, "Use viewer for marking", [this] {
        if (Host.Commands.EditMovieRange)
            Host.Commands.EditMovieRange();
    });
    QMenu* locate = sub("Locate");
    add(locate, "Begining position", [this] { Commands->Locate(false); });
    add(locate, "Ending position", [this] { Commands->Locate(true); });
    add(locate, "Current position", [this] { Model.LocateCursor(2); });
    QMenu* settings = sub("Settings");
    add(settings, "Enabled", [this] {
        Commands->ToggleEnabled(Mouse->HoverNode);
    })->setCheckable(true);
    add(settings, "Lock position", [this] {
        Commands->ToggleLock(Mouse->HoverNode);
    })->setCheckable(true);
    add(settings, "Set track color", [this] { Commands->SetTrackColor(Mouse->HoverNode); });
    add(settings, "Property", [this] {
        if (Host.Commands.EditNodeProperties)
            Host.Commands.EditNodeProperties();
    });
    PopTrack->addSeparator();
    QMenu* peg = sub("Peg");
    add(peg, "Add peg", [this, press] { Commands->AddPeg(Mouse->PressY, press()); });
    add(peg, "Delete peg", [this] { Commands->DeletePeg(Mouse->HoverPeg); });
    add(peg, "Clear pegs", [this] { Commands->ClearPegs(); });
    QMenu* stop = sub("Stop point");
    add(stop, "Add stop point", [this, press] { Commands->AddStopPoint(Mouse->PressY, press()); });
    add(stop, "Delete stop point", [this] { Commands->DeleteStopPoint(Mouse->HoverStop); });
    add(stop, "Clear stop points", [this] { Commands->ClearStopPoints(); });
}

void TTimeline::PopTrackPopup() {
    if (!TrackDraw || !Mouse || !PopTrack)
        return;
    const int32_t x = Mouse->PressX, y = Mouse->PressY;
    TTreeNodeData* atP = TrackDraw->AdjustMode ? nullptr : TrackDraw->ObjectAt(y, XToTime(x));
    if (atP) {
        TrackDraw->SelectObject(atP);
        RequestRepaint();
    }
    const TTrackMenuState m = GetTrackMenuState(TrackDraw->AdjustMode, atP, Mouse->HoverNode,
                                                Mouse->HoverStop, TrackDraw->ActiveNode());
    for (QAction* a : PopTrack->actions())
        a->setEnabled(m.TopLevel);
    if (!m.TopLevel)
        return;
    const std::pair<const char*, bool> items[] = {
        {"Add video", m.AddVideo},
        {"Add effect", m.AddEffect},
        {"Delete", m.Delete},
        {"Insert before", m.InsertBefore},
        {"Insert after", m.InsertAfter},
        {"Replace effect", m.Replace},
        {"Mark-in and Mark-out", m.MarkInOut},
        {"Locate", m.Locate},
        {"Settings", m.Settings},
        {"Peg", m.Peg},
        {"Set track color", m.SetColor},
        {"Property", m.Property},
        {"Delete stop point", m.DeleteStopPoint},
        {"Enabled", m.Enabled},
        {"Lock position", m.Lock},
    };
    for (const auto& [caption, on] : items)
        PopItem(caption)->setEnabled(on);
    PopItem("Enabled")->setChecked(m.EnabledChecked);
    PopItem("Lock position")->setChecked(m.LockChecked);
}
