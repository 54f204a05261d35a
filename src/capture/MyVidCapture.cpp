#include "MyVidCapture.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "MyAppLibs.h"
#include "MyCapDrvSelect.h"
#include "MyCommonParams.h"
#include "MyUiServices.h"

namespace {

// 0x00BBGGRR 4596480: the dark blue behind the picture.
const QColor PictureBlue(0x00, 0x23, 0x46);

void Paint(QWidget* w, const QColor& back, const QColor& text = Qt::white) {
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, back);
    pal.setColor(QPalette::WindowText, text);
    w->setPalette(pal);
}

} // namespace

// ---- Logic --------------------------------------------------------------------------------------

TVidCaptureLogic::TVidCaptureLogic(ICaptureControl& control, IVidCaptureView& view, IUiServices& ui)
    : Control(control), View(view), Ui(ui) {}

void TVidCaptureLogic::Guard(const std::function<void()>& step) {
    try {
        step();
    } catch (const Exception& e) {
        Ui.ShowMessage(e.GetMessage(), TMsgKind::Error);
    }
}

void TVidCaptureLogic::FormCreate() {
    Capturing = false;
    Control.SetDriverIndex(0);
    Control.SetCapTimeLimit(65000);
    if (Control.HasDriverName())
        Guard([this] {
            Control.SetDriverOpen(true);
            Control.SetVideoPreview(true);
        });
    View.SetFileText(MakeTimeStampText() + ".avi");
    View.SetFps(Control.GetFrameRate());
    View.SetRecordAudio(Control.GetCapAudio());
}

void TVidCaptureLogic::FormShow() {
    ShowBanner();
}

void TVidCaptureLogic::ShowBanner() {
    // Also shown when the named driver would not open (in use by another program).
    View.SetBannerVisible(!Control.HasDriverName() || !Control.GetDriverOpen());
}

void TVidCaptureLogic::FormClose() {
    if (!Capturing)
        return;
    Capturing = false;
    Control.StopCapture();
    View.SetButtonsEnabled(true);
    View.SetStartCaption("Start");
}

void TVidCaptureLogic::BtDriverClick() {
    Guard([this] {
        const std::vector<std::string> list = Control.GetDriverList();
        Control.SetDriverOpen(false);
        const int index = Control.GetDriverIndex();
        const int chosen = View.ChooseDriver(list, index < 0 ? 0 : index);
        if (chosen >= 0)
            Control.SetDriverIndex(chosen);
        try {
            Control.SetDriverOpen(true);
            Control.SetVideoPreview(Control.GetDriverOpen());
        } catch (...) {
            ShowBanner();
            throw;
        }
        ShowBanner();
    });
}

void TVidCaptureLogic::BtFormatClick() {
    Guard([this] {
        Control.DlgVideoFormat();
        if (Control.GetDriverOpen())
            Control.SetVideoPreview(true);
    });
}

void TVidCaptureLogic::BTCompressClick() {
    Guard([this] { Control.DlgVideoCompression(); });
}

void TVidCaptureLogic::seFPSChange(int value) {
    Control.SetFrameRate(uint16_t(value));
}

void TVidCaptureLogic::cbRecordAudioClick(bool checked) {
    Control.SetCapAudio(checked);
}

void TVidCaptureLogic::sbStartClick() {
    Guard([this] {
        if (Capturing)
            StopRecording();
        else
            StartRecording();
    });
    // The caption says what the button does next.
    View.SetStartCaption(Capturing ? "Stop" : "Start");
}

void TVidCaptureLogic::StartRecording() {
    const std::string folder =
        CaptureFolder.empty() ? BesideProgramFolder("Capture") : CaptureFolder;
    const std::string file = folder + "/" + View.GetFileText();
    if (FileExists(file) && !RecycleFile(file)) {
        Ui.ShowMessage(file + " is in use.", TMsgKind::Error);
        return;
    }
    TBitmapInfoHeader header;
    Control.GetVideoFormat(header);
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    Control.SetVideoFormat(header);
    Control.SetVideoFileName(file);
    if (!Control.StartCapture())
        return;
    View.SetButtonsEnabled(false);
    Ui.ProcessMessages();
    Capturing = true;
    CaptureFile = file;
    View.SetPanel(3, file);
}

