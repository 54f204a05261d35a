#include "MyExportProgress.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "IUiServices.h"
#include "MyAVICompress.h"
#include "MyAudioCodec.h"
#include "MyCommonParams.h"
#include "MyCommonServices.h"
#include "MyMsgDlg.h"
#include "MyUiServices.h"
#include "MyWMFBase.h"

namespace {

const char* const SettingsSection = "Export progress";
constexpr Extended MsPerDay = 86400000.0L;
// The labels name the file and the compression on this many frames at the start of a range.
constexpr int32_t NamedFrames = 5;
constexpr int32_t EstimateEvery = 50;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

// ---- TExportProgressModel -----------------------------------------------------------------------

TExportProgressModel::TExportProgressModel(TProjectNode& project, IUiServices& ui)
    : IsInUse(IsFileInUse), Project(project), Ui(ui) {}

std::string TExportProgressModel::ProposedName(const std::string& fileName,
                                               const std::string& ext) {
    // A name never given proposes nothing, not a bare extension.
    if (fileName.empty())
        return {};
    std::string base = fileName;
    if (base.size() >= 4 && base[base.size() - 4] == '.')
        base.resize(base.size() - 4);
    return base + "." + ext;
}

std::string TExportProgressModel::OutputExtension(const TProjectNode& project) {
    if (!project.IsWMVOutput())
        return "avi";
    std::string ext;
    TWMFBase::GetProfileExtension(project.WMProfile, ext);
    return ext;
}

bool TExportProgressModel::Prepare(std::string& fileName, const std::string& ext) {
    FileName = fileName;
    UseRange = false;
    if (Project.Pegs->GetCount() == 2 && !AskRange())
        return false;
    if (!AskFile(ext))
        return false;
    fileName = FileName;
    return true;
}

bool TExportProgressModel::AskRange() {
    const Extended fps = Project.GetFPS();
    const int32_t a = Round(fps * Project.Pegs->GetItem(0)->GetTime());
    const int32_t b = Round(fps * Project.Pegs->GetItem(1)->GetTime());
    // Stop points set from right to left still mean the range between them.
    RangeFirst = std::min(a, b);
    RangeLast = std::max(a, b);
    const TMsgResult r = Ui.Ask("Project range is set between frame " + std::to_string(RangeFirst) +
                                    " and " + std::to_string(RangeLast) + ".\r\n" +
                                    "Write output according to this range?\r\n" +
                                    "Press [ No ] for not using the range.",
                                TMsgButtons::YesNoCancel, TMsgKind::Confirmation);
    if (r == TMsgResult::No)
        return true;
    if (r != TMsgResult::Yes)
        return false;
    if (RangeLast <= RangeFirst) {
        Ui.ShowMessage("The range between the stop points holds no frame to export",
                       TMsgKind::Error);
        return false;
    }
    UseRange = true;
    return true;
}

bool TExportProgressModel::AskFile(const std::string& ext) {
    const std::vector<TFileFilter> filters = {{"Targeted format (*." + ext + ")", "*." + ext},
                                              {"all files (*.*)", "*"}};
    std::string start = ProposedName(FileName, ext);
    for (;;) {
        const std::optional<std::string> name =
            Ui.SaveFileDialog("Enter output filename", filters, start, ext);
        if (!name)
            return false;
        FileName = *name;
        start = *name;
        if (IsInUse(FileName)) {
            Ui.ShowMessage("Error: File " + FileName + " is in use", TMsgKind::Error);
            continue;
        }
        if (FileExists(FileName) &&
            Ui.Ask("File " + FileName + " exists. Overwrite?", TMsgButtons::OKCancel,
                   TMsgKind::Confirmation) != TMsgResult::OK)
            continue;
        return true;
    }
}

void TExportProgressModel::BeginExport() {
    if (UseRange) {
        First = RangeFirst;
        Count = RangeLast - RangeFirst;
    } else {
        First = 0;
        Count = Project.GetFrameCount();
    }
    Total = std::max(0, std::min(Count, Project.GetFrameCount() - First - 1) + 1);
    Started = false;
}

TExportFrameTexts TExportProgressModel::FrameProgress(int32_t frame) {
    TExportFrameTexts t;
    const int32_t n = frame - First;
    t.Position = n;
    t.Counter = std::to_string(n + 1) + " of " + std::to_string(Total);
    if (n < NamedFrames) {
        t.Names = true;
        t.FileLabel = "Output filename: " + FileName;
        if (Project.IsWMVOutput()) {
            t.VideoLabel = "Format: Windows media format";
        } else {
            t.VideoLabel = "Video compression: " + Project.GetAviCompress().GetDescription();
            std::string codec;
            Project.GetAudioCodec().GetCodecName(static_cast<uint32_t>(Project.AudioMode), codec);
            t.AudioLabel = "Audio compression: " + codec;
        }
    }
    if (!Started) {
        Started = true;
        StartTick = Ui.TickCount();
        return t;
    }
    if (n < 2 || n > Total)
        return t;
    const int64_t elapsed = Ui.TickCount() - StartTick;
    if (elapsed == 0)
        return t;
    if (n % EstimateEvery == 0 && n > 40) {
        const Extended remaining = static_cast<Extended>(Total - n) * elapsed / n;
        t.Estimate = true;
        t.EstimateText = "Estimated time left: " + FormatDurationInWords(remaining / MsPerDay);
    }
    t.Preview = true;
    return t;
}

// ---- TExportProgress ----------------------------------------------------------------------------

std::function<int(TExportProgress&)> TExportProgress::ExecHook;
std::function<void(const std::string&)> TExportProgress::PlayHook;

TExportProgress::TExportProgress(TProjectNode& project, IUiServices& ui, QWidget* parent)
    : QDialog(parent), Model(project, ui), Project(project), Ui(ui) {
    setWindowTitle(QStringLiteral("Export progress"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    Label1 = new QLabel(QStringLiteral("Frame:"), this);
    Label5 = new QLabel(this);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, 100);
    lbFileName = new QLabel(this);
    lbVideoComp = new QLabel(this);
    lbAudioComp = new QLabel(this);
    Label2 = new QLabel(QStringLiteral("Estimated time left:..."), this);
    Label2->setStyleSheet(QStringLiteral("color: blue"));
    cbShowImages = new QCheckBox(QStringLiteral("Show images"), this);
    cbPlayResult = new QCheckBox(QStringLiteral("Play result"), this);
    BitBtn1 = new QPushButton(QStringLiteral("Stop"), this);
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);

    auto* counter = new QHBoxLayout;
    counter->addWidget(Label1);
    counter->addWidget(Label5, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(cbShowImages);
    bottom->addWidget(cbPlayResult);
    bottom->addStretch(1);
    bottom->addWidget(BitBtn1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(counter);
    layout->addWidget(ProgressBar1);
    for (QLabel* l : {lbFileName, lbVideoComp, lbAudioComp, Label2})
        layout->addWidget(l);
    layout->addLayout(bottom);

    const bool show = Settings ? Settings->ReadBool(SettingsSection, "Show Images", true) : true;
    const bool play = Settings ? Settings->ReadBool(SettingsSection, "Play result", true) : true;
    cbShowImages->setChecked(show);
    cbPlayResult->setChecked(play);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    FixAtLeast(this, {DesignWidth, DesignHeight});
}

TExportProgress::~TExportProgress() {
    Timer1->stop();
    if (Settings) {
        Settings->WriteBool(SettingsSection, "Show Images", cbShowImages->isChecked());
        Settings->WriteBool(SettingsSection, "Play result", cbPlayResult->isChecked());
    }
    // A stopped or failed export is not worth playing, even when the loop called it a success.
    if (Success && !Stopped && cbPlayResult->isChecked()) {
        if (PlayHook)
            PlayHook(Model.FileName);
        else
            // The window is going: the answer of the player's opener is heard by its owner.
            OpenOrTell(Ui, parent(), Model.FileName, "Can not play " + Model.FileName);
    }
}

bool TExportProgress::Prepare(std::string& fileName, TFrameCallback onReport,
                              TPreviewCallback onPreview, const std::string& ext) {
    OnReport = std::move(onReport);
    OnPreview = std::move(onPreview);
    return Model.Prepare(fileName, ext);
}

int TExportProgress::Execute() {
    return ExecHook ? ExecHook(*this) : exec();
}

void TExportProgress::showEvent(QShowEvent* event) {
    // The file label will name the chosen file whole, as far as the screen allows.
    const QFontMetrics fm(lbFileName->font());
    const int text = fm.horizontalAdvance(Q("Output filename: " + Model.FileName));
    const int margins = layout()->contentsMargins().left() + layout()->contentsMargins().right();
    const int screen = this->screen() ? this->screen()->availableGeometry().width() * 9 / 10 : 0;
    FixAtLeast(this, {std::max(DesignWidth, std::min(text + margins, screen)), DesignHeight});
    CentreOnScreen(this);
    QDialog::showEvent(event);
    Timer1->start();
}

void TExportProgress::Timer1Timer() {
    Timer1->stop();
    // A window closed before its start time never starts the export.
    if (!isVisible())
        return;
    RunExport();
}

void TExportProgress::RunExport() {
    Success = false;
    Model.BeginExport();
    ProgressBar1->setRange(0, std::max(Model.Total, 1));
    try {
        Success = Project.ExportMovie(
            Model.First, Model.Count,
            [this](int32_t frame, int32_t reserved, TBitmap* bitmap) {
                FrameProgress(frame, reserved, bitmap);
            },
            [this](TFrameReport& r) {
                if (OnReport)
                    OnReport(r);
            },
            Model.FileName);
    } catch (const std::exception& e) {
        // A compressor that fails mid-way ends the export; the window must still close.
        Ui.ShowMessage(e.what(), TMsgKind::Error);
        Success = false;
    }
    // The loop calls an aborted export a success; the window must not play it.
    if (Project.Abort)
        Stopped = true;
    close();
}

void TExportProgress::FrameProgress(int32_t frame, int32_t, TBitmap* bitmap) {
    const TExportFrameTexts t = Model.FrameProgress(frame);
    // Texts that stay the same repaint nothing; these change only a few times per export.
    if (t.Names) {
        lbFileName->setText(Q(t.FileLabel));
        lbVideoComp->setText(Q(t.VideoLabel));
        lbAudioComp->setText(Q(t.AudioLabel));
    }
    if (t.Estimate)
        Label2->setText(Q(t.EstimateText));
    // The counter, the bar and the picture follow every frame.
    ProgressBar1->setValue(std::clamp(t.Position, 0, ProgressBar1->maximum()));
    Label5->setText(Q(t.Counter));
    if (t.Preview && OnPreview && cbShowImages->isChecked())
        OnPreview(bitmap);
}

void TExportProgress::BitBtn1Click() {
    if (Ui.Ask("Stop the export and store the exported file as " + Model.FileName + "?",
               TMsgButtons::OKCancel, TMsgKind::Confirmation) != TMsgResult::OK)
        return;
    Project.Stop();
    Stopped = true;
    close();
}

void TExportProgress::reject() {
    BitBtn1Click();
}

void TExportProgress::closeEvent(QCloseEvent* event) {
    // While the loop runs a close only stops it; the loop's end closes the window.
    if (!Project.Stop()) {
        Stopped = true;
        event->ignore();
        return;
    }
    Timer1->stop();
    event->accept();
    done(Success ? QDialog::Accepted : QDialog::Rejected);
}
