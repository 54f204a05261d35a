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

TVidCapture::TVidCapture(IUiServices& ui, QWidget* parent, TCaptureDrivers* drivers)
    : QDialog(parent), Ui(ui) {
    setWindowTitle(QStringLiteral("Analog video capture"));
    VideoCap1 = new TVideoCap(ui, nullptr, drivers);
    BuildControls();
    FormCreate();
}

TVidCapture::~TVidCapture() {
    // Stops a recording and lets the driver go before any control does.
    VideoCap1->SetDriverIndex(-1);
}

QVBoxLayout* TVidCapture::BuildRightColumn() {
    auto* right = new QVBoxLayout;
    BtDriver = new QPushButton(QStringLiteral("Video Driver..."), this);
    Btformat = new QPushButton(QStringLiteral("Video Format..."), this);
    BTCompress = new QPushButton(QStringLiteral("Compression..."), this);
    for (QPushButton* b : {BtDriver, Btformat, BTCompress})
        right->addWidget(b);
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
    PNoAvailable->setGeometry(0, 0, 320, 24);
    PNoAvailable->hide();
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
    connect(BtDriver, &QPushButton::clicked, this, [this] { Guard([this] { BtDriverClick(); }); });
    connect(Btformat, &QPushButton::clicked, this, [this] { Guard([this] { BtFormatClick(); }); });
    connect(BTCompress, &QPushButton::clicked, this,
            [this] { Guard([this] { BTCompressClick(); }); });
    connect(seFPS, &QSpinBox::valueChanged, this, [this](int v) { seFPSChange(v); });
    connect(cbRecordAudio, &QCheckBox::toggled, this, [this](bool on) { cbRecordAudioClick(on); });
    connect(sbStart, &QToolButton::clicked, this, [this] { sbStartClick(); });
}

void TVidCapture::FormCreate() {
    VideoCap1->SetPreviewRate(12);
    VideoCap1->SetFrameRate(12);
    VideoCap1->CapAudio = true;
    VideoCap1->SetCapIndexSize(0);
    VideoCap1->SetOnVideoStream([this, alive = std::weak_ptr<bool>(Alive),
                                 pending = CountsPending](TVideoCap&, const TVideoHdr&) {
        // Each recorded frame, on the worker: the counts are read and shown on the GUI thread,
        // one update in flight at a time.
        if (pending->exchange(true))
            return;
        Ui.PostToGui([this, alive, pending] {
            *pending = false;
            if (alive.lock())
                ShowCounts();
        });
    });
    VideoCap1->SetOnStatusCallback(
        [this, alive = std::weak_ptr<bool>(Alive)](TVideoCap&, int id, const std::string&) {
            // A recording that ended by itself (time limit, lost driver) ends here as by Stop.
            if (id == CapStatusEnd)
                Ui.PostToGui([this, alive] {
                    if (alive.lock() && Capturing)
                        Guard([this] {
                            StopRecording();
                            sbStart->setText(QStringLiteral("Start"));
                        });
                });
        });
    Capturing = false;
    VideoCap1->SetDriverIndex(0);
    VideoCap1->CapTimeLimit = 65000;
    if (VideoCap1->HasDriverName())
        Guard([this] {
            VideoCap1->SetDriverOpen(true);
            VideoCap1->SetVideoPreview(true);
        });
    EdFile->setText(QString::fromStdString(MakeTimeStampText() + ".avi"));
    seFPS->setValue(VideoCap1->GetFrameRate());
    cbRecordAudio->setChecked(VideoCap1->CapAudio);
}

void TVidCapture::ShowModal() {
    if (ModalScript) {
        show();
        ModalScript(*this);
        close();
        return;
    }
    exec();
}

void TVidCapture::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ShowBanner();
}

void TVidCapture::ShowBanner() {
    // Also shown when the named driver would not open (in use by another program).
    PNoAvailable->setVisible(!VideoCap1->HasDriverName() || !VideoCap1->GetDriverOpen());
}

