// The main window's creation and teardown, its window events, the routines its commands share,
// and the small commands of its menus (background colour, help, about) with its timers.
#include "MainZunt.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "About.h"
#include "DlgAddObject.h"
#include "IUiServices.h"
#include "MyAVICompress.h"
#include "MyAVIReader.h"
#include "MyAppLibs.h"
#include "MyCaptureDlg.h"
#include "MyCommonParams.h"
#include "MyCommonServices.h"
#include "MyExceptions.h"
#include "MyExportProgress.h"
#include "MyMovieNode.h"
#include "MyMsgDlg.h"
#include "MyProjProp.h"
#include "MyPropDlg.h"
#include "MyShell.h"
#include "MySoundNode.h"
#include "MyTextView.h"
#include "MyTimelineLink.h"
#include "MyTreeItems.h"
#include "MyUiServices.h"
#include "MyVidCapture.h"

namespace {

constexpr uint32_t DefaultBackgroundColor = 4596480;
const char* const SettingsKey = "\\Software\\Draskel\\Tarvolin\\";

QToolButton* MakeButton(QWidget* parent, const QString& text, const QString& hint,
                        bool checkable = false) {
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(hint);
    b->setCheckable(checkable);
    b->setAutoRaise(false);
    return b;
}

} // namespace

// ---- TCpuGauge ----------------------------------------------------------------------------------

TCpuGauge::TCpuGauge(QWidget* parent) : QWidget(parent) {
    setFixedWidth(12);
}

void TCpuGauge::SetUsage(double percent) {
    Percent = percent;
    Measured = true;
    update();
}

void TCpuGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor grey(128, 128, 128);
    const int w = width();
    const int h = height();
    p.fillRect(rect(), grey);
    if (!Measured)
        return;
    int bar = static_cast<int>(Round64(static_cast<Extended>(h) * Percent / 100.0L));
    bar = std::clamp(bar, 0, h);
    p.fillRect(QRect(0, h - bar, w, bar), QColor(0, 255, 0));
    p.setPen(grey);
    // A gauge lower than ten pixels has no room for the marks.
    const int step = h / 10;
    if (step > 0)
        for (int y = step; y < h; y += step)
            p.drawLine(1, y, w - 1, y);
}

// ---- TMainForm: creation ------------------------------------------------------------------------

