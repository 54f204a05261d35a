// The main window: it owns the project root and shows its tree, the preview picture and the
// timeline panel, carries the menus and the project and player buttons, renders the preview on
// request (coalesced through two private events), and runs the project commands.
#pragma once

#include <QEvent>
#include <QMainWindow>
#include <QPoint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MyBase.h"
#include "MyGraphics.h"
#include "MyPreviewImage.h"
#include "MyProjNode.h"
#include "MySeqExportRec.h"
#include "MyTimelineSeam.h"

class IUiServices;
class QAction;
class QDrag;
class QGroupBox;
class QLabel;
class QMimeData;
class QMenu;
class QSplitter;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TAddObjectDlg;
class TErrorDlg;
class TMyUiServices;
class TScreenSaverInhibit;
class TTextView;
class TTimeline;

// The processor load gauge: grey, a green bar from the bottom, grey lines every tenth.
class TCpuGauge : public QWidget {
    Q_OBJECT
public:
    explicit TCpuGauge(QWidget* parent = nullptr);
    void SetUsage(double percent);
    double Usage() const { return Percent; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double Percent = 0;
    bool Measured = false;
};

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Private events; the numbers are the window's message numbers.
    static constexpr QEvent::Type WM_PREVIEW_FRAME = static_cast<QEvent::Type>(2024);
    static constexpr QEvent::Type WM_SET_FRAME = static_cast<QEvent::Type>(3025);
    static constexpr QEvent::Type WM_TIMELINE_REPAINT = static_cast<QEvent::Type>(6455);

    // ui: how the window and its project reach the user; the window makes its own when null.
    explicit TMainForm(IUiServices* ui = nullptr, QWidget* parent = nullptr);
    ~TMainForm() override;

    TProjectNode* GetProject() const { return Project.get(); }
    IUiServices* GetUi() const { return Ui; }
    TTimelineSeam& Timeline() const { return *TimelineLink; }
    void AttachTimeline(std::unique_ptr<TTimelineSeam> timeline);
    // The about window made at start; freed two seconds after the window starts.
    void SetSplash(std::unique_ptr<QWidget> splash);

    // ---- shared routines ----
    void RefreshProject(bool render);
    void EnableEditing(bool enable);
    // Asks for a WAV file name (kept under "Recents"); raw when "Without header" was chosen.
    std::optional<std::string> AskWaveFile(const std::string& title, bool& raw);
    // Exports the project's sound alone to a WAV file (or raw samples).
    void WriteWAV1Click();
    // Enables the extraction when the active object is a movie with sound.
    void Otherexports1Click();
    // Writes the active movie's sound track to a WAV file (or raw samples).
    void Extractaudio1Click();
    // Runs the output dialog, then the export window on the chosen file and range.
    void Export1Click();
    // The output dialog alone.
    void Projectproperty1Click();
    // The project output dialog, then the project refreshed for what it changed; whether it was
    // accepted.
    bool RunOutputDialog();
    void LayoutPreview();
    void ZoomChange(QObject* sender);
    // 0 fit to window, 1..4 the zoom levels 25 % to 200 %.
    int ZoomMode() const;

    // ---- preview requests ----
    // Asks for a render of the frame at the cursor (queued, coalesced).
    void PostPreviewFrame();
    // Moves the cursor to frame (or keeps it, for -1) and forces the next render; at once.
    void SendSetFrame(int32_t frame);
    // The same, queued.
    void PostSetFrame(int32_t frame);
    void FrameRendered(TFrameReport& report);
    void PreviewBlit(const TBitmap* bitmap);
    void TimelinePosition(int32_t frame, Extended time);
    void TimelineCursor(int32_t frame, Extended time);

    // ---- project commands ----
    bool SaveIfModified(bool askClose);
    void sbNewProj1Click();
    bool NewEmptyProject();
    // Shows the root as a new empty project: root item, preview, cursor and status.
    void ShowNewProject();
    void sbOpenProj1Click();
    void sbSaveProj1Click();
    bool SaveProjectAs();
    void Exit1Click();