void TVidCaptureLogic::StopRecording() {
    Capturing = false;
    Control.StopCapture();
    View.SetButtonsEnabled(true);
    Ui.ProcessMessages();
    Ui.ShowMessage("Finish writing capture file " + CaptureFile, TMsgKind::Information);
    View.SetFileText(MakeTimeStampText() + ".avi");
    for (int i = 0; i < 4; ++i)
        View.SetPanel(i, "");
    if (View.GetPlayResult() && PlayFile)
        PlayFile(CaptureFile);
}

void TVidCaptureLogic::RecordingEnded() {
    if (!Capturing)
        return;
    Guard([this] { StopRecording(); });
    View.SetStartCaption("Start");
}

void TVidCaptureLogic::ShowCounts() {
    int64_t frame = 0, dropped = 0, elapsedMs = 0;
    if (!Capturing || !Control.GetCaptureCounts(frame, dropped, elapsedMs))
        return;
    View.SetPanel(0, FormatTimeText(elapsedMs / 1000.0L));
    View.SetPanel(1, "Frame:" + std::to_string(frame));
    View.SetPanel(2, "Dropped:" + std::to_string(dropped));
}

// ---- Window -------------------------------------------------------------------------------------

namespace {

// The capture control as the window's logic sees it.
class TVideoCapControl : public ICaptureControl {
public:
    explicit TVideoCapControl(TVideoCap& cap) : Cap(cap) {}
    std::vector<std::string> GetDriverList() const override { return Cap.GetDriverList(); }
    int GetDriverIndex() const override { return Cap.GetDriverIndex(); }
    void SetDriverIndex(int index) override { Cap.SetDriverIndex(index); }
    bool HasDriverName() const override { return Cap.HasDriverName(); }
    bool GetDriverOpen() const override { return Cap.GetDriverOpen(); }
    void SetDriverOpen(bool open) override { Cap.SetDriverOpen(open); }
    void SetVideoPreview(bool on) override { Cap.SetVideoPreview(on); }
    bool DlgVideoFormat() override { return Cap.DlgVideoFormat(); }
    bool DlgVideoCompression() override { return Cap.DlgVideoCompression(); }
    uint16_t GetFrameRate() const override { return Cap.GetFrameRate(); }
    void SetFrameRate(uint16_t fps) override { Cap.SetFrameRate(fps); }
    bool GetCapAudio() const override { return Cap.CapAudio; }
    void SetCapAudio(bool on) override { Cap.CapAudio = on; }
    void SetCapTimeLimit(uint16_t seconds) override { Cap.CapTimeLimit = seconds; }
    void GetVideoFormat(TBitmapInfoHeader& header) override { Cap.GetVideoFormat(header); }
    void SetVideoFormat(const TBitmapInfoHeader& header) override { Cap.SetVideoFormat(header); }
    void SetVideoFileName(const std::string& fileName) override { Cap.VideoFileName = fileName; }
    bool StartCapture() override { return Cap.StartCapture(); }
    bool StopCapture() override { return Cap.StopCapture(); }
    bool GetCaptureCounts(int64_t& frame, int64_t& dropped, int64_t& elapsedMs) override {
        return Cap.GetCaptureCounts(frame, dropped, elapsedMs);
    }

private:
    TVideoCap& Cap;
};

} // namespace