TMainForm::TMainForm(IUiServices* ui, QWidget* parent) : QMainWindow(parent) {
    BuildControls();
    BuildMenus();
    BuildPreviewMenu();

    // The screen saver stays off while the program runs.
    Closing = false;
    ScreenSaver = std::make_unique<TScreenSaverInhibit>(QStringLiteral("Editing video"));
    // Text view, and the user-interface services that reach it and the status bar.
    TextView = new TTextView(this);
    if (ui) {
        Ui = ui;
    } else {
        OwnUi = std::make_unique<TMyUiServices>(this);
        OwnUi->SetStatusPanel(StatusPanels[1]);
        OwnUi->SetTextView(TextView);
        Ui = OwnUi.get();
    }
    // The title names the program and its version.
    setWindowTitle(QStringLiteral("%1 version %2")
                       .arg(QString::fromLatin1(ProgramName), QString::fromLatin1(ProgramVersion)));
    // Number texts use a point whatever the locale; no add-on preview runs and no sequence
    // export is set up yet.
    SetDecimalSeparator('.');
    AddOnPreview.Active = false;
    SeqExport.OnFrame = nullptr;
    // The window that lists the messages collected while a project loads.
    ErrorDlg = new TErrorDlg(this);
    // The preview picture, and the raw picture of the source (hidden until asked for).
    PreviewBitmap = std::make_unique<TBitmap>();
    VideoImage->SetPicture(*PreviewBitmap);
    RawPanel->hide();
    RawBitmap = std::make_unique<TBitmap>(320, 240);
    RawImage1->SetPicture(*RawBitmap);
    RawControl.Picture = &RawImage1->Picture();
    RawControl.Invalidate = [this] { RawImage1->update(); };
    // The root on its tree item.
    ITreeItem* rootItem = AddTreeRoot(TreeView1, "???");
    Project = std::make_unique<TProjectNode>("Project", rootItem);
    Project->Ui = Ui;
    Project->SetBackgroundColor(PanelColor(pDisplay));
    Project->OnActiveNode = [this](TTreeNodeData* node) { ProjectChanged(node); };
    // Handled once the event that moved the selection is over: items being deleted move it
    // while the tree is half torn down.
    connect(TreeView1, &QTreeWidget::currentItemChanged, this, [this] {
        if (TreeChangePosted)
            return;
        TreeChangePosted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                TreeChangePosted = false;
                TreeView1Change(TreeView1->currentItem());
            },
            Qt::QueuedConnection);
    });
    TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(rootItem));
    static_cast<TTreeWidgetItem*>(rootItem)->setExpanded(true);
    // Nothing rendered yet, so the first preview request always draws.
    LastRenderedFrame = -1;
    // Settings.
    Settings = std::make_unique<TMyRegistry>(SettingsKey);
    Settings->ProgramFolder = ProgramFolder();
    OutputFileName.clear();
    RenderBusy = false;
    // The add-object dialog lives as long as the window.
    AddObjectDlg = new TAddObjectDlg(ProgramFolder(), Ui, this);
    AddObjectDlg->SetProject(Project.get());
    // Files named beside the program are found from its folder.
    QDir::setCurrent(QString::fromStdString(ProgramFolder()));
    // Add-ons draw their previews on a bitmap the window owns.
    AddOnWorkBitmap = std::make_unique<TBitmap>();
    AddOnPreview.Picture = AddOnWorkBitmap.get();
    // The timeline: the plain link until the timeline window attaches its own.
    TimelineLink = std::make_unique<TTimelineSeam>();
    TimelineLink->SetMaxFrames(1000);
    TimelineLink->SetZoomLevel(1.0L);
    MainTimeline = CreateMainTimeline(*this, TimelineArea, Project.get());
    // The tree's icons, popup, drag and drops.
    SetupTree();
    // Without a window manager to maximise it, the window still gets most of the screen.
    if (QScreen* s = screen())
        resize(s->availableGeometry().size() * 9 / 10);
    setWindowState(windowState() | Qt::WindowMaximized);
    // Start on an empty project with the add-object dialog wired to it.
    NewEmptyProject();
    ConnectAddObject();
}

TMainForm::~TMainForm() {
    Shutdown();
    TimelineLink.reset();
    // Its example lives in the project: the dialog goes first.
    delete AddObjectDlg;
    AddObjectDlg = nullptr;
    // The root deletes its tree items, so it goes while the tree is still there.
    Project.reset();
    if (AddOnPreview.Picture == AddOnWorkBitmap.get())
        AddOnPreview.Picture = nullptr;
    AddOnWorkBitmap.reset();
    PreviewBitmap.reset();
    RawBitmap.reset();
    Settings.reset();
    Splash.reset();
    ScreenSaver.reset();
}

std::string TMainForm::ProgramFolder() const {
    return QCoreApplication::applicationDirPath().toStdString();
}

void TMainForm::BuildControls() {
    BuildStatusBar();
    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setChildrenCollapsible(false);
    setCentralWidget(Splitter1);
    BuildPreviewArea();

    // Bottom: project group, tree and move buttons on the left; the timeline on the right.
    pBottom = new QWidget(Splitter1);
    // Never lower than the button rows and the tree need.
    pBottom->setMinimumHeight(210);
    Splitter1->addWidget(pTop);
    Splitter1->addWidget(pBottom);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    auto* bottomLayout = new QHBoxLayout(pBottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->setSpacing(2);
    BuildProjectColumn();
    bottomLayout->addWidget(pLeft);
    BuildTimelineColumn();
    bottomLayout->addWidget(pTimeline, 1);
    Splitter1->setSizes({400, 210});
    ConnectControls();
}

// Frame, cursor and progress, project file.
void TMainForm::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i] = new QLabel(bar);
        StatusPanels[i]->setFrameShape(QFrame::StyledPanel);
    }
    StatusPanels[0]->setFixedWidth(200);
    StatusPanels[1]->setFixedWidth(200);
    StatusPanels[2]->setMinimumWidth(50);
    bar->addWidget(StatusPanels[0]);
    bar->addWidget(StatusPanels[1]);
    bar->addWidget(StatusPanels[2], 1);
}

