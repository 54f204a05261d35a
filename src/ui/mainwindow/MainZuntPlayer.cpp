// The main window's preview and player: the frame at the cursor rendered on request through two
// coalesced private events, the picture's zoom and placement, and the play, stop and step
// buttons with the playback they run.
#include "MainZunt.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSplitter>
#include <QToolButton>

#include "MyCommonParams.h"
#include "MyUiServices.h"

namespace {

// The long parameter of the set-frame event: a frame, or -1 to keep the cursor.
class TSetFrameEvent : public QEvent {
public:
    explicit TSetFrameEvent(int32_t frame) : QEvent(TMainForm::WM_SET_FRAME), Frame(frame) {}
    int32_t Frame;
};

std::string FrameText(const char* label, int32_t frame, Extended time) {
    return std::string(label) + std::to_string(frame) + "   " + FormatTimeText(time);
}

} // namespace

// ---- preview ------------------------------------------------------------------------------------

void TMainForm::PostPreviewFrame() {
    ++PendingPreviewPosts;
    QCoreApplication::postEvent(this, new QEvent(WM_PREVIEW_FRAME));
}

void TMainForm::SendSetFrame(int32_t frame) {
    TSetFrameEvent e(frame);
    QCoreApplication::sendEvent(this, &e);
}

void TMainForm::PostSetFrame(int32_t frame) {
    QCoreApplication::postEvent(this, new TSetFrameEvent(frame));
}

void TMainForm::WMRenderFrame() {
    if (Closing)
        return;
    if (LastRenderedFrame != 0 && LastRenderedFrame == TimelineLink->GetFramePos())
        return;
    if (RenderBusy || Project->Busy) {
        // A render here would run inside the render or loop that is pumping, and clear the
        // root's busy flag under it; the request waits for that to end instead.
        PreviewDeferred = true;
        return;
    }
    if (PendingPreviewPosts > 0)
        return; // a later request will do the work
    RenderBusy = true;
    LastRenderedFrame = TimelineLink->GetFramePos();
    {
        auto done = MakeScopeExit([this] { RenderBusy = false; });
        TBusyCursorGuard cursor(Ui);
        const TRect client = Rect(0, 0, VideoImage->width(), VideoImage->height());
        Project->RenderPreview(LastRenderedFrame, PreviewBitmap->Canvas(), client,
                               [this](TFrameReport& r) { FrameRendered(r); });
        if (VideoImage->isEnabled())
            VideoImage->CopyFrom(*PreviewBitmap,
                                 Rect(0, 0, PreviewBitmap->Width(), PreviewBitmap->Height()));
        ++Renders;
    }
    if (TimelineLink->GetFramePos() != LastRenderedFrame || PreviewDeferred) {
        PreviewDeferred = false;
        PostPreviewFrame();
    }
}

void TMainForm::ServeDeferredPreview() {
    if (!PreviewDeferred || Closing)
        return;
    PreviewDeferred = false;
    PostPreviewFrame();
}

void TMainForm::WMGotoFrame(int32_t frame) {
    if (Closing)
        return;
    LastRenderedFrame = -1;
    if (frame >= 0)
        TimelineLink->SetFramePos(frame);
    PostPreviewFrame();
}

int TMainForm::ZoomMode() const {
    if (miFitToWindow->isChecked())
        return 0;
    const QAction* zooms[] = {miZoom25, miZoom50, miZoom100, miZoom200};
    for (int i = 0; i < 4; ++i)
        if (zooms[i]->isChecked())
            return i + 1;
    return 0;
}

void TMainForm::ZoomChange(QObject* sender) {
    if (auto* item = qobject_cast<QAction*>(sender)) {
        // One checked item per submenu.
        QMenu* menu = (item == miCentered || item == miFitToWindow || item == miMoveable)
                          ? mnPlacement
                          : mnZoom;
        for (QAction* a : menu->actions())
            a->setChecked(false);
        item->setChecked(true);
    }
    if (!Project)
        return;
    Project->Stop();
    LayoutPreview();
    LastRenderedFrame = 0;
    PostPreviewFrame();
}

