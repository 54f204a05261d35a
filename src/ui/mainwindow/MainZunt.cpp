#include "MainZunt.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>
#include <limits>

#include "About.h"
#include "DlgAddObject.h"
#include "IUiServices.h"
#include "MyAVICompress.h"
#include "MyAVIReader.h"
#include "MyAppLibs.h"
#include "MyCaptureDlg.h"
#include "MyCommonParams.h"
#include "MyCommonParamsPart.h"
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

// The long parameter of the set-frame event: a frame, or -1 to keep the cursor.
class TSetFrameEvent : public QEvent {
public:
    explicit TSetFrameEvent(int32_t frame) : QEvent(TMainForm::WM_SET_FRAME), Frame(frame) {}
    int32_t Frame;
};

constexpr uint32_t DefaultBackgroundColor = 4596480;
const char* const SettingsKey = "\\Software\\Draskel\\Tarvolin\\";

void SetPanelColor(QWidget* w, uint32_t color) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, ColorFromBGR(color));
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

uint32_t PanelColor(const QWidget* w) {
    return BGRFromColor(w->palette().color(QPalette::Window));
}

QToolButton* MakeButton(QWidget* parent, const QString& text, const QString& hint,
                        bool checkable = false) {
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(hint);
    b->setCheckable(checkable);
    b->setAutoRaise(false);
    return b;
}

std::string FrameText(const char* label, int32_t frame, Extended time) {
    return std::string(label) + std::to_string(frame) + "   " + FormatTimeText(time);
}

std::string FileNameOnly(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

} // namespace

// ---- TPreviewImage ------------------------------------------------------------------------------

TPreviewImage::TPreviewImage(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPreviewImage::SetPicture(const TBitmap& src) {
    Bitmap.Assign(src);
    update();
}

void TPreviewImage::CopyFrom(const TBitmap& src, const TRect& r) {
    if (Bitmap.Empty() || src.Empty())
        return;
    Bitmap.Canvas().CopyRect(r, src, r);
    update(QRect(r.Left, r.Top, r.Width(), r.Height()));
}

void TPreviewImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (Bitmap.Empty())
        return;
    // A view on the bitmap's own rows: the same B, G, R bytes, no copy.
    const QImage view(Bitmap.Bits(), Bitmap.Width(), Bitmap.Height(), Bitmap.RowBytes(),
                      QImage::Format_BGR888);
    p.drawImage(0, 0, view);
}

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

// ---- TTimelineSeam ------------------------------------------------------------------------------