// The source-frame picture (hidden at start) and the preview background.
void TMainForm::BuildPreviewArea() {
    pTop = new QWidget(Splitter1);
    auto* topLayout = new QHBoxLayout(pTop);
    topLayout->setContentsMargins(0, 0, 0, 0);
    RawSplit = new QSplitter(Qt::Horizontal, pTop);
    RawSplit->setChildrenCollapsible(false);
    topLayout->addWidget(RawSplit);
    RawPanel = new QWidget(RawSplit);
    auto* rawLayout = new QVBoxLayout(RawPanel);
    rawLayout->setContentsMargins(0, 0, 0, 0);
    RawImage1 = new TPreviewImage(RawPanel);
    rawLayout->addWidget(RawImage1);
    pBackground = new QWidget(RawSplit);
    SetPanelColor(pBackground, DefaultBackgroundColor);
    pBackground->installEventFilter(this);
    RawSplit->addWidget(RawPanel);
    RawSplit->addWidget(pBackground);
    RawSplit->setStretchFactor(1, 1);
    pDisplay = new QWidget(pBackground);
    SetPanelColor(pDisplay, 0);
    VideoImage = new TPreviewImage(pDisplay);
    VideoImage->setContextMenuPolicy(Qt::CustomContextMenu);
    VideoImage->installEventFilter(this);
    connect(VideoImage, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { pmDisplay->popup(VideoImage->mapToGlobal(pos)); });
}

void TMainForm::BuildProjectColumn() {
    pLeft = new QWidget(pBottom);
    auto* leftLayout = new QVBoxLayout(pLeft);
    leftLayout->setContentsMargins(2, 2, 2, 2);
    gbProject = new QGroupBox(QStringLiteral("Project:  "), pLeft);
    auto* groupLayout = new QHBoxLayout(gbProject);
    groupLayout->setContentsMargins(2, 2, 2, 2);
    sbNewProj = MakeButton(gbProject, QStringLiteral("New"), QStringLiteral("New project"));
    sbOpenProj = MakeButton(gbProject, QStringLiteral("Open"), QStringLiteral("Open project"));
    sbSaveProj = MakeButton(gbProject, QStringLiteral("Save"), QStringLiteral("Save project"));
    sbSetProj = MakeButton(gbProject, QStringLiteral("Set"), QStringLiteral("Project settings"));
    sbWriteProj = MakeButton(gbProject, QStringLiteral("Write"), QStringLiteral("Export as video"));
    for (QToolButton* b : {sbNewProj, sbOpenProj, sbSaveProj, sbSetProj, sbWriteProj})
        groupLayout->addWidget(b);
    leftLayout->addWidget(gbProject);
    // The column is as wide as the project buttons need with the font in use, never less.
    const QMargins margins = leftLayout->contentsMargins();
    const int width =
        std::max(195, gbProject->sizeHint().width() + margins.left() + margins.right());
    pLeft->setMinimumWidth(width);
    pLeft->setMaximumWidth(width);
    TreeView1 = new QTreeWidget(pLeft);
    TreeView1->setHeaderHidden(true);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    leftLayout->addWidget(TreeView1, 1);
    auto* moveLayout = new QHBoxLayout;
    sbUp = MakeButton(pLeft, QStringLiteral("Up"), QStringLiteral("Move the object up"));
    sbDown = MakeButton(pLeft, QStringLiteral("Down"), QStringLiteral("Move the object down"));
    moveLayout->addWidget(sbUp);
    moveLayout->addWidget(sbDown);
    moveLayout->addStretch(1);
    leftLayout->addLayout(moveLayout);
}