void TMainForm::LayoutPreview() {
    if (Closing || !Project)
        return;
    int mode = ZoomMode();
    if (Project->Width == 0 || Project->Height == 0)
        mode = 2;
    Extended scale = 1.0L;
    if (mode == 0) {
        const Extended sx = static_cast<Extended>(pBackground->width()) / Project->Width;
        const Extended sy = static_cast<Extended>(pBackground->height()) / Project->Height;
        scale = std::min(sx, sy);
    } else {
        static constexpr Extended Factors[] = {0.25L, 0.5L, 1.0L, 2.0L};
        scale = Factors[mode - 1];
    }
    const int w = Round(Project->Width * scale);
    const int h = Round(Project->Height * scale);
    pDisplay->resize(w, h);
    if (!miMoveable->isChecked()) {
        const int bw = pBackground->width();
        const int bh = pBackground->height();
        pDisplay->move(w < bw ? (bw - w) / 2 : 0, h < bh ? (bh - h) / 2 : 0);
    }
    pDisplayResize();
}

void TMainForm::pDisplayResize() {
    VideoImage->setGeometry(0, 0, pDisplay->width(), pDisplay->height());
    if (PreviewBitmap->Width() == pDisplay->width() &&
        PreviewBitmap->Height() == pDisplay->height())
        return;
    PreviewBitmap->SetSize(pDisplay->width(), pDisplay->height());
    VideoImage->SetPicture(*PreviewBitmap);
}

void TMainForm::Default1Click() {
    for (QAction* a : mnPlacement->actions())
        a->setChecked(false);
    for (QAction* a : mnZoom->actions())
        a->setChecked(false);
    miCentered->setChecked(true);
    miZoom100->setChecked(true);
    ZoomChange(miZoom100);
}

bool TMainForm::PreviewMouse(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (!miMoveable->isChecked() || e->button() != Qt::LeftButton ||
            !(e->modifiers() & Qt::ControlModifier))
            return false;
        Moving = true;
        MoveStartPanel = pDisplay->pos();
        MoveStartMouse = e->globalPosition().toPoint();
        pDisplay->setCursor(Qt::SizeAllCursor);
        return true;
    }
    case QEvent::MouseMove: {
        if (!Moving || MoveReentered)
            return false;
        MoveReentered = true;
        const QPoint now = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        pDisplay->move(MoveStartPanel + (now - MoveStartMouse));
        MoveReentered = false;
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!Moving)
            return false;
        Moving = false;
        pDisplay->unsetCursor();
        return true;
    default:
        return false;
    }
}

void TMainForm::ShowOriginalImage1Click() {
    if (miShowOriginalImage->isChecked()) {
        const int half = pBackground->width() / 2;
        RawPanel->show();
        RawSplit->setSizes({half, RawSplit->width() - half});
        SetPanelColor(RawPanel, PanelColor(pBackground));
    } else {
        RawPanel->hide();
    }
    RefreshProject(false);
}

void TMainForm::FrameRendered(TFrameReport& report) {
    if (sbPlay1->isChecked())
        TimelineLink->KeepCursorVisible();
    const Extended fps = Project->GetFPS();
    StatusPanels[0]->setText(QString::fromStdString(
        FrameText("Frame:", report.Frame, fps == 0 ? 0 : report.Frame / fps)));
    if (fps != 0) {
        if (!report.Export)
            TimelineLink->SetFramePos(report.Frame);
        if (SeqExport.OnFrame)
            SeqExport.OnFrame(this, report.Frame);
    }
}

void TMainForm::PreviewBlit(const TBitmap* bitmap) {
    if (bitmap)
        VideoImage->CopyFrom(*bitmap, Rect(0, 0, bitmap->Width(), bitmap->Height()));
}

void TMainForm::TimelinePosition(int32_t frame, Extended time) {
    if (isVisible())
        StatusPanels[0]->setText(QString::fromStdString(FrameText("Frame:", frame, time)));
}

void TMainForm::TimelineCursor(int32_t frame, Extended time) {
    StatusPanels[1]->setText(QString::fromStdString(FrameText("Cursor:", frame, time)));
}

bool TMainForm::event(QEvent* event) {
    if (event->type() == WM_PREVIEW_FRAME) {
        --PendingPreviewPosts;
        WMRenderFrame();
        return true;
    }
    if (event->type() == WM_SET_FRAME) {
        WMGotoFrame(static_cast<TSetFrameEvent*>(event)->Frame);
        return true;
    }
    return QMainWindow::event(event);
}

// ---- player -------------------------------------------------------------------------------------

void TMainForm::PressPlayerButton(QToolButton* button) {
    for (QToolButton* b : {sbPlay1, sbStop1, sbFirst1, sbLast1})
        b->setChecked(b == button);
}