    // ---- add-object flow and properties ----
    // Runs the add-object dialog on the selected item and the property dialog on the new node;
    // the project then takes the new object's format. Null when nothing was added.
    TTreeNodeData* AddObject(uint16_t kinds, bool select);
    // The property dialog on the active node; false when it was not confirmed.
    bool EditNodeProperties(bool select);
    // "Add video" and "Add effect": the timeline's add command.
    void sbAddVideoClick();
    void sbAddEffectClick();
    TAddObjectDlg* AddObjectDlg = nullptr;
    // The timeline window in the timeline panel.
    TTimeline* GetMainTimeline() const { return MainTimeline; }

    // ---- project tree commands ----
    // Brings pmTreePopup up to date for a press at pos (viewport coordinates), as on opening.
    void TreePopupOpening(const QPoint& pos);
    void Expandall1Click(bool expand);
    void Beginposition1Click(bool atEnd);
    void Sealed1Click();
    void Delete1Click();
    // Whether the selected object may be deleted; unless testOnly, asks and deletes it.
    bool DeleteSelectedObject(bool testOnly);
    void Property1Click();
    void Property2Click();
    void sbUpClick(QToolButton* sender);
    void UpdateUpDownButtons();
    // Moves the cursor to the active object's start or end.
    void GotoObjectEdge(bool atEnd);
    void EditMovieRange();
    void miFindStartingPointClick(bool atEnd);
    // The tree's image list: the plain icons, then the same with the sealed frame.
    int TreeIconCount() const { return TreeIcons; }

    // ---- tree drag and file drops ----
    // The tree drag's data: what a drag of the selected item carries.
    QMimeData* MakeTreeDragData() const;
    // Whether the selected item may be dropped on target, and the drop itself.
    bool TreeView1DragOver(QTreeWidgetItem* target);
    void TreeView1DragDrop(QTreeWidgetItem* target);
    enum class TDropTarget { Preview, Tree, Timeline };
    // Files dropped on a target at pos (its own coordinates): the first existing ".avi" is added.
    void HandleDroppedFiles(const std::vector<std::string>& files, TDropTarget target,
                            const QPoint& pos);
    bool AddDroppedMovie(const std::string& fileName);
    void DropMovieOnTree(const std::string& fileName, const QPoint& pos);
    void DropMovieOnTimeline(const std::string& fileName, const QPoint& pos);

    // ---- player ----
    void sbPlay1Click(bool down);
    void sbStop1Click(bool down);
    void sbFirst1Click(QToolButton* sender);

    // ---- editing state ----
    // Arrange (sbArrange) or adjust (sbAdjust) mode of the timeline.
    void sbArrangeClick(QToolButton* sender);
    // Enables the editor buttons for the mode and the active object.
    void UpdateEditorButtons();
    // The tree's selection makes its node the active one.
    void TreeView1Change(QTreeWidgetItem* item);
    // The root's change event: the active node changed (the timeline chose an object).
    void ProjectChanged(TTreeNodeData* node);

    // ---- picture sequence ----
    // File > Other exports > "Export clips as bitmaps".
    void ExportClipClick();
    // The sequence dialog asks for playback (with a sender) or for its stop (without).
    void SeqPlayRequest(QObject* sender);

    // Frame of the last preview render (-1 and 0: none), and renders done so far.
    int32_t GetLastRenderedFrame() const { return LastRenderedFrame; }
    int RenderCount() const { return Renders; }
    bool IsClosing() const { return Closing; }
    bool IsRenderBusy() const { return RenderBusy; }
    // A movie, sound or picture-sequence export runs.
    bool IsExporting() const;

