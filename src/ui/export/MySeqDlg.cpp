#include "MySeqDlg.h"
#include "MyDialogButtons.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstring>
#include <filesystem>

#include "IUiServices.h"
#include "MyAppLibs.h"
#include "MyCommonParams.h"
#include "MyCommonServices.h"
#include "MyMsgDlg.h"
#include "MyPreviewImage.h"
#include "MyProjNode.h"
#include "MyUiServices.h"

namespace {

const char* const Section = "Export Bitmap";
// The property a control keeps its state in while the dialog's controls are off.
const char* const WasOffProperty = "seqWasOff";

std::string Trimmed(const QLineEdit* edit) {
    return TrimText(edit->text().toStdString());
}

} // namespace

std::string FolderBesideProgram(const std::string& name) {
    std::string folder;
    NormalizeFolderPath(BesideProgramFolder(name), folder);
    return folder;
}

// ---- TSeqDlgLogic -------------------------------------------------------------------------------

std::string TSeqDlgLogic::CleanFolderName(const std::string& text, int& removed) {
    std::string result;
    removed = 0;
    for (char c : text) {
        if (c != '\0' && std::strchr(RemovedChars, c)) {
            ++removed;
            continue;
        }
        result += c;
    }
    return result;
}

std::string TSeqDlgLogic::CheckNames(const std::string& dir, const std::string& name,
                                     std::string& folder) {
    const std::string d = TrimText(dir);
    if (d.empty())
        return "Output location is empty";
    const std::string n = TrimText(name);
    if (n.empty())
        return "Subdirectory name is empty";
    NormalizeFolderPath(d + "/" + n, folder);
    return {};
}

void TSeqDlgLogic::Start(int32_t framePos, int32_t endFrame, int32_t skip, Extended nowDays) {
    Skip = skip;
    FrameCounter = -1;
    FileCounter = 0;
    Written = 0;
    Expected = std::max(0, endFrame - framePos);
    // The first played frame, then every skip-th one.
    if (skip > 0)
        Expected = (Expected + skip - 1) / skip;
    StartDays = nowDays;
    Ran = true;
    Failed = false;
}

int32_t TSeqDlgLogic::PlayedEnd(TProjectNode& project, int32_t framePos) {
    // Counted against the project, not the timeline's strip, which may run on past its end.
    int32_t end = project.GetFrameCount();
    const Extended fps = project.GetFPS();
    if (fps == 0)
        return end;
    // The playback stops on the next stop point's frame after drawing it.
    if (int32_t stop = 0; project.Pegs->FindStopAfter(framePos, fps, stop))
        end = std::min(end, stop + 1);
    return end;
}

std::string TSeqDlgLogic::NextFileName(int32_t framePos, const std::string& path, bool jpg) {
    ++FrameCounter;
    int64_t number = framePos;
    std::string prefix = "frame";
    if (Skip > 0) {
        // The first played frame is always written, then every Skip-th one.
        if (FrameCounter % Skip != 0)
            return {};
        number = ++FileCounter;
        prefix.clear();
    }
    const int digits = number > 999999 ? 8 : 6;
    return path + prefix + IntToZeroPadded(number, digits) + (jpg ? ".jpg" : ".bmp");
}

std::string TSeqDlgLogic::ProgressText() const {
    return "Files Written: " + std::to_string(Written) + " of " + std::to_string(Expected);
}

std::string TSeqDlgLogic::EstimateText(Extended nowDays) const {
    const Extended left =
        Written > 0 ? (Expected - Written) * (nowDays - StartDays) / Written : Extended(0);
    return "Estimated time left: " + FormatDurationInWords(left);
}

// ---- TSeqDlg ------------------------------------------------------------------------------------

std::function<int(TSeqDlg&)> TSeqDlg::ExecHook;

TSeqDlg::TSeqDlg(IUiServices& ui, QWidget* parent) : QDialog(parent), Ui(ui) {
    OpenFolder = [this](const std::string& folder) {
        // Opened as the dialog closes: its owner hears the opener's answer.
        OpenOrTell(Ui, this->parent(), folder, "Can not open the folder " + folder);
    };
    BuildControls();
    FormCreate();
}

TSeqDlg::~TSeqDlg() {
    FormDestroy();
}