void TMainForm::BuildTimelineColumn() {
    pTimeline = new QWidget(pBottom);
    auto* timelineLayout = new QVBoxLayout(pTimeline);
    timelineLayout->setContentsMargins(2, 2, 2, 2);
    auto* row = new QHBoxLayout;
    sbArrange =
        MakeButton(pTimeline, QStringLiteral("Arrange"), QStringLiteral("Arrange mode"), true);
    sbAdjust =
        MakeButton(pTimeline, QStringLiteral("Adjust"), QStringLiteral("Rubber-band mode"), true);
    sbArrange->setAutoExclusive(true);
    sbAdjust->setAutoExclusive(true);
    sbArrange->setChecked(true);
    row->addWidget(sbArrange);
    row->addWidget(sbAdjust);
    row->addSpacing(8);
    sbPlay1 = MakeButton(pTimeline, QStringLiteral("Play"), QStringLiteral("Play"), true);
    sbStop1 = MakeButton(pTimeline, QStringLiteral("Stop"), QStringLiteral("Stop"), true);
    sbFirst1 = MakeButton(pTimeline, QStringLiteral("|<"), QStringLiteral("Go to begin"), true);
    sbLast1 = MakeButton(pTimeline, QStringLiteral(">|"), QStringLiteral("Go to end"), true);
    for (QToolButton* b : {sbPlay1, sbStop1, sbFirst1, sbLast1})
        row->addWidget(b);
    row->addSpacing(8);
    pEditorPanel = new QWidget(pTimeline);
    auto* editorLayout = new QHBoxLayout(pEditorPanel);
    editorLayout->setContentsMargins(0, 0, 0, 0);
    sbAddVideo = MakeButton(pEditorPanel, QStringLiteral("Add video"), QStringLiteral("Add video"));
    sbRange = MakeButton(pEditorPanel, QStringLiteral("Range"), QStringLiteral("Movie range"));
    sbProp = MakeButton(pEditorPanel, QStringLiteral("Property"), QStringLiteral("Property"));
    sbAddEffect =
        MakeButton(pEditorPanel, QStringLiteral("Add effect"), QStringLiteral("Add effect"));
    sbRange->hide();
    sbProp->hide();
    for (QToolButton* b : {sbAddVideo, sbRange, sbProp, sbAddEffect})
        editorLayout->addWidget(b);
    row->addWidget(pEditorPanel);
    row->addStretch(1);
    pbCPULevel = new TCpuGauge(pTimeline);
    pbCPULevel->setFixedHeight(24);
    row->addWidget(pbCPULevel);
    timelineLayout->addLayout(row);
    TimelineArea = new QWidget(pTimeline);
    timelineLayout->addWidget(TimelineArea, 1);
}

void TMainForm::ConnectControls() {
    connect(sbNewProj, &QToolButton::clicked, this, [this] { sbNewProj1Click(); });
    connect(sbOpenProj, &QToolButton::clicked, this, [this] { sbOpenProj1Click(); });
    connect(sbSaveProj, &QToolButton::clicked, this, [this] { sbSaveProj1Click(); });
    connect(sbArrange, &QToolButton::clicked, this, [this] { sbArrangeClick(sbArrange); });
    connect(sbAdjust, &QToolButton::clicked, this, [this] { sbArrangeClick(sbAdjust); });
    connect(sbSetProj, &QToolButton::clicked, this, [this] { Projectproperty1Click(); });
    connect(sbWriteProj, &QToolButton::clicked, this, [this] { Export1Click(); });
    connect(sbPlay1, &QToolButton::clicked, this, [this](bool down) { sbPlay1Click(down); });
    connect(sbStop1, &QToolButton::clicked, this, [this](bool down) { sbStop1Click(down); });
    connect(sbFirst1, &QToolButton::clicked, this, [this] { sbFirst1Click(sbFirst1); });
    connect(sbLast1, &QToolButton::clicked, this, [this] { sbFirst1Click(sbLast1); });

    tmAbout = new QTimer(this);
    tmAbout->setInterval(2000);
    connect(tmAbout, &QTimer::timeout, this, [this] { tmAboutTimer(); });
    tmCUPUsage = new QTimer(this);
    tmCUPUsage->setInterval(500);
    connect(tmCUPUsage, &QTimer::timeout, this, [this] { tmCUPUsageTimer(); });

    for (QWidget* w : {sbUp, sbDown, sbAddVideo, sbRange, sbProp, sbAddEffect})
        w->setEnabled(false);
}