bool TTimelineSeam::FindStopAfter(int32_t frame, Extended fps, int32_t& stop) {
    if (fps == 0)
        return false;
    Extended t = frame / fps;
    while (FindStopPoint(t, true)) {
        const int32_t at = Round(fps * t);
        if (at > frame) {
            stop = at;
            return true;
        }
        // On the frame itself: search again from just past this stop point.
        t = std::nextafter(t, std::numeric_limits<Extended>::infinity());
    }
    return false;
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
            SeqExport.OnFrame(this);
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

// ---- project commands ---------------------------------------------------------------------------

bool TMainForm::SaveIfModified(bool askClose) {
    if (askClose && Project->GetDuration() > 0 &&
        Ui->Ask("Close current project?", TMsgButtons::OKCancel, TMsgKind::Confirmation) !=
            TMsgResult::OK)
        return false;
    if (!Project->IsModified())
        return true;
    switch (Ui->Ask("Current Project has been modified. Save it first?", TMsgButtons::YesNoCancel,
                    TMsgKind::Confirmation)) {
    case TMsgResult::Yes:
        if (Project->FileName.empty())
            return SaveProjectAs();
        return Project->SaveToFile(Project->FileName);
    case TMsgResult::No:
        return true;
    default:
        return false;
    }
}

void TMainForm::sbNewProj1Click() {
    if (Ui->Ask("Close project " + Project->FileName + " and create a new one?",
                TMsgButtons::OKCancel, TMsgKind::Confirmation) != TMsgResult::OK)
        return;
    if (SaveIfModified(false))
        NewEmptyProject();
}

bool TMainForm::NewEmptyProject() {
    sbArrange->setChecked(true);
    TimelineLink->SetAdjustMode(false);
    if (!Project->Clear())
        return false;
    Project->New();
    Ui->ProcessMessages();
    ShowNewProject();
    return true;
}

void TMainForm::ShowNewProject() {
    auto* root = static_cast<TTreeWidgetItem*>(Project->Item);
    TreeView1->setCurrentItem(root);
    root->setExpanded(true);
    RefreshProject(true);
    TimelineLink->SetFramePos(0);
    TimelineLink->SetZoomLevel(1.0L);
    StatusPanels[2]->setText(QStringLiteral("Project: New empty project"));
}

void TMainForm::sbOpenProj1Click() {
    if (!SaveIfModified(true))
        return;
    const std::string start = Settings ? Settings->ReadString("Recents", "ProjectFile", "") : "";
    const std::optional<std::string> name = Ui->OpenFileDialog(
        "Select project to open", {{"Project file", "*.mpr"}, {"All files", "*"}}, start);
    if (!name)
        return;
    if (!Project->Clear())
        return;
    sbArrange->setChecked(true);
    TimelineLink->ResetEditor();
    TimelineLink->SetAdjustMode(false);
    bool loaded = false;
    {
        TBusyCursorGuard cursor(Ui);
        LoadMessages.Clear();
        // A failed load leaves a new empty project and says why in the load messages.
        loaded = Project->LoadFromFile(*name);
    }
    const auto showMessages = [this] {
        if (LoadMessages.Count() == 0)
            return;
        ErrorDlg->SetLines(LoadMessages.Lines);
        ErrorDlg->Execute();
    };
    if (!loaded) {
        // Nothing of the old project stays on show beside the new one, and the file that did not
        // open is not offered as the last project.
        ShowNewProject();
        showMessages();
        return;
    }
    if (Settings)
        Settings->WriteString("Recents", "ProjectFile", *name);
    // The user reads what went wrong before the project is shown.
    showMessages();
    TimelineLink->SetFramePos(0);
    TimelineLink->SetZoomLevel(1.0L);
    RefreshProject(true);
    if (TreeView1->isEnabled() && TreeView1->focusPolicy() != Qt::NoFocus)
        TreeView1->setFocus();
    auto* root = static_cast<TTreeWidgetItem*>(Project->Item);
    TreeView1->setCurrentItem(root);
    root->setExpanded(true);
    SetProjectStatus();
    Ui->ProcessMessages();
    LastRenderedFrame = -1;
    if (!Project->FileName.empty())
        root->SetText("Project " + FileNameOnly(Project->FileName));
}

void TMainForm::sbSaveProj1Click() {
    if (!Project->FileName.empty())
        Project->Save();
    else
        SaveProjectAs();
}

namespace {
// Editing stays off for one command and comes back however the command ends.
auto EditingOff(TMainForm& form) {
    form.EnableEditing(false);
    return MakeScopeExit([&form] { form.EnableEditing(true); });
}
} // namespace

std::optional<std::string> TMainForm::AskWaveFile(const std::string& title, bool& raw) {
    const std::string start = Settings ? Settings->ReadString("Recents", "WaveFile", "") : "";
    const std::optional<std::string> name = Ui->SaveFileDialog(
        title, {{"Wav audio file (*.wav)", "*.wav"}, {"Without header", "*.???"}}, start, "wav");
    if (!name)
        return std::nullopt;
    if (Settings)
        Settings->WriteString("Recents", "WaveFile", *name);
    raw = Ui->LastFilterIndex() > 1;
    return name;
}

void TMainForm::WriteWAV1Click() {
    bool raw = false;
    const std::optional<std::string> name = AskWaveFile("Enter Wav output file", raw);
    if (!name)
        return;
    auto editing = EditingOff(*this);
    TStatusPanel panel{
        [this] { return StatusPanels[2]->text().toStdString(); },
        [this](const std::string& s) { StatusPanels[2]->setText(QString::fromStdString(s)); }};
    // The project's own length, not the timeline strip's (which is never shorter than the view).
    Project->ExportWave(raw, 0, &panel, *name, Project->GetFrameCount());
}

void TMainForm::Otherexports1Click() {
    auto* movie = dynamic_cast<TMovieNode*>(Project->GetActiveNode());
    miExtractAudio->setEnabled(movie && movie->HasAudio());
}

void TMainForm::Extractaudio1Click() {
    auto* movie = dynamic_cast<TMovieNode*>(Project->GetActiveNode());
    if (!movie)
        return;
    bool raw = false;
    const std::optional<std::string> name = AskWaveFile("Enter Wav output file", raw);
    if (!name)
        return;
    auto editing = EditingOff(*this);
    if (movie->ExtractAudio(raw, *name, *Ui)) {
        if (Ui->Ask("File " + *name + " is ready. Play the result?", TMsgButtons::YesNo,
                    TMsgKind::Confirmation) == TMsgResult::Yes)
            OpenOrTell(*Ui, this, *name, "Can not play " + *name);
    } else {
        Ui->ShowMessage("Fail to produce " + *name, TMsgKind::Error);
    }
}

void TMainForm::Export1Click() {
    {
        TProjPropDlg dlg(*Project, *Ui, this);
        if (!dlg.Execute())
            return;
    }
    LayoutPreview();
    TExportProgress progress(*Project, *Ui, this);
    if (OutputFileName.empty() && Settings)
        OutputFileName = Settings->ReadString("Recents", "OutputFile", "");
    if (!Project->IsWMVOutput() && Project->GetAviCompress().GetFourCC() == 0 &&
        !ShowConfirm(DlgHugeOutput, Ui))
        return;
    if (!progress.Prepare(
            OutputFileName, [this](TFrameReport& r) { FrameRendered(r); },
            [this](const TBitmap* b) { PreviewBlit(b); },
            TExportProgressModel::OutputExtension(*Project)))
        return;
    if (Settings)
        Settings->WriteString("Recents", "OutputFile", OutputFileName);
    const int32_t pos = TimelineLink->GetFramePos();
    progress.Execute();
    TimelineLink->SetFramePos(pos);
    pBackground->repaint();
    Ui->ProcessMessages();
    const int32_t frames = Project->GetFrameCount();
    if (TimelineLink->GetFramePos() > frames)
        TimelineLink->SetFramePos(frames);
    // The preview may still show exported pictures: the cursor's frame is drawn again.
    PostSetFrame(-1);
}

void TMainForm::Projectproperty1Click() {
    QTreeWidgetItem* selected = TreeView1->currentItem();
    TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(Project->Item));
    {
        TProjPropDlg dlg(*Project, *Ui, this);
        dlg.Execute();
    }
    LayoutPreview();
    SendSetFrame(-1);
    if (selected)
        TreeView1->setCurrentItem(selected);
}