void TSeqDlg::BuildControls() {
    setWindowTitle(QStringLiteral("Export as bitmap sequence"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    auto* grid = new QGridLayout(this);

    auto* gbDir = new QGroupBox(QStringLiteral("Output location"), this);
    auto* dirRow = new QHBoxLayout(gbDir);
    eDir = new QLineEdit(gbDir);
    eDir->setReadOnly(true);
    SpeedButton1 = new QToolButton(gbDir);
    SpeedButton1->setText(QStringLiteral("Set"));
    dirRow->addWidget(eDir, 1);
    dirRow->addWidget(SpeedButton1);
    grid->addWidget(gbDir, 0, 0, 1, 2);

    auto* gbName = new QGroupBox(QStringLiteral("Subdirectory name: "), this);
    auto* nameRow = new QHBoxLayout(gbName);
    eFolderName = new QLineEdit(gbName);
    nameRow->addWidget(eFolderName);
    grid->addWidget(gbName, 1, 0, 1, 2);

    auto* gbFormat = new QGroupBox(QStringLiteral("Output format:"), this);
    auto* formatRow = new QHBoxLayout(gbFormat);
    cbFormat = new QComboBox(gbFormat);
    cbFormat->addItems({QStringLiteral("Compressed (JPG)"), QStringLiteral("Uncompressed (BMP)")});
    cbFormat->setCurrentIndex(0);
    formatRow->addWidget(cbFormat);
    grid->addWidget(gbFormat, 2, 0);

    auto* gbQuality = new QGroupBox(QStringLiteral("Quality:"), this);
    auto* qualityRow = new QHBoxLayout(gbQuality);
    tbCompress = new QSlider(Qt::Horizontal, gbQuality);
    tbCompress->setRange(1, 20);
    tbCompress->setValue(16);
    tbCompress->setPageStep(4);
    qualityRow->addWidget(new QLabel(QStringLiteral("Rough, small"), gbQuality));
    qualityRow->addWidget(tbCompress, 1);
    qualityRow->addWidget(new QLabel(QStringLiteral("Fine, large"), gbQuality));
    grid->addWidget(gbQuality, 2, 1);

    BuildSamplingControls(grid);
    BuildButtons(grid);
    FixAtLeast(this, {DesignWidth, DesignHeight});
}

void TSeqDlg::showEvent(QShowEvent* event) {
    CentreOnScreen(this);
    QDialog::showEvent(event);
}

void TSeqDlg::BuildSamplingControls(QGridLayout* grid) {
    auto* rgSample = new QGroupBox(QStringLiteral("Sample :"), this);
    auto* sampleBox = new QGridLayout(rgSample);
    rbComplete = new QRadioButton(QStringLiteral("complete"), rgSample);
    rbSkip = new QRadioButton(QStringLiteral("Skip every ...                frames"), rgSample);
    rbComplete->setChecked(true);
    seSkip = new QSpinBox(rgSample);
    seSkip->setRange(2, 1000);
    seSkip->setValue(10);
    seSkip->setEnabled(false);
    // Only the arrows change it.
    if (auto* edit = seSkip->findChild<QLineEdit*>())
        edit->setReadOnly(true);
    sampleBox->addWidget(rbComplete, 0, 0);
    sampleBox->addWidget(rbSkip, 1, 0);
    sampleBox->addWidget(seSkip, 1, 1);
    grid->addWidget(rgSample, 3, 0);

    auto* rgStartingPoint = new QGroupBox(QStringLiteral("Starting point "), this);
    auto* startBox = new QVBoxLayout(rgStartingPoint);
    rbFromStart =
        new QRadioButton(QStringLiteral("Begin from the movie starting point"), rgStartingPoint);
    rbFromCurrent =
        new QRadioButton(QStringLiteral("Begin from the current position"), rgStartingPoint);
    startBox->addWidget(rbFromStart);
    startBox->addWidget(rbFromCurrent);
    grid->addWidget(rgStartingPoint, 3, 1);
}

void TSeqDlg::BuildButtons(QGridLayout* grid) {
    cbBack = new QCheckBox(QStringLiteral("Back to current position when finish"), this);
    cbOpenTarget = new QCheckBox(QStringLiteral("Open destination folder when finish"), this);
    cbOpenTarget->setChecked(true);
    grid->addWidget(cbBack, 4, 0, 1, 2);
    grid->addWidget(cbOpenTarget, 5, 0, 1, 2);

    lbProgress = new QLabel(QStringLiteral("Files Written:"), this);
    lbTime = new QLabel(QStringLiteral("Estimated time left:..."), this);
    lbTime->setStyleSheet(QStringLiteral("color: blue"));
    lbProgress->hide();
    lbTime->hide();
    grid->addWidget(lbProgress, 6, 0);
    grid->addWidget(lbTime, 6, 1);

    grid->addLayout(MakeOkCancelRow(this, bOK, bCancel), 7, 0, 1, 2);
    bOK->setDefault(true);

    connect(cbFormat, &QComboBox::currentIndexChanged, this, [this] { rgFormatClick(); });
    connect(rbComplete, &QRadioButton::toggled, this, [this] { rgSampleClick(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(eFolderName, &QLineEdit::textChanged, this, [this] { eFolderNameChange(); });
    connect(bOK, &QPushButton::clicked, this, [this] { bOKClick(); });
    connect(bCancel, &QPushButton::clicked, this, [this] { bCancelClick(); });
}

void TSeqDlg::FormCreate() {
    Logic.StartDays = NowDays();
    std::string dir = Settings ? Settings->ReadString(Section, "Output directory", "") : "";
    if (dir.empty() || !DirectoryExists(dir))
        dir = FolderBesideProgram("Clips");
    eDir->setText(QString::fromStdString(dir));
    const bool fromStart = !Settings || Settings->ReadBool(Section, "From start", true);
    (fromStart ? rbFromStart : rbFromCurrent)->setChecked(true);
    cbBack->setChecked(Settings && Settings->ReadBool(Section, "Back to current", false));
    cbOpenTarget->setChecked(!Settings || Settings->ReadBool(Section, "Open target", true));
    // A new name on every opening.
    eFolderName->setText(QString::fromStdString(MakeTimeStampText()));
}

void TSeqDlg::FormDestroy() {
    if (Settings) {
        Settings->WriteString(Section, "Output directory", eDir->text().toStdString());
        Settings->WriteBool(Section, "From start", rbFromStart->isChecked());
        Settings->WriteBool(Section, "Back to current", cbBack->isChecked());
        Settings->WriteBool(Section, "Open target", cbOpenTarget->isChecked());
    }
    if (!cbOpenTarget->isChecked() || Logic.Failed || !OpenFolder)
        return;
    std::string folder;
    NormalizeFolderPath(eDir->text().toStdString() + eFolderName->text().toStdString(), folder);
    // A cancelled dialog names a folder that was never made.
    if (DirectoryExists(folder))
        OpenFolder(folder);
}

void TSeqDlg::Setup(TSeqExportRec& rec, TPreviewImage* picture, TTimelineSeam& timeline,
                    TProjectNode& project) {
    Rec = &rec;
    Project = &project;
    Picture = picture;
    Timeline = &timeline;
}

int TSeqDlg::Execute() {
    return ExecHook ? ExecHook(*this) : exec();
}

Extended TSeqDlg::NowDays() {
    return static_cast<Extended>(QDateTime::currentMSecsSinceEpoch()) / 86400000;
}

void TSeqDlg::rgFormatClick() {
    tbCompress->setEnabled(cbFormat->currentIndex() == 0);
}

void TSeqDlg::rgSampleClick() {
    seSkip->setEnabled(rbSkip->isChecked());
}

void TSeqDlg::SpeedButton1Click() {
    std::string folder = eDir->text().toStdString();
    if (BrowseForFolder(Ui, folder))
        eDir->setText(QString::fromStdString(folder));
}

void TSeqDlg::eFolderNameChange() {
    int removed = 0;
    const std::string clean =
        TSeqDlgLogic::CleanFolderName(eFolderName->text().toStdString(), removed);
    if (removed == 0)
        return;
    const int cursor = eFolderName->cursorPosition();
    eFolderName->setText(QString::fromStdString(clean));
    eFolderName->setCursorPosition(std::max(0, cursor - removed));
    Ui.Beep();
}

void TSeqDlg::bOKClick() {
    if (Running() || !Rec || !Timeline || !Project)
        return;
    std::string folder;
    const std::string error = TSeqDlgLogic::CheckNames(Trimmed(eDir), Trimmed(eFolderName), folder);
    if (!error.empty()) {
        Ui.ShowMessage(error, TMsgKind::Warning);
        return;
    }
    if (!DirectoryExists(folder)) {
        if (Ui.Ask("Folder " + folder + " does not exists. Create first?", TMsgButtons::OKCancel,
                   TMsgKind::Confirmation) != TMsgResult::OK)
            return;
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (!DirectoryExists(folder)) {
            Ui.ShowMessage("Can not write " + folder, TMsgKind::Error);
            return;
        }
    }
    Logic.SavedPos = Timeline->GetFramePos();
    if (rbFromStart->isChecked())
        Timeline->SetFramePos(0);
    lbProgress->show();
    const int32_t skip = seSkip->isEnabled() ? seSkip->value() : 0;
    const int32_t from = Timeline->GetFramePos();
    Logic.Start(from, TSeqDlgLogic::PlayedEnd(*Project, from), skip, NowDays());
    Rec->OnFrame = [this](QObject*, int32_t frame) { WriteFrameFile(frame); };
    Rec->OnDone = [this](QObject*) { ExportFinished(); };
    Rec->Path = folder;
    Rec->JPG = cbFormat->currentIndex() == 0;
    Rec->Skip = skip;
    bCancel->setText(QStringLiteral("Stop"));
    EnableControls(this, false);
    bCancel->setEnabled(true);
    if (Rec->OnRun) {
        // The pictures go into files, which never carry the motion path of the curve editor.
        TProjectNode::TWritingPictures writing(*Project);
        Rec->OnRun(this); // the playback runs now
    }
    EnableControls(this, true);
    // Also when no playback ran at all (a project without frames): the dialog is done with it.
    if (Running())
        ExportFinished();
}

void TSeqDlg::bCancelClick() {
    if (Running()) {
        if (Rec->OnRun)
            Rec->OnRun(nullptr);
        return;
    }
    if (bCancel->text() == QStringLiteral("Cancel"))
        done(QDialog::Rejected);
}

void TSeqDlg::WriteFrameFile(int32_t frame) {
    if (!Running() || !Picture)
        return;
    // Named by the frame played, not by the cursor, which stops at the end of the timeline.
    const std::string name = Logic.NextFileName(frame, Rec->Path, Rec->JPG);
    if (name.empty())
        return;
    std::error_code ec;
    if (!DirectoryExists(Rec->Path))
        std::filesystem::create_directories(Rec->Path, ec);
    const TBitmap& picture = Picture->Picture();
    const bool ok =
        Rec->JPG
            ? Writer.SaveJpeg(picture, TSeqDlgLogic::QualityOfPosition(tbCompress->value()), name)
            : Writer.SaveBmp(picture, name);
    if (!ok) {
        // The export ends here; what was written stays.
        Logic.Failed = true;
        if (Rec->OnRun)
            Rec->OnRun(nullptr);
        Ui.ShowMessage("Can not write " + name + " (" + Writer.ErrorText() + ")", TMsgKind::Error);
        return;
    }
    Logic.FileWritten();
    lbProgress->setText(QString::fromStdString(Logic.ProgressText()));
    if (Logic.EstimateShown()) {
        lbTime->setText(QString::fromStdString(Logic.EstimateText(NowDays())));
        lbTime->show();
    }
    Ui.ProcessMessages();
}

void TSeqDlg::ExportFinished() {
    if (!Rec)
        return;
    Rec->OnFrame = nullptr;
    Rec->OnDone = nullptr;
    bCancel->setText(QStringLiteral("Cancel"));
    done(QDialog::Accepted);
}

void TSeqDlg::done(int result) {
    if (Running()) {
        bCancelClick();
        return;
    }
    // Only an export moved the cursor; a plain Cancel leaves it where the user put it.
    if (Logic.Ran && cbBack->isChecked() && Timeline && Timeline->GetFramePos() != Logic.SavedPos)
        Timeline->SetFramePos(Logic.SavedPos);
    QDialog::done(result);
}

void TSeqDlg::EnableControls(QWidget* parent, bool enable) {
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        // Labels and the tool buttons ("Set") keep their state, as graphic controls do; a
        // container is never switched itself, or it would switch those off with it.
        if (!w || qobject_cast<QLabel*>(w) || qobject_cast<QToolButton*>(w))
            continue;
        const bool container =
            qobject_cast<QGroupBox*>(w) || !std::strcmp(w->metaObject()->className(), "QWidget");
        if (container) {
            EnableControls(w, enable);
            continue;
        }
        if (!enable) {
            // Its own switch, not the one it inherits from a container switched off before.
            w->setProperty(WasOffProperty, w->testAttribute(Qt::WA_Disabled));
            w->setEnabled(false);
        } else if (!w->property(WasOffProperty).toBool()) {
            w->setEnabled(true);
        }
    }
}
