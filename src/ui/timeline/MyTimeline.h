// The timeline window: the time strip of the editor with its tool column, cursor bar, track
// image and scroll bar. It owns zoom, scrolling and the play cursor, and repaints the track
// image through one coalesced request; drawing and hit tests belong to TTrackDraw.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

#include "MyGraphics.h"
#include "MyTimelineCommands.h"
#include "MyTimelineGeometry.h"
#include "MyTrackDraw.h"
#include "MyTrackMouse.h"

class QAction;
class QMenu;
class QMouseEvent;
class QToolButton;
class QVBoxLayout;
class TProjectNode;
class TTimeline;

// What the main window hands the timeline once, right after creating it.
struct TTimelineHost {
    QWidget* ParentPanel = nullptr; // receives the content panel (nil: it stays in the form)
    int32_t MaxFrames = 0;          // initial strip length in frames
    TProjectNode* Project = nullptr;
    QWidget* EditorPanel = nullptr;  // handed to the curve editor
    QWidget* DisplayPanel = nullptr; // handed to the curve editor
    QWidget* BottomPanel = nullptr;  // grows when the curve editor needs room
    bool ShowSecond = false;         // ruler in times (true) or frame numbers
    Extended ZoomLevel = 1.0;
    // Fired whenever the cursor is placed.
    std::function<void(int32_t frame, Extended time)> OnPosition;
    // Frame and time under the mouse over the track image; (0, 0) over the other parts.
    std::function<void(int32_t frame, Extended time)> OnCursor;

    // Messages to the main window, delivered after the current event has been handled:
    // show the cursor's frame in the preview, and render frame n anew (-1: keep the frame).
    std::function<void()> OnPreviewFrame;
    std::function<void(int32_t frame)> OnSetFrame;
    // Renders frame n anew (-1: the cursor's) before it returns.
    std::function<void(int32_t frame)> OnSendFrame;
    // Makes the curve editor the track drawer places on a row (may be empty).
    std::function<std::unique_ptr<ITrackCurveEditor>(TTimeline&)> CreateEditor;
    // Whether the main window's Play, Adjust and Arrange buttons are down.
    std::function<bool()> PlayDown;
    std::function<bool()> AdjustDown;
    std::function<bool()> ArrangeDown;
    // The main window's side of the popup commands; the timeline fills in its own side.
    TTimelineCommandHost Commands;
};

class TTimeline : public QWidget {
public:
    explicit TTimeline(QWidget* parent = nullptr);
    ~TTimeline() override;
    TTimeline(const TTimeline&) = delete;
    TTimeline& operator=(const TTimeline&) = delete;

    void AttachHost(const TTimelineHost& host);

    int32_t GetFramePos() const { return Model.GetFramePos(); }
    void SetFramePos(int32_t frame) { Model.SetFramePos(frame); }
    Extended GetFPS() const { return Model.GetFps(); }
    int32_t GetMaxFrames() const { return Model.MaxFrames; }
    void SetMaxFrames(int32_t n) { Model.SetMaxFrames(n); }
    bool GetShowSecond() const { return ShowSecond; }
    void SetShowSecond(bool value);
    Extended GetZoomLevel() const { return Model.ZoomLevel; }
    void SetZoomLevel(Extended z) { Model.SetZoomLevel(z); }
    Extended GetPixelsPerFrame() const { return Model.PixelsPerFrame; }
    int64_t GetScrollX() const { return Model.ScrollX; }
    int64_t GetMaxPixels() const { return Model.GetMaxPixels(); }
    const TTimelineModel& GetModel() const { return Model; }

    // Coalesced repaint of the track image: at most one request waits at a time.
    void RequestRepaint();
    void LocateCursor(int mode) { Model.LocateCursor(mode); }
    void KeepCursorVisible() { Model.KeepCursorVisible(); }

    // Conversions for the track image.
    Extended XToTime(int32_t x) const { return Model.Scale().XToTime(x); }
    QPoint TimeToX(Extended t, int32_t y) const { return QPoint(Model.Scale().TimeToX(t), y); }
    int32_t TimeToFrame(Extended t) const { return Model.Scale().TimeToFrame(t); }
    Extended SnapToFrame(Extended t) const { return Model.Scale().SnapToFrame(t); }