bool TMainForm::SaveProjectAs() {
    std::string start = Project->FileName;
    if (start.empty() && Settings)
        start = Settings->ReadString("Recents", "ProjectFile", "");
    std::optional<std::string> name;
    for (;;) {
        name = Ui->SaveFileDialog("Enter project filename",
                                  {{"Project file", "*.mpr"}, {"all files", "*"}}, start, "mpr");
        if (!name)
            return false;
        // The project dialog's own overwrite prompt; No asks for another name.
        if (!FileExists(*name) || Ui->Ask(*name + " already exists.\nDo you want to replace it?",
                                          TMsgButtons::YesNo, TMsgKind::Warning) == TMsgResult::Yes)
            break;
        start = *name;
    }
    // The caller may be about to drop the project: only a written file lets it. The project
    // keeps the name it had, so a later save asks again instead of retrying the failed one.
    const std::string previous = Project->FileName;
    if (!Project->SaveToFile(*name)) {
        Project->FileName = previous;
        return false;
    }
    SetProjectStatus();
    Project->Item->SetText("Project " + FileNameOnly(Project->FileName));
    if (Settings)
        Settings->WriteString("Recents", "ProjectFile", *name);
    RefreshProject(false);
    return true;
}

void TMainForm::Exit1Click() {
    if (Ui->Ask("Close the application?", TMsgButtons::OKCancel, TMsgKind::Confirmation) ==
        TMsgResult::OK)
        close();
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
    if (TimelineLink->FindStopPoint(t, false))
        start = Round(fps * t);
    // From a stop point, as where the last playback stopped, the range runs on to the next one.
    TimelineLink->FindStopAfter(TimelineLink->GetFramePos(), fps, end);

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
        if (!TimelineLink->FindStopPoint(t, false)) {
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
        if (!TimelineLink->FindStopPoint(t, true)) {
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

// ---- add-object flow ----------------------------------------------------------------------------

void TMainForm::ConnectAddObject() {
    for (QObject* c : std::initializer_list<QObject*>{sbAddVideo, sbAddEffect, miAddVideo})
        SetCommandEnabled(c, true);
    connect(sbAddVideo, &QToolButton::clicked, this, [this] { sbAddVideoClick(); });
    connect(sbAddEffect, &QToolButton::clicked, this, [this] { sbAddEffectClick(); });
    connect(miAddVideo, &QAction::triggered, this, [this] { sbAddVideoClick(); });
}

TTreeNodeData* TMainForm::SelectedNode() const {
    ITreeItem* item = AsTreeItem(TreeView1->currentItem());
    return item ? static_cast<TTreeNodeData*>(item->GetData()) : nullptr;
}

TTreeNodeData* TMainForm::AddObject(uint16_t kinds, bool select) {
    ITreeItem* target = AsTreeItem(TreeView1->currentItem());
    if (!target)
        return nullptr;
    AddObjectDlg->TargetItem = target;
    AddObjectDlg->Kinds = kinds;
    int result = QDialog::Rejected;
    {
        TAddOnPreviewScope preview;
        result = AddObjectDlg->ShowModal();
    }
    TTreeNodeData* node = AddObjectDlg->NewNode;
    if (result != QDialog::Accepted || !node)
        return nullptr;
    if (TreeView1->isEnabled())
        TreeView1->setFocus();
    TreeView1->currentItem()->setExpanded(true);
    Ui->ProcessMessages();
    TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(node->Item));
    Project->SetActiveNode(node);
    if (!EditNodeProperties(select)) {
        Project->DeleteNode(node->Item);
        Ui->ProcessMessages();
        return nullptr;
    }
    // The first picture-bearing object of a new project decides its frame size and rate.
    if (auto* master = dynamic_cast<TMasterNode*>(node); master && !Project->VideoFormatFixed)
        Project->SetVideoFormat(master->GetSourceWidth(), master->GetSourceHeight(),
                                master->GetSourceFrameRate());
    if (!Project->AudioFormatFixed) {
        if (auto* movie = dynamic_cast<TMovieNode*>(node); movie && movie->HasAudio())
            movie->GetAudioFormat(Project->AudioFormat);
        else if (auto* sound = dynamic_cast<TSoundNode*>(node))
            Project->AudioFormat = sound->SourceFormat;
    }
    return node;
}

bool TMainForm::EditNodeProperties(bool select) {
    TTreeNodeData* node = Project->GetActiveNode();
    if (!node)
        node = SelectedNode();
    if (!node)
        return false;
    const int32_t framePos = TimelineLink->GetFramePos();
    {
        TPropDlg dlg(Ui, this);
        if (!dlg.Execute(node, Project.get()))
            return false;
    }
    if (node == Project.get())
        Project->Changed();
    if (select) {
        RefreshProject(true);
        if (TimelineLink->GetMaxFrames() < framePos) {
            TimelineLink->SetFramePos(TimelineLink->GetMaxFrames());
            PostPreviewFrame();
            UpdateEditorButtons();
        }
    }
    return true;
}

void TMainForm::sbAddVideoClick() {
    if (MainTimeline)
        MainTimeline->AddVideo();
}

void TMainForm::sbAddEffectClick() {
    if (MainTimeline)
        MainTimeline->AddEffect();
}