void TMainForm::BuildMenus() {
    QMenuBar* bar = menuBar();
    auto add = [this](QMenu* menu, const QString& text, const QKeySequence& key = {}) {
        QAction* a = menu->addAction(text);
        if (!key.isEmpty())
            a->setShortcut(key);
        return a;
    };
    mnFile = bar->addMenu(QStringLiteral("&File"));
    miNewProject = add(mnFile, QStringLiteral("New project"));
    miOpenProject =
        add(mnFile, QStringLiteral("Open project..."), QKeySequence(QStringLiteral("Ctrl+O")));
    miSaveProject =
        add(mnFile, QStringLiteral("Save project"), QKeySequence(QStringLiteral("Ctrl+S")));
    miSaveProjectAs = add(mnFile, QStringLiteral("Save project as..."));
    miCloseProject = add(mnFile, QStringLiteral("Close project"));
    mnFile->addSeparator();
    miRun = add(mnFile, QStringLiteral("Run"), QKeySequence(QStringLiteral("Ctrl+R")));
    miStop = add(mnFile, QStringLiteral("Stop"), QKeySequence(QStringLiteral("Ctrl+Z")));
    mnFile->addSeparator();
    miExportVideo =
        add(mnFile, QStringLiteral("Export as Video..."), QKeySequence(QStringLiteral("Ctrl+X")));
    mnOtherExports = mnFile->addMenu(QStringLiteral("Other exports"));
    miExportBitmaps = add(mnOtherExports, QStringLiteral("Export clips as bitmaps"));
    miExportAudio = add(mnOtherExports, QStringLiteral("Export audio only"));
    miExtractAudio = add(mnOtherExports, QStringLiteral("Extract a movie audio"));
    mnFile->addSeparator();
    miExit = add(mnFile, QStringLiteral("Exit"));

    mnEdit = bar->addMenu(QStringLiteral("&Edit"));
    miAddVideo = add(mnEdit, QStringLiteral("Add video"), QKeySequence(QStringLiteral("Ctrl+P")));
    miProjectSettings = add(mnEdit, QStringLiteral("Project settings"));
    mnFind = mnEdit->addMenu(QStringLiteral("Find"));
    miFindStart = add(mnFind, QStringLiteral("Selected object's starting point"));
    miFindEnd = add(mnFind, QStringLiteral("Selected object's ending point"));
    mnPreference = mnEdit->addMenu(QStringLiteral("Preference"));
    miVideoBackground = add(mnPreference, QStringLiteral("Video background color"));

    mnView = bar->addMenu(QStringLiteral("&View"));
    mnMonitorMode = mnView->addMenu(QStringLiteral("Monitor Mode"));
    miSingleMonitor = add(mnMonitorMode, QStringLiteral("Single monitor"));
    miTwinMonitor = add(mnMonitorMode, QStringLiteral("Twin monitor"));
    miSingleMonitor->setCheckable(true);
    miTwinMonitor->setCheckable(true);
    miShowOriginalImage = add(mnView, QStringLiteral("Show original image"));
    miShowOriginalImage->setCheckable(true);

    mnTools = bar->addMenu(QStringLiteral("&Tools"));
    miAnalogCapture = add(mnTools, QStringLiteral("Analog video capture"));
    miListVideoCodec = add(mnTools, QStringLiteral("List video codec"));
    miListAudioCodec = add(mnTools, QStringLiteral("List audio codec"));
    miAviViewer = add(mnTools, QStringLiteral("Avi file data viewer"));
    miBinaryCompare = add(mnTools, QStringLiteral("Binary file compare"));
    miCaptureImage = add(mnTools, QStringLiteral("Capture image"));
    miTest = add(mnTools, QStringLiteral("test"));
    miListVideoCodec->setVisible(false);
    miTest->setVisible(false);

    mnHelp = bar->addMenu(QStringLiteral("&Help"));
    miContents = add(mnHelp, QStringLiteral("Contents"));
    miAbout = add(mnHelp, QStringLiteral("About"));

    connect(miNewProject, &QAction::triggered, this, [this] { sbNewProj1Click(); });
    connect(miCloseProject, &QAction::triggered, this, [this] { sbNewProj1Click(); });
    connect(miOpenProject, &QAction::triggered, this, [this] { sbOpenProj1Click(); });
    connect(miSaveProject, &QAction::triggered, this, [this] { sbSaveProj1Click(); });
    connect(miSaveProjectAs, &QAction::triggered, this, [this] { SaveProjectAs(); });
    connect(miExit, &QAction::triggered, this, [this] { Exit1Click(); });
    connect(miExportVideo, &QAction::triggered, this, [this] { Export1Click(); });
    connect(miProjectSettings, &QAction::triggered, this, [this] { Projectproperty1Click(); });
    connect(miExportAudio, &QAction::triggered, this, [this] { WriteWAV1Click(); });
    connect(miExtractAudio, &QAction::triggered, this, [this] { Extractaudio1Click(); });
    connect(miExportBitmaps, &QAction::triggered, this, [this] { ExportClipClick(); });
    connect(mnOtherExports, &QMenu::aboutToShow, this, [this] { Otherexports1Click(); });
    // The start needs an object; the end item stays enabled.
    connect(mnFind, &QMenu::aboutToShow, this,
            [this] { miFindStart->setEnabled(Project->GetActiveNode() != nullptr); });
    connect(miVideoBackground, &QAction::triggered, this, [this] { VideoBackgroundColor1Click(); });
    connect(miShowOriginalImage, &QAction::triggered, this, [this] { ShowOriginalImage1Click(); });
    connect(miContents, &QAction::triggered, this, [this] { Contents1Click(); });
    connect(miAbout, &QAction::triggered, this, [this] { About1Click(); });
    connect(miAnalogCapture, &QAction::triggered, this, [this] {
        TVidCapture capture(*Ui, this);
        capture.ShowModal();
    });
    connect(miCaptureImage, &QAction::triggered, this, [this] {
        TCaptureForm capture(*Ui, this);
        capture.ShowModal();
    });
    connect(miFindStart, &QAction::triggered, this, [this] { miFindStartingPointClick(false); });
    connect(miFindEnd, &QAction::triggered, this, [this] { miFindStartingPointClick(true); });
}