TVidCapture::TVidCapture(IUiServices& ui, QWidget* parent, TCaptureDrivers* drivers)
    : QDialog(parent), Ui(ui) {
    setWindowTitle(QStringLiteral("Analog video capture"));
    VideoCap1 = new TVideoCap(ui, nullptr, drivers);
    Control = std::make_unique<TVideoCapControl>(*VideoCap1);
    FLogic = std::make_unique<TVidCaptureLogic>(*Control, static_cast<IVidCaptureView&>(*this), ui);
    // The recording is handed to the desktop's player, and the user hears when it has none.
    FLogic->PlayFile = [this](const std::string& f) {
        OpenOrTell(Ui, this, f, "Can not play " + f);
    };
    BuildControls();
    // The control as the form sets it up.
    VideoCap1->SetPreviewRate(12);
    VideoCap1->SetFrameRate(12);
    VideoCap1->CapAudio = true;
    VideoCap1->SetCapIndexSize(0);
    ListenToRecording();
    FLogic->FormCreate();
}

TVidCapture::~TVidCapture() {
    // Stops a recording and lets the driver go before any control does.
    VideoCap1->SetDriverIndex(-1);
}

void TVidCapture::ListenToRecording() {
    std::weak_ptr<bool> alive = Alive;
    VideoCap1->SetOnVideoStream(
        [this, alive, pending = CountsPending](TVideoCap&, const TVideoHdr&) {
            // Each recorded frame, on the worker: the counts are read and shown on the GUI
            // thread, one update in flight at a time.
            if (pending->exchange(true))
                return;
            Ui.PostToGui([this, alive, pending] {
                *pending = false;
                if (alive.lock())
                    FLogic->ShowCounts();
            });
        });
    VideoCap1->SetOnStatusCallback([this, alive](TVideoCap&, int id, const std::string&) {
        if (id == CapStatusEnd)
            Ui.PostToGui([this, alive] {
                if (alive.lock())
                    FLogic->RecordingEnded();
            });
    });
}

QVBoxLayout* TVidCapture::BuildRightColumn() {
    auto* right = new QVBoxLayout;
    BtDriver = new QPushButton(QStringLiteral("Video Driver..."), this);
    Btformat = new QPushButton(QStringLiteral("Video Format..."), this);
    BTCompress = new QPushButton(QStringLiteral("Compression..."), this);
    // No button is the default: Enter in the file name or the rate must not open a driver dialog,
    // which would end a running recording.
    for (QPushButton* b : {BtDriver, Btformat, BTCompress}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        right->addWidget(b);
    }
    auto* fpsGroup = new QGroupBox(QStringLiteral("Output framerate:"), this);
    auto* fpsLayout = new QVBoxLayout(fpsGroup);
    seFPS = new QSpinBox(fpsGroup);
    seFPS->setRange(1, 60);
    // The arrows only: no typing.
    if (auto* edit = seFPS->findChild<QLineEdit*>())
        edit->setReadOnly(true);
    fpsLayout->addWidget(seFPS);
    right->addWidget(fpsGroup);
    auto* fileGroup = new QGroupBox(QStringLiteral("Output filename:"), this);
    auto* fileLayout = new QVBoxLayout(fileGroup);
    EdFile = new QLineEdit(QStringLiteral("Video.avi"), fileGroup);
    fileLayout->addWidget(EdFile);
    right->addWidget(fileGroup);
    cbPlayResult = new QCheckBox(QStringLiteral("Play result"), this);
    cbRecordAudio = new QCheckBox(QStringLiteral("Include audio"), this);
    cbPlayResult->setChecked(true);
    cbRecordAudio->setChecked(true);
    right->addWidget(cbPlayResult);
    right->addWidget(cbRecordAudio);
    sbStart = new QToolButton(this);
    sbStart->setText(QStringLiteral("Start"));
    QFont startFont = sbStart->font();
    startFont.setBold(true);
    sbStart->setFont(startFont);
    QPalette pal = sbStart->palette();
    pal.setColor(QPalette::ButtonText, Qt::blue);
    sbStart->setPalette(pal);
    right->addWidget(sbStart);
    right->addStretch(1);
    return right;
}