bool TMainForm::RunPlayLoop(int32_t start, int32_t end, bool realTime) {
    TPictureControl image;
    image.Picture = &VideoImage->Picture();
    image.IsEnabled = [this] { return VideoImage->isEnabled(); };
    image.Invalidate = [this] { VideoImage->update(); };
    return Project->Play(
        start, end, realTime, [this](TFrameReport& r) { FrameRendered(r); }, image);
}

void TMainForm::sbPlay1Click(bool down) {
    if (!down) {
        // A second click never stops playback.
        sbPlay1->setChecked(true);
        return;
    }
    PressPlayerButton(sbPlay1);
    const Extended fps = Project->GetFPS();
    if (fps == 0) {
        PressPlayerButton(sbStop1);
        return;
    }
    if (TimelineLink->GetZoomLevel() > 1.0L)
        TimelineLink->SetZoomLevel(1.0L);
    Ui->ProcessMessages();
    int32_t start = 0;
    int32_t end = -1;
    Extended t = TimelineLink->GetFramePos() / fps;
    if (TimelineLink->FindStopPoint(t, TSearchDirection::Backward))
        start = Round(fps * t);
    // From a stop point, as where the last playback stopped, the range runs on to the next one.
    Project->Pegs->FindStopAfter(TimelineLink->GetFramePos(), fps, end);

    EnableEditing(false);
    sbFirst1->setEnabled(false);
    sbLast1->setEnabled(false);
    auto finally = MakeScopeExit([this] {
        EnableEditing(true);
        SetCommandEnabled(sbFirst1, true);
        SetCommandEnabled(sbLast1, true);
        if (SeqExport.OnDone)
            SeqExport.OnDone(this);
    });

    const bool realTime = !SeqExport.OnFrame;
    try {
        for (;;) {
            RunPlayLoop(TimelineLink->GetFramePos(), end, realTime);
            if (!TimelineLink->GetRepeatBetweenStops() || !sbPlay1->isChecked())
                break;
            for (int i = 0; i < 6; ++i) {
                Ui->ProcessMessages();
                Ui->Sleep(10);
            }
            TimelineLink->SetFramePos(start);
            if (!realTime)
                break;
            if (sbStop1->isChecked())
                break;
        }
    } catch (const std::exception&) {
        // A failing frame ends the playback as Stop would.
        PressPlayerButton(sbStop1);
    }
    const int32_t frames = Project->GetFrameCount();
    if (TimelineLink->GetFramePos() > frames)
        TimelineLink->SetFramePos(frames);
    PressPlayerButton(sbStop1);
    // The loop may end on a frame it never drew (the clock ran past the end): the preview
    // shows the cursor's frame.
    PostSetFrame(-1);
}

void TMainForm::sbStop1Click(bool down) {
    if (Project->GetDuration() == 0) {
        sbStop1->setChecked(false);
        return;
    }
    if (down) {
        PressPlayerButton(sbStop1);
        Project->Stop();
    } else if (Project->GetDuration() > 0) {
        sbStop1->setChecked(true);
    }
}

void TMainForm::sbFirst1Click(QToolButton* sender) {
    const Extended fps = Project->GetFPS();
    if (fps == 0)
        return;
    Project->Stop();
    int32_t begin = 0;
    int32_t end = Project->GetFrameCount();
    const int32_t pos = TimelineLink->GetFramePos();
    // A cursor already on the first frame of its section goes on to the section before.
    for (int32_t from = pos - 1;;) {
        Extended t = from / fps;
        if (!TimelineLink->FindStopPoint(t, TSearchDirection::Backward)) {
            begin = 0;
            break;
        }
        const int32_t stop = Round(fps * t);
        begin = stop + 1;
        if (sender != sbFirst1 || begin != pos)
            break;
        from = std::min(from, stop) - 1;
    }
    for (int32_t from = pos + 1;;) {
        Extended t = from / fps;
        if (!TimelineLink->FindStopPoint(t, TSearchDirection::Forward)) {
            end = Project->GetFrameCount();
            break;
        }
        end = Round(fps * t);
        if (sender != sbLast1 || end != pos)
            break;
        from = std::max(from, end) + 1;
    }
    PressPlayerButton(sbStop1);
    SendSetFrame(sender == sbFirst1 ? begin : end);
    TimelineLink->LocateCursor(2);
}