void TMainForm::BuildPreviewMenu() {
    pmDisplay = new QMenu(this);
    mnPlacement = pmDisplay->addMenu(QStringLiteral("Placement"));
    miCentered = mnPlacement->addAction(QStringLiteral("Centered"));
    miFitToWindow = mnPlacement->addAction(QStringLiteral("Fit to window"));
    miMoveable = mnPlacement->addAction(QStringLiteral("Moveable ---> [Ctrl] + Left-Mouse"));
    miMoveable->setToolTip(QStringLiteral("Scrolling by pressing [Ctrl] and left mouse"));
    // Menus keep their items' hints to themselves unless told to show them.
    mnPlacement->setToolTipsVisible(true);
    mnZoom = pmDisplay->addMenu(QStringLiteral("Zoom level"));
    miZoom25 = mnZoom->addAction(QStringLiteral("25%"));
    miZoom50 = mnZoom->addAction(QStringLiteral("50%"));
    miZoom100 = mnZoom->addAction(QStringLiteral("100%"));
    miZoom200 = mnZoom->addAction(QStringLiteral("200%"));
    miDefaultView = pmDisplay->addAction(QStringLiteral("Default view"));
    for (QAction* a :
         {miCentered, miFitToWindow, miMoveable, miZoom25, miZoom50, miZoom100, miZoom200}) {
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, a] { ZoomChange(a); });
    }
    miCentered->setChecked(true);
    miZoom100->setChecked(true);
    connect(miDefaultView, &QAction::triggered, this, [this] { Default1Click(); });
    connect(pmDisplay, &QMenu::aboutToShow, this,
            [this] { mnZoom->setEnabled(!miFitToWindow->isChecked()); });
}