    // ---- controls ----
    QLabel* StatusPanels[3] = {};
    QSplitter* Splitter1 = nullptr;
    QSplitter* RawSplit = nullptr;
    QWidget* pTop = nullptr;
    QWidget* RawPanel = nullptr;
    TPreviewImage* RawImage1 = nullptr;
    QWidget* pBackground = nullptr;
    QWidget* pDisplay = nullptr;
    TPreviewImage* VideoImage = nullptr;
    // The source-frame picture as the engine sees it.
    TPictureControl RawControl;
    QWidget* pBottom = nullptr;
    QWidget* pLeft = nullptr;
    QGroupBox* gbProject = nullptr;
    QToolButton* sbNewProj = nullptr;
    QToolButton* sbOpenProj = nullptr;
    QToolButton* sbSaveProj = nullptr;
    QToolButton* sbSetProj = nullptr;
    QToolButton* sbWriteProj = nullptr;
    QTreeWidget* TreeView1 = nullptr;
    QToolButton* sbUp = nullptr;
    QToolButton* sbDown = nullptr;
    QWidget* pTimeline = nullptr;
    // Where the timeline's strip goes.
    QWidget* TimelineArea = nullptr;
    QToolButton* sbArrange = nullptr;
    QToolButton* sbAdjust = nullptr;
    QToolButton* sbPlay1 = nullptr;
    QToolButton* sbStop1 = nullptr;
    QToolButton* sbFirst1 = nullptr;
    QToolButton* sbLast1 = nullptr;
    QWidget* pEditorPanel = nullptr;
    QToolButton* sbAddVideo = nullptr;
    QToolButton* sbRange = nullptr;
    QToolButton* sbProp = nullptr;
    QToolButton* sbAddEffect = nullptr;
    TCpuGauge* pbCPULevel = nullptr;
    TErrorDlg* ErrorDlg = nullptr;
    TTextView* TextView = nullptr;
    QTimer* tmAbout = nullptr;
    QTimer* tmCUPUsage = nullptr;

    // ---- menus ----
    QMenu* mnFile = nullptr;
    QAction* miNewProject = nullptr;
    QAction* miOpenProject = nullptr;
    QAction* miSaveProject = nullptr;
    QAction* miSaveProjectAs = nullptr;
    QAction* miCloseProject = nullptr;
    QAction* miRun = nullptr;
    QAction* miStop = nullptr;
    QAction* miExportVideo = nullptr;
    QMenu* mnOtherExports = nullptr;
    QAction* miExportBitmaps = nullptr;
    QAction* miExportAudio = nullptr;
    QAction* miExtractAudio = nullptr;
    QAction* miExit = nullptr;
    QMenu* mnEdit = nullptr;
    QAction* miAddVideo = nullptr;
    QAction* miProjectSettings = nullptr;
    QMenu* mnFind = nullptr;
    QAction* miFindStart = nullptr;
    QAction* miFindEnd = nullptr;
    QMenu* mnPreference = nullptr;
    QAction* miVideoBackground = nullptr;
    QMenu* mnView = nullptr;
    QMenu* mnMonitorMode = nullptr;
    QAction* miSingleMonitor = nullptr;
    QAction* miTwinMonitor = nullptr;
    QAction* miShowOriginalImage = nullptr;
    QMenu* mnTools = nullptr;
    QAction* miAnalogCapture = nullptr;
    QAction* miListVideoCodec = nullptr;
    QAction* miListAudioCodec = nullptr;
    QAction* miAviViewer = nullptr;
    QAction* miBinaryCompare = nullptr;
    QAction* miCaptureImage = nullptr;
    QAction* miTest = nullptr;
    QMenu* mnHelp = nullptr;
    QAction* miContents = nullptr;
    QAction* miAbout = nullptr;
    // Preview popup.
    QMenu* pmDisplay = nullptr;
    QMenu* mnPlacement = nullptr;
    QAction* miCentered = nullptr;
    QAction* miFitToWindow = nullptr;
    QAction* miMoveable = nullptr;
    QMenu* mnZoom = nullptr;
    QAction* miZoom25 = nullptr;
    QAction* miZoom50 = nullptr;
    QAction* miZoom100 = nullptr;
    QAction* miZoom200 = nullptr;
    QAction* miDefaultView = nullptr;
    // Project tree popup.
    QMenu* pmTreePopup = nullptr;
    QAction* miExpandAll = nullptr;
    QAction* miCollapseAll = nullptr;
    QAction* miBeginPosition = nullptr;
    QAction* miEndPosition = nullptr;
    QAction* miSealed = nullptr;
    QAction* miDelete = nullptr;
    QAction* miTreeProperty = nullptr;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    // The root's playback loop from start to end (end below 1: to the project's end).
    virtual bool RunPlayLoop(int32_t start, int32_t end, bool realTime);
    // Runs a drag of a tree item to its end; the drop itself is handled by the tree's events.
    virtual void ExecTreeDrag(QDrag* drag);

private:
    void BuildControls();
    // Steps of BuildControls: the status bar, the preview area on top, the project column and
    // the timeline column below it, then the wiring of their buttons and timers.
    void BuildStatusBar();
    void BuildPreviewArea();
    void BuildProjectColumn();
    void BuildTimelineColumn();
    void ConnectControls();
    void BuildMenus();
    void BuildPreviewMenu();
    void FormShow();
    bool FormCloseQuery();
    void Shutdown();
    void FormKeyDown(int key);
    void WMRenderFrame();
    void WMGotoFrame(int32_t frame);
    void ServeDeferredPreview();
    void pDisplayResize();
    void Default1Click();
    void ShowOriginalImage1Click();
    void VideoBackgroundColor1Click();
    void Contents1Click();
    void About1Click();
    void tmAboutTimer();
    void tmCUPUsageTimer();
    bool PreviewMouse(QEvent* event);
    // Presses a player button down and raises the others of its group.
    void PressPlayerButton(QToolButton* button);
    void SetCommandEnabled(QObject* command, bool enable);
    void EnableChildControls(QWidget* panel, bool enable);
    void SetProjectStatus();
    std::string ProgramFolder() const;
    void ConnectAddObject();
    // The node of the selected tree item, or null.
    TTreeNodeData* SelectedNode() const;
    void SetupTree();
    void BuildTreePopup();
    void TreeItemExpansion(QTreeWidgetItem* item, bool expanded);
    bool TreeEvent(QObject* watched, QEvent* event);
    bool TreeDragEvent(QEvent* event);
    // Starts the drag of the item pressed at TreePressPos.
    void StartTreeDrag();
    bool FileDropEvent(QObject* watched, QEvent* event);
    void PlaceDroppedMovie(const std::string& fileName, TTreeNodeData* target);
    bool IsRootItem(const QTreeWidgetItem* item) const;