    // The node whose row holds the point of the track image.
    TTreeNodeData* ObjectAtPoint(int32_t x, int32_t y) const;
    TTrackDraw* GetTrackDraw() const { return TrackDraw.get(); }
    TTrackMouse* GetTrackMouse() const { return Mouse.get(); }
    TTimelineCommands* GetCommands() const { return Commands.get(); }
    // The main window's "Add video" and "Add effect": the popup's add command.
    TTreeNodeData* AddVideo() { return RunAdd(TAddPlacement::AddVideo); }
    TTreeNodeData* AddEffect() { return RunAdd(TAddPlacement::AddEffect); }
    // Brings the popup menu up to date for a press at p of the track image (as on opening).
    void PopTrackPopup();
    // The track image's popup menu; shown on a right press, never while playing.
    QMenu* PopTrack = nullptr;
    const TBitmap& GetTrackBitmap() const { return Bitmap; }
    // Paints done so far (each coalesced request counts once).
    int GetPaintCount() const { return PaintCount; }

    // Read by the main window's playback.
    bool RepeatBetweenStops = false;

    // Controls.
    QWidget* BasePanel;
    QWidget* Panel2; // tool column
    QToolButton* sbLocate;
    QToolButton* sbZoomIn;
    QToolButton* sbZoomNormal;
    QToolButton* sbZoomOut;
    QToolButton* sbMode2;
    QToolButton* sbMode1;
    QToolButton* sbRepeat;
    QToolButton* sbSoundSuppress;
    QToolButton* sbPreviewVideo;
    QWidget* pPosBack;
    QWidget* pPos; // cursor bar
    QToolButton* sbPos;
    QWidget* pGraph;
    QWidget* Image1; // track image
    QWidget* Panel1;
    QToolButton* sbVertScroll;
    QWidget* Panel4; // horizontal scroll bar
    QToolButton* sbSmallLeft;
    QToolButton* sbSmallRight;
    QWidget* pScroll;
    QToolButton* sbScroll;
    QTimer* tmSmallHorz;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void WMTimelineRepaint();
    void SyncControls();
    // Steps of the constructor: the tool column, the cursor bar over the track image, the
    // track image with its vertical scroll column, the horizontal scroll bar, then the wiring.
    void BuildToolColumn();
    void BuildCursorBar(QWidget* right, QVBoxLayout* column);
    void BuildTrackImage(QWidget* right, QVBoxLayout* column);
    void BuildScrollBar(QWidget* right, QVBoxLayout* column);
    void ConnectControls();
    void BindModel();
    void UpdateSizes();
    void ProcessMessages();
    void Beep();
    void Post(std::function<void()> f);
    void FireCursor(int32_t frame, Extended time);
    void PostPreviewFrame();
    bool DragEvent(QWidget* control, QEvent* event);
    bool TrackMouseEvent(QMouseEvent* me);
    void ApplyStep(const TTrackStep& step);
    void BuildPopTrack();
    TTreeNodeData* RunAdd(TAddPlacement how);
    bool Down(const std::function<bool()>& f) const { return f && f(); }

    TTimelineHost Host;
    TTimelineModel Model;
    bool ShowSecond = false;
    TBitmap Bitmap;
    bool RepaintPending = false;
    int PaintCount = 0;

    // Button drag shared by the cursor button, the thumb and the vertical scroll button.
    QWidget* DragControl = nullptr;
    QPoint DragPress;
    int64_t DragStart = 0;
    bool Dragging = false;
    bool InMove = false;
    QPoint LastBarDown;

    // Freed with the window, the curve editor first.
    std::unique_ptr<TTrackDraw> TrackDraw;
    std::unique_ptr<ITrackCurveEditor> Editor;
    std::unique_ptr<TTrackMouse> Mouse;
    std::unique_ptr<TTimelineCommands> Commands;
    // Popup items by caption, in menu order.
    std::vector<std::pair<std::string, QAction*>> PopItems;
    QMenu* MarkMenu = nullptr;

public:
    QAction* PopItem(const std::string& caption) const;
};