void TMainForm::AttachTimeline(std::unique_ptr<TTimelineSeam> timeline) {
    if (!timeline)
        return;
    timeline->SetFramePos(TimelineLink->GetFramePos());
    timeline->SetMaxFrames(TimelineLink->GetMaxFrames());
    timeline->SetZoomLevel(TimelineLink->GetZoomLevel());
    TimelineLink = std::move(timeline);
}

void TMainForm::SetSplash(std::unique_ptr<QWidget> splash) {
    Splash = std::move(splash);
    tmAbout->start();
}

// ---- window events ------------------------------------------------------------------------------

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!Shown) {
        Shown = true;
        FormShow();
    }
}

void TMainForm::FormShow() {
    tmCUPUsage->start();
    RefreshProject(false);
    if (Settings)
        SetPanelColor(pBackground, static_cast<uint32_t>(Settings->ReadInteger(
                                       "Preference", "Video Background Color",
                                       static_cast<int32_t>(PanelColor(pBackground)))));
    mnMonitorMode->setEnabled(false);
    miSingleMonitor->setChecked(true);
    miTwinMonitor->setChecked(false);
    mnMonitorMode->menuAction()->setVisible(false);
    mnView->menuAction()->setVisible(false);
    miListAudioCodec->setVisible(false);
    miAviViewer->setVisible(false);
    miBinaryCompare->setVisible(false);
    miCaptureImage->setVisible(false);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    Shutdown();
}

bool TMainForm::FormCloseQuery() {
    if (ShutDown)
        return true;
    Closing = true;
    Project->Stop();
    // Nothing closes under a running loop or render: a loop pumping messages may be what
    // delivered this close. Stopping it is all a close does then.
    bool canClose = !sbPlay1->isChecked() && !Project->Busy && !RenderBusy;
    // A repeating playback would start its range again: the stop is the user's.
    if (sbPlay1->isChecked())
        PressPlayerButton(sbStop1);
    if (canClose)
        canClose = SaveIfModified(true);
    if (!canClose)
        Closing = false;
    return canClose;
}

void TMainForm::Shutdown() {
    if (ShutDown)
        return;
    ShutDown = true;
    Closing = true;
    tmCUPUsage->stop();
    tmAbout->stop();
    if (Project) {
        Project->Unlink();
        Project->Clear();
    }
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (Closing)
        return;
    // A resize stops a playback, but an export runs on to its last frame: only the preview is
    // laid out again.
    if (IsExporting()) {
        LayoutPreview();
        return;
    }
    ZoomChange(this);
}