void TVidCapture::BuildControls() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* body = new QHBoxLayout;
    outer->addLayout(body, 1);

    auto* left = new QVBoxLayout;
    VideoCap1->setObjectName(QStringLiteral("VideoCap1"));
    Paint(VideoCap1, PictureBlue);
    VideoCap1->setMinimumSize(320, 240);
    PNoAvailable =
        new QLabel(QStringLiteral("   Video capture driver is not available"), VideoCap1);
    Paint(PNoAvailable, PictureBlue, Qt::yellow);
    QFont bold = PNoAvailable->font();
    bold.setBold(true);
    PNoAvailable->setFont(bold);
    PNoAvailable->setMinimumHeight(24);
    PNoAvailable->hide();
    // Across the top of the picture, however wide the window is.
    auto* bannerLayout = new QVBoxLayout(VideoCap1);
    bannerLayout->setContentsMargins(0, 0, 0, 0);
    bannerLayout->addWidget(PNoAvailable);
    bannerLayout->addStretch(1);
    left->addWidget(VideoCap1, 1);
    pButtons = new QWidget(this);
    pButtons->setMinimumHeight(8);
    left->addWidget(pButtons);
    body->addLayout(left, 1);

    body->addLayout(BuildRightColumn());

    StatusBar1 = new QStatusBar(this);
    const int widths[4] = {120, 100, 100, 50};
    for (int i = 0; i < 4; ++i) {
        StatusPanels[i] = new QLabel(StatusBar1);
        StatusPanels[i]->setMinimumWidth(widths[i]);
        StatusBar1->addWidget(StatusPanels[i], i == 3 ? 1 : 0);
    }
    outer->addWidget(StatusBar1);

    ConnectHandlers();
}

void TVidCapture::ConnectHandlers() {
    connect(BtDriver, &QPushButton::clicked, this, [this] { FLogic->BtDriverClick(); });
    connect(Btformat, &QPushButton::clicked, this, [this] { FLogic->BtFormatClick(); });
    connect(BTCompress, &QPushButton::clicked, this, [this] { FLogic->BTCompressClick(); });
    connect(seFPS, &QSpinBox::valueChanged, this, [this](int v) { FLogic->seFPSChange(v); });
    connect(cbRecordAudio, &QCheckBox::toggled, this,
            [this](bool on) { FLogic->cbRecordAudioClick(on); });
    connect(sbStart, &QToolButton::clicked, this, [this] { FLogic->sbStartClick(); });
}

void TVidCapture::ShowModal() {
    RunModal(*this, ModalScript);
}

void TVidCapture::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FLogic->FormShow();
}

void TVidCapture::done(int result) {
    FLogic->FormClose();
    QDialog::done(result);
}

std::string TVidCapture::GetFileText() const {
    return EdFile->text().toStdString();
}
void TVidCapture::SetFileText(const std::string& text) {
    EdFile->setText(QString::fromStdString(text));
}
void TVidCapture::SetPanel(int index, const std::string& text) {
    StatusPanels[index]->setText(QString::fromStdString(text));
}
void TVidCapture::SetButtonsEnabled(bool enabled) {
    pButtons->setEnabled(enabled);
}
void TVidCapture::SetStartCaption(const std::string& caption) {
    sbStart->setText(QString::fromStdString(caption));
}
void TVidCapture::SetBannerVisible(bool visible) {
    PNoAvailable->setVisible(visible);
    if (visible)
        PNoAvailable->raise();
}
bool TVidCapture::GetPlayResult() const {
    return cbPlayResult->isChecked();
}
void TVidCapture::SetFps(int fps) {
    seFPS->setValue(fps);
}
void TVidCapture::SetRecordAudio(bool on) {
    cbRecordAudio->setChecked(on);
}
int TVidCapture::ChooseDriver(const std::vector<std::string>& drivers, int selected) {
    return TDlgCapDrvSelect::Choose(this, "Capture Driver", drivers, selected);
}