    std::unique_ptr<TMyUiServices> OwnUi;
    IUiServices* Ui = nullptr;
    std::unique_ptr<TScreenSaverInhibit> ScreenSaver;
    std::unique_ptr<TProjectNode> Project;
    std::unique_ptr<TTimelineSeam> TimelineLink;
    std::unique_ptr<TBitmap> PreviewBitmap;
    std::unique_ptr<TBitmap> RawBitmap;
    std::unique_ptr<TBitmap> AddOnWorkBitmap;
    std::unique_ptr<QWidget> Splash;
    TTimeline* MainTimeline = nullptr;
    int TreeIcons = 0;
    // Compared against while children are torn down, so never reached through TreeView1.
    QObject* TreeViewport = nullptr;
    // A left press on a tree item that may become a drag of that item.
    QPoint TreePressPos;
    bool TreePressed = false;

public:
    std::string OutputFileName;
    TSeqExportRec SeqExport;

private:
    bool Closing = false;
    bool RenderBusy = false;
    bool Shown = false;
    // A change of the tree's selection waits to be handled.
    bool TreeChangePosted = false;
    bool ShutDown = false;
    // A request met a busy root or a running render; it is served when that ends.
    bool PreviewDeferred = false;
    int32_t LastRenderedFrame = -1;
    // Render requests posted and not yet delivered: a request that sees another one queued
    // behind it leaves the work to that one.
    int PendingPreviewPosts = 0;
    int Renders = 0;
    // Preview move.
    bool Moving = false;
    bool MoveReentered = false;
    QPoint MoveStartPanel;
    QPoint MoveStartMouse;
};