bool TMainForm::IsExporting() const {
    return Project && Project->Busy && (Project->Target != tgPreview || SeqExport.OnFrame);
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        FormKeyDown(event->key());
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TMainForm::FormKeyDown(int key) {
    if (key != Qt::Key_Escape)
        return;
    // Read only by the extraction of a movie's sound track.
    TAviReader::EscapePressed = true;
    if (Project->Busy && Ui->Ask("Stop the process?", TMsgButtons::OKCancel,
                                 TMsgKind::Confirmation) == TMsgResult::OK) {
        // As the Stop button does, so a repeating playback ends too.
        if (sbPlay1->isChecked())
            PressPlayerButton(sbStop1);
        Project->Stop();
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (TreeEvent(watched, event) || FileDropEvent(watched, event))
        return true;
    if (watched == pBackground && event->type() == QEvent::Resize) {
        // Splitter moves and window resizes reach the preview through its background.
        LayoutPreview();
    } else if (watched == VideoImage) {
        if (PreviewMouse(event))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- shared routines ----------------------------------------------------------------------------

void TMainForm::SetCommandEnabled(QObject* command, bool enable) {
    if (auto* a = qobject_cast<QAction*>(command))
        a->setEnabled(enable);
    else if (auto* w = qobject_cast<QWidget*>(command))
        w->setEnabled(enable);
}

void TMainForm::EnableChildControls(QWidget* panel, bool enable) {
    for (QObject* o : panel->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w)
            continue;
        SetCommandEnabled(w, enable);
        // Into plain containers only; the inside of a compound control is its own business.
        const char* cls = w->metaObject()->className();
        if (!strcmp(cls, "QWidget") || !strcmp(cls, "QGroupBox") || !strcmp(cls, "QFrame"))
            EnableChildControls(w, enable);
    }
}

void TMainForm::EnableEditing(bool enable) {
    EnableChildControls(pEditorPanel, enable);
    EnableChildControls(pLeft, enable);
    for (QAction* a : menuBar()->actions())
        a->setEnabled(enable);
    if (enable) {
        UpdateEditorButtons();
        TimelineLink->RedrawEditor();
        ServeDeferredPreview();
    }
}

void TMainForm::RefreshProject(bool render) {
    if (Closing)
        return;
    Project->Refresh();
    RawBitmap->Canvas().Brush.Color = 0;
    RawBitmap->Canvas().FillRect(Rect(0, 0, RawBitmap->Width(), RawBitmap->Height()));
    RawImage1->SetPicture(*RawBitmap);
    SetPanelColor(RawPanel, PanelColor(pBackground));
    // Media nodes draw their source frames only while the panel that shows them is open.
    Project->SetOriginalImage(RawPanel->isVisibleTo(this) ? &RawControl : nullptr);
    const int32_t frames = Project->GetFrameCount();
    TimelineLink->SetMaxFrames(frames < 1 ? 0 : frames);
    ZoomChange(nullptr);
    for (QObject* c :
         std::initializer_list<QObject*>{miExportVideo, sbWriteProj, sbPlay1, sbFirst1, sbLast1})
        SetCommandEnabled(c, false);
    mnOtherExports->setEnabled(false);
    if (Project->GetChildCount() >= 1 && frames != 0) {
        for (QObject* c : std::initializer_list<QObject*>{miExportVideo, sbWriteProj, sbPlay1,
                                                          sbFirst1, sbLast1})
            SetCommandEnabled(c, true);
        mnOtherExports->setEnabled(true);
        LayoutPreview();
        // A move, an addition or a deletion changes where the selected item may go.
        UpdateUpDownButtons();
        if (render)
            PostPreviewFrame();
    }
}

void TMainForm::SetProjectStatus() {
    const std::string& name = Project->FileName;
    StatusPanels[2]->setText(
        QString::fromStdString(name.empty() ? "Project: New empty project" : "Project:" + name));
}

// ---- other commands -----------------------------------------------------------------------------

void TMainForm::VideoBackgroundColor1Click() {
    const std::optional<uint32_t> c = Ui->ChooseColor(PanelColor(pBackground));
    if (!c)
        return;
    SetPanelColor(pBackground, *c);
    if (Settings)
        Settings->WriteInteger("Preference", "Video Background Color", static_cast<int32_t>(*c));
}

void TMainForm::Contents1Click() {
    const std::string help =
        (std::filesystem::path(ProgramFolder()) / "help" / "default.htm").string();
    // The user learns where the help is and why it did not open.
    OpenOrTell(*Ui, this, help, "Can not open the help file " + help);
}

void TMainForm::About1Click() {
    TAboutForm about(this);
    about.exec();
}

void TMainForm::tmAboutTimer() {
    tmAbout->stop();
    Splash.reset();
}

void TMainForm::tmCUPUsageTimer() {
    tmCUPUsage->stop();
    double usage = 0;
    int processors = 1;
    if (QGuiApplication::applicationState() == Qt::ApplicationActive &&
        GetCpuUsage(usage, processors))
        pbCPULevel->SetUsage(usage);
    if (!ShutDown)
        tmCUPUsage->start();
}