void TVidCapture::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TVidCapture::FormClose() {
    if (Capturing) {
        Capturing = false;
        VideoCap1->StopCapture();
        pButtons->setEnabled(true);
        sbStart->setText(QStringLiteral("Start"));
    }
}

void TVidCapture::Guard(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const Exception& e) {
        Ui.ShowMessage(e.GetMessage(), TMsgKind::Error);
    }
}

void TVidCapture::BtDriverClick() {
    const std::vector<std::string> list = VideoCap1->GetDriverList();
    VideoCap1->SetDriverOpen(false);
    const int index = VideoCap1->GetDriverIndex();
    const int chosen =
        TDlgCapDrvSelect::Choose(this, "Capture Driver", list, index < 0 ? 0 : index);
    if (chosen >= 0)
        VideoCap1->SetDriverIndex(chosen);
    try {
        VideoCap1->SetDriverOpen(true);
        VideoCap1->SetVideoPreview(VideoCap1->GetDriverOpen());
    } catch (...) {
        ShowBanner();
        throw;
    }
    ShowBanner();
}

void TVidCapture::BtFormatClick() {
    VideoCap1->DlgVideoFormat();
    if (VideoCap1->GetDriverOpen())
        VideoCap1->SetVideoPreview(true);
}

void TVidCapture::BTCompressClick() {
    VideoCap1->DlgVideoCompression();
}

void TVidCapture::seFPSChange(int value) {
    VideoCap1->SetFrameRate(uint16_t(value));
}

void TVidCapture::cbRecordAudioClick(bool checked) {
    VideoCap1->CapAudio = checked;
}

void TVidCapture::sbStartClick() {
    Guard([this] {
        if (Capturing)
            StopRecording();
        else
            StartRecording();
    });
    // The caption says what the button will do next.
    sbStart->setText(Capturing ? QStringLiteral("Stop") : QStringLiteral("Start"));
}

void TVidCapture::StartRecording() {
    const std::string folder =
        CaptureFolder.empty() ? BesideProgramFolder("Capture") : CaptureFolder;
    const std::string file = folder + "/" + EdFile->text().toStdString();
    if (FileExists(file) && !RecycleFile(file)) {
        Ui.ShowMessage(file + " is in use.", TMsgKind::Error);
        return;
    }
    TBitmapInfoHeader header;
    VideoCap1->GetVideoFormat(header);
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    VideoCap1->SetVideoFormat(header);
    VideoCap1->VideoFileName = file;
    if (!VideoCap1->StartCapture())
        return;
    pButtons->setEnabled(false);
    Ui.ProcessMessages();
    Capturing = true;
    CaptureFile = file;
    StatusPanels[3]->setText(QString::fromStdString(file));
}

void TVidCapture::StopRecording() {
    Capturing = false;
    VideoCap1->StopCapture();
    pButtons->setEnabled(true);
    Ui.ProcessMessages();
    Ui.ShowMessage("Finish writing capture file " + CaptureFile, TMsgKind::Information);
    EdFile->setText(QString::fromStdString(MakeTimeStampText() + ".avi"));
    for (QLabel* panel : StatusPanels)
        panel->clear();
    if (cbPlayResult->isChecked())
        PlayInMediaPlayer(CaptureFile);
}

void TVidCapture::ShowCounts() {
    int64_t frame = 0, dropped = 0, elapsedMs = 0;
    if (!Capturing || !VideoCap1->GetCaptureCounts(frame, dropped, elapsedMs))
        return;
    StatusPanels[0]->setText(QString::fromStdString(FormatTimeText(elapsedMs / 1000.0L)));
    StatusPanels[1]->setText(QStringLiteral("Frame:") + QString::number(frame));
    StatusPanels[2]->setText(QStringLiteral("Dropped:") + QString::number(dropped));
}
