#include "MyPropDlg.h"
#include "MyDialogButtons.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "IUiServices.h"
#include "MyAVICompress.h"
#include "MyAudioCodec.h"
#include "MyBlankNode.h"
#include "MyClipNode.h"
#include "MyCommonServices.h"
#include "MyEffectNodes.h"
#include "MyMovieRangeDlg.h"
#include "MyProjNode.h"
#include "MySoundNode.h"
#include "MyUiServices.h"
#include "MyWarpNode.h"

std::function<int(TPropDlg&)> TPropDlg::ExecHook;

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string S(const QString& s) {
    return s.toStdString();
}

std::string FileNameOnly(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string GeneralText(Extended v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.12Lg", v);
    return buf;
}

QSpinBox* MakeSpin(QWidget* parent, int lo, int hi, int step) {
    auto* s = new QSpinBox(parent);
    s->setRange(lo, hi);
    s->setSingleStep(step);
    return s;
}

std::vector<std::string> MemoLines(const QPlainTextEdit* memo) {
    std::vector<std::string> lines;
    const QString text = memo->toPlainText();
    if (text.isEmpty())
        return lines;
    for (const QString& l : text.split(QLatin1Char('\n')))
        lines.push_back(S(l));
    return lines;
}

void SetMemoLines(QPlainTextEdit* memo, const std::vector<std::string>& lines) {
    QStringList list;
    for (const std::string& l : lines)
        list << Q(l);
    memo->setPlainText(list.join(QLatin1Char('\n')));
}

} // namespace

TPropDlg::TPropDlg(IUiServices* ui, QWidget* parent) : QDialog(parent), Ui(ui) {
    setWindowTitle(QStringLiteral("Property"));
    auto* main = new QVBoxLayout(this);
    auto* top = new QFormLayout;
    eLabel = new QLineEdit(this);
    mDescription = new QPlainTextEdit(this);
    mDescription->setMaximumHeight(60);
    // Tab leaves the field like any other; a description has no use for tab characters.
    mDescription->setTabChangesFocus(true);
    top->addRow(QStringLiteral("Label"), eLabel);
    top->addRow(QStringLiteral("Description"), mDescription);
    main->addLayout(top);
    Notebook = new QStackedWidget(this);
    main->addWidget(Notebook, 1);

    mMovieAbout = new QPlainTextEdit(this);
    mBitmapAbout = new QPlainTextEdit(this);
    Notebook->addWidget(BuildProjectPage());
    auto* folder = new QWidget(Notebook);
    auto* folderLayout = new QFormLayout(folder);
    eFolderCaption = new QLineEdit(folder);
    folderLayout->addRow(QStringLiteral("Caption"), eFolderCaption);
    Notebook->addWidget(folder);
    Notebook->addWidget(BuildMoviePage());
    Notebook->addWidget(BuildFilePage(eBitmapFile, bBitmapSet, mBitmapAbout));
    Notebook->addWidget(new QWidget(Notebook)); // external text: label and description only
    auto* trans = new QWidget(Notebook);
    auto* transLayout = new QFormLayout(trans);
    seTransLength = MakeSpin(trans, 100, 10000000, 100);
    transLayout->addRow(QStringLiteral("Miliseconds"), seTransLength);
    Notebook->addWidget(trans);
    Notebook->addWidget(BuildBlankPage());
    Notebook->addWidget(BuildClipPage());
    Notebook->addWidget(BuildFilePage(eSubFile, bSubSet, nullptr));
    Notebook->addWidget(new QWidget(Notebook)); // common: label and description only
    for (int i = 0; i < Notebook->count(); ++i)
        Notebook->widget(i)->setObjectName(QString::fromLatin1(PropPageNames[i]));

    main->addLayout(MakeOkCancelRow(this, bOK, bCancel));
    KeepLayoutSize(this);
    connect(bOK, &QPushButton::clicked, this, [this] { PressOK(); });
    connect(bCancel, &QPushButton::clicked, this, [this] { PressCancel(); });
    connect(bMovieSet, &QPushButton::clicked, this, [this] { bMovieSetClick(); });
    connect(bBitmapSet, &QPushButton::clicked, this, [this] { bBitmapSetClick(); });
    connect(bClipSet, &QPushButton::clicked, this, [this] { bClipSetClick(); });
    connect(bSubSet, &QPushButton::clicked, this, [this] { bSubSetClick(); });
    connect(bFit, &QPushButton::clicked, this, [this] { bFitClick(); });
    connect(bBlankColor, &QPushButton::clicked, this, [this] { bBlankColorClick(); });
    connect(bMovieRange, &QPushButton::clicked, this, [this] {
        TPartialInfo range = Range;
        if (TMovieRangeDlg::Execute(S(eMovieFile->text()), range, Ui, this))
            Range = range;
    });
}

TPropDlg::~TPropDlg() = default;

QWidget* TPropDlg::BuildProjectPage() {
    auto* page = new QWidget(Notebook);
    auto* form = new QFormLayout(page);
    eProjWidth = new QLineEdit(page);
    eProjHeight = new QLineEdit(page);
    eProjFPS = new QLineEdit(page);
    form->addRow(QStringLiteral("Width"), eProjWidth);
    form->addRow(QStringLiteral("Height"), eProjHeight);
    form->addRow(QStringLiteral("Frame per second"), eProjFPS);
    auto* comp = new QHBoxLayout;
    cbVidComp = new QComboBox(page);
    bVidCompSet = new QPushButton(QStringLiteral("Set"), page);
    comp->addWidget(cbVidComp, 1);
    comp->addWidget(bVidCompSet);
    form->addRow(QStringLiteral("Video compressor"), comp);
    cbExportSound = new QCheckBox(QStringLiteral("Export sound"), page);
    form->addRow(cbExportSound);
    cbAudioCodec = new QComboBox(page);
    form->addRow(QStringLiteral("Audio codec"), cbAudioCodec);
    gbSound = new QGroupBox(QStringLiteral("Sound settings"), page);
    auto* sound = new QHBoxLayout(gbSound);
    cbSampling = new QComboBox(gbSound);
    cbBits = new QComboBox(gbSound);
    cbBits->addItems({QStringLiteral("8  bit"), QStringLiteral("16 bit")});
    cbStereo = new QCheckBox(QStringLiteral("Stereo"), gbSound);
    sound->addWidget(cbSampling);
    sound->addWidget(cbBits);
    sound->addWidget(cbStereo);
    form->addRow(gbSound);
    auto digits = [](QLineEdit* e) {
        connect(e, &QLineEdit::textEdited, e, [e](const QString& t) {
            const QString clean = Q(DigitsOnly(S(t)));
            if (clean != t)
                e->setText(clean);
        });
    };
    digits(eProjWidth);
    digits(eProjHeight);
    connect(eProjFPS, &QLineEdit::textEdited, this, [this](const QString& t) {
        const QString clean = Q(CleanDecimalText(S(t), 2, true));
        if (clean != t)
            eProjFPS->setText(clean);
    });
    connect(cbExportSound, &QCheckBox::clicked, this, [this](bool on) {
        gbSound->setEnabled(on);
        if (Project)
            Project->AudioOn = on;
    });
    connect(cbAudioCodec, &QComboBox::currentIndexChanged, this, [this] { CodecChanged(); });
    connect(cbVidComp, &QComboBox::currentIndexChanged, this, [this] { CompressorChanged(); });
    connect(bVidCompSet, &QPushButton::clicked, this, [this] {
        if (Project)
            Project->GetAviCompress().ShowAboutBox();
    });
    return page;
}

QWidget* TPropDlg::BuildMoviePage() {
    auto* page = new QWidget(Notebook);
    auto* v = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    eMovieFile = new QLineEdit(page);
    bMovieSet = new QPushButton(QStringLiteral("Set"), page);
    bMovieRange = new QPushButton(QStringLiteral("Set range"), page);
    bMovieRange->hide();
    row->addWidget(eMovieFile, 1);
    row->addWidget(bMovieSet);
    row->addWidget(bMovieRange);
    v->addLayout(row);
    cbUseAudio = new QCheckBox(QStringLiteral("Use audio when available"), page);
    v->addWidget(cbUseAudio);
    gbWarpDuration = new QGroupBox(QStringLiteral("Duration (milisecond)"), page);
    auto* warp = new QHBoxLayout(gbWarpDuration);
    seWarpDuration = MakeSpin(gbWarpDuration, 1000, 72000000, 1000);
    bFit = new QPushButton(QStringLiteral("Fit"), gbWarpDuration);
    bFit->setToolTip(QStringLiteral("Fit the duration to the end of (modified speed) video"));
    warp->addWidget(seWarpDuration, 1);
    warp->addWidget(bFit);
    v->addWidget(gbWarpDuration);
    mMovieAbout->setParent(page);
    mMovieAbout->setReadOnly(true);
    v->addWidget(mMovieAbout, 1);
    return page;
}

QWidget* TPropDlg::BuildFilePage(QLineEdit*& edit, QPushButton*& set, QPlainTextEdit* about) {
    auto* page = new QWidget(Notebook);
    auto* v = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    edit = new QLineEdit(page);
    set = new QPushButton(QStringLiteral("Set"), page);
    row->addWidget(edit, 1);
    row->addWidget(set);
    v->addLayout(row);
    if (about) {
        about->setParent(page);
        about->setReadOnly(true);
        v->addWidget(about, 1);
    }
    return page;
}

QWidget* TPropDlg::BuildBlankPage() {
    auto* page = new QWidget(Notebook);
    auto* form = new QFormLayout(page);
    seBlankDuration = MakeSpin(page, 100, 10000000, 100);
    form->addRow(QStringLiteral("Duration (milisecond)"), seBlankDuration);
    auto* row = new QHBoxLayout;
    pBlankColor = new QWidget(page);
    pBlankColor->setMinimumSize(40, 20);
    pBlankColor->setAutoFillBackground(true);
    bBlankColor = new QPushButton(QStringLiteral("Set"), page);
    row->addWidget(pBlankColor, 1);
    row->addWidget(bBlankColor);
    form->addRow(QStringLiteral("Color"), row);
    return page;
}

QWidget* TPropDlg::BuildClipPage() {
    auto* page = new QWidget(Notebook);
    auto* form = new QFormLayout(page);
    auto* row = new QHBoxLayout;
    eClipFolder = new QLineEdit(page);
    bClipSet = new QPushButton(QStringLiteral("Set"), page);
    row->addWidget(eClipFolder, 1);
    row->addWidget(bClipSet);
    form->addRow(QStringLiteral("Folder"), row);
    eClipRate = new QLineEdit(page);
    form->addRow(QStringLiteral("Picture per second"), eClipRate);
    mClipInfo = new QPlainTextEdit(page);
    mClipInfo->setReadOnly(true);
    form->addRow(mClipInfo);
    connect(eClipRate, &QLineEdit::textEdited, this, [this] { eClipRateChange(); });
    return page;
}

// ---- Execute ------------------------------------------------------------------------------------

bool TPropDlg::Execute(TTreeNodeData* node, TProjectNode* project) {
    Node = node;
    Project = project;
    Cancelled = false;
    if (!node)
        return false;
    eLabel->setText(Q(node->GetCaption()));
    SetMemoLines(mDescription, node->Description);
    gbWarpDuration->hide();
    Page = PropPageOf(node, project);
    if (Page == ppNoneFalse)
        return false;
    if (Page == ppNoneTrue)
        return true;
    TPropUndo undo;
    undo.Keep(node, project, Page);
    Notebook->setCurrentIndex(Page);
    FillPage();
    const int result = ExecHook ? (show(), ExecHook(*this)) : exec();
    if (isVisible())
        hide();
    if (result != QDialog::Accepted) {
        undo.Restore(node, project);
        return false;
    }
    if (!WriteBack())
        return false;
    const auto* effect = dynamic_cast<const TCustomAddOnsNode*>(node);
    node->SetCaption(CaptionFromLabel(S(eLabel->text()), effect ? effect->AddOnName : ""));
    node->Description = MemoLines(mDescription);
    return true;
}

void TPropDlg::PressOK() {
    Cancelled = false;
    accept();
}

void TPropDlg::PressCancel() {
    Cancelled = true;
    reject();
}

// A folder typed into the clip's edit is taken as "Set" takes a chosen one, so the check counts
// the pictures of the folder the user sees, the memo tells them, and Cancel sets the old one back.
void TPropDlg::TakeTypedFolder() {
    if (Page != ppBitmapClip)
        return;
    auto* clip = static_cast<TClipNode*>(Node);
    const std::string typed = S(eClipFolder->text());
    if (clip->Folder == typed)
        return;
    clip->SetFolder(typed);
    FillClipMemo();
}

bool TPropDlg::PageRefused() {
    TakeTypedFolder();
    const std::optional<std::string> why = ValidatePage();
    if (why && Ui)
        Ui->ShowMessage(*why, TMsgKind::Error);
    return why.has_value();
}

void TPropDlg::closeEvent(QCloseEvent* event) {
    // Closed by the window's button, the page is checked as by OK; only Cancel skips that.
    if (!Cancelled && PageRefused()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TPropDlg::done(int result) {
    if (!Cancelled && result == QDialog::Accepted && PageRefused())
        return;
    QDialog::done(result);
}

std::optional<std::string> TPropDlg::ValidatePage() const {
    switch (Page) {
    case ppProject:
        return ValidateProjectPage(S(eProjWidth->text()), S(eProjHeight->text()),
                                   S(eProjFPS->text()));
    case ppMovie:
        return ValidateMovieFile(Node, S(eMovieFile->text()));
    case ppExternalBitmap:
        return ValidateFileExists(S(eBitmapFile->text()));
    case ppSubProject:
        // A file left as it was was accepted when it was set.
        if (TrimText(S(eSubFile->text())) == Node->FileName)
            return ValidateFileExists(S(eSubFile->text()));
        return ValidateSubProject(S(eSubFile->text()), Project ? Project->FileName : "");
    case ppTransitions:
        return ValidateDurationMs(seTransLength->value());
    case ppBlank:
        return ValidateDurationMs(seBlankDuration->value());
    case ppBitmapClip: {
        auto* clip = static_cast<TClipNode*>(Node);
        if (std::optional<std::string> why =
                ValidateClip(clip->GetPictureCount(), S(eClipFolder->text())))
            return why;
        return ValidateClipRate(S(eClipRate->text()));
    }
    default:
        return std::nullopt;
    }
}

void TPropDlg::FillPage() {
    switch (Page) {
    case ppProject:
        FillProjectPage();
        break;
    case ppFolder:
        eFolderCaption->setText(Q(Node->GetCaption()));
        break;
    case ppMovie:
        FillMoviePage();
        break;
    case ppExternalBitmap:
        eBitmapFile->setText(Q(Node->FileName));
        FillInfo(mBitmapAbout);
        break;
    case ppTransitions:
        seTransLength->setValue(SecondsToMs(Node->UserDuration));
        break;
    case ppBlank:
        seBlankDuration->setValue(SecondsToMs(Node->UserDuration));
        SetBlankColor(static_cast<TBlankNode*>(Node)->BlankColor);
        break;
    case ppBitmapClip: {
        auto* clip = static_cast<TClipNode*>(Node);
        if (clip->ClipRate == 0)
            clip->SetSourceFrameRate(24.0L);
        eClipFolder->setText(Q(clip->Folder));
        eClipRate->setText(Q(GeneralText(clip->ClipRate)));
        FillClipMemo();
        break;
    }
    case ppSubProject:
        eSubFile->setText(Q(Node->FileName));
        break;
    default:
        break;
    }
}

void TPropDlg::FillInfo(QPlainTextEdit* memo) {
    std::vector<std::string> lines;
    Node->GetInfo(lines);
    SetMemoLines(memo, lines);
}

void TPropDlg::FillMoviePage() {
    eMovieFile->setText(Q(Node->FileName));
    FillInfo(mMovieAbout);
    auto* movie = dynamic_cast<TMovieNode*>(Node);
    auto* warp = dynamic_cast<TWarpNode*>(Node);
    cbUseAudio->setVisible(movie || dynamic_cast<TOverlayNode*>(Node));
    cbUseAudio->setEnabled(movie != nullptr);
    cbUseAudio->setChecked(movie && movie->UseAudio);
    if (warp) {
        gbWarpDuration->show();
        seWarpDuration->setValue(warp->OutputDuration);
        cbUseAudio->setChecked(false);
        cbUseAudio->hide();
    }
    RangeUsed = true;
    if (auto* d = dynamic_cast<TCustomDurableNode*>(Node))
        Range = d->ClipRange;
    else if (auto* o = dynamic_cast<TOverlayNode*>(Node))
        Range = o->ClipRange;
    else
        RangeUsed = false;
    bOK->setEnabled(FileExists(Node->FileName) && !Node->FileName.empty() && SourceLoaded(Node));
}

void TPropDlg::FillProjectPage() {
    Filling = true;
    TProjectNode& p = *Project;
    eProjWidth->setText(QString::number(p.Width));
    eProjHeight->setText(QString::number(p.Height));
    eProjFPS->setText(Q(GeneralText(p.FrameRate)));
    cbExportSound->setChecked(p.AudioOn);
    gbSound->setEnabled(p.AudioOn);
    cbVidComp->clear();
    CompressorCodes.clear();
    TAviCompress& compress = p.GetAviCompress();
    const uint32_t chosen = compress.GetFourCC();
    std::vector<TCompressorListItem> list;
    compress.FillCompressorList(list);
    for (const TCompressorListItem& item : list) {
        cbVidComp->addItem(Q(item.Text));
        CompressorCodes.push_back(item.Object ? item.Object->Handler : 0);
    }
    compress.SelectCompressor(chosen);
    cbVidComp->setCurrentIndex(compress.GetSelectedIndex());
    cbAudioCodec->clear();
    CodecTags.clear();
    std::vector<TCodecListItem> codecs;
    p.GetAudioCodec().FillExportCodecList(codecs);
    int codecIndex = 0;
    for (const TCodecListItem& c : codecs) {
        if (c.Tag == p.AudioMode)
            codecIndex = cbAudioCodec->count();
        cbAudioCodec->addItem(Q(c.Text));
        CodecTags.push_back(c.Tag);
    }
    cbAudioCodec->setCurrentIndex(codecIndex);
    Rates = SamplingRates(p.AudioFormat.Wfx.nSamplesPerSec);
    cbSampling->clear();
    for (uint32_t r : Rates)
        cbSampling->addItem(QString::number(r));
    cbSampling->setCurrentIndex(SamplingIndex(Rates, p.AudioFormat.Wfx.nSamplesPerSec));
    cbBits->setCurrentIndex(std::clamp(p.AudioFormat.Wfx.wBitsPerSample / 8 - 1, 0, 1));
    cbStereo->setChecked(p.AudioFormat.Wfx.nChannels > 1);
    Filling = false;
    CodecChanged();
    bVidCompSet->setEnabled(compress.GetSelectedIndex() >= 0 && compress.HasAboutBox());
}

void TPropDlg::CodecChanged() {
    if (Filling)
        return;
    const bool pcm = cbAudioCodec->currentIndex() == 0;
    gbSound->setVisible(pcm);
    if (pcm && cbSampling->currentIndex() < 0 && cbSampling->count() > 0)
        cbSampling->setCurrentIndex(0);
}

void TPropDlg::CompressorChanged() {
    if (Filling || !Project)
        return;
    const int i = cbVidComp->currentIndex();
    if (i < 0 || i >= static_cast<int>(CompressorCodes.size()))
        return;
    TAviCompress& compress = Project->GetAviCompress();
    compress.SelectCompressor(CompressorCodes[i]);
    bVidCompSet->setEnabled(compress.HasAboutBox());
}

// ---- write-back ---------------------------------------------------------------------------------

bool TPropDlg::WriteBack() {
    switch (Page) {
    case ppProject:
        WriteProjectPage();
        return true;
    case ppFolder:
        Node->SetCaption(S(eFolderCaption->text()));
        return true;
    case ppMovie:
        return WriteMoviePage();
    case ppExternalBitmap:
        Node->SetFileName(TrimText(S(eBitmapFile->text())));
        FillInfo(mBitmapAbout);
        return true;
    case ppTransitions:
        Node->UserDuration = MsToSeconds(seTransLength->value());
        return true;
    case ppBlank:
        Node->UserDuration = MsToSeconds(seBlankDuration->value());
        static_cast<TBlankNode*>(Node)->BlankColor = BlankColor();
        return true;
    case ppBitmapClip: {
        auto* clip = static_cast<TClipNode*>(Node);
        // The check on close lets only a playable rate through.
        const std::string rate = TrimText(S(eClipRate->text()));
        if (!ValidateClipRate(rate))
            clip->SetSourceFrameRate(std::stold(rate));
        if (clip->Folder != S(eClipFolder->text()))
            clip->SetFolder(S(eClipFolder->text()));
        return true;
    }
    case ppSubProject:
        Node->SetFileName(TrimText(S(eSubFile->text())));
        return true;
    default:
        return true;
    }
}

void TPropDlg::WriteProjectPage() {
    TProjectNode& p = *Project;
    TAviCompress& compress = p.GetAviCompress();
    p.VideoFourCC = compress.GetFourCC();
    p.CompressorName = compress.GetDescription();
    p.SetVideoFormat(std::stoi(TrimText(S(eProjWidth->text()))),
                     std::stoi(TrimText(S(eProjHeight->text()))),
                     std::stold(TrimText(S(eProjFPS->text()))));
    p.AudioOn = cbExportSound->isChecked();
    const int codec = cbAudioCodec->currentIndex();
    p.AudioMode = codec >= 0 && codec < static_cast<int>(CodecTags.size()) ? CodecTags[codec] : 1;
    const int rate = cbSampling->currentIndex();
    ProjectAudioFormat(p.AudioMode,
                       rate >= 0 && rate < static_cast<int>(Rates.size()) ? Rates[rate] : 44100,
                       cbStereo->isChecked(), cbBits->currentIndex(), p.AudioFormat);
    p.Refresh();
}

bool TPropDlg::WriteMoviePage() {
    if (auto* d = dynamic_cast<TCustomDurableNode*>(Node); d && RangeUsed)
        d->ClipRange = Range;
    else if (auto* o = dynamic_cast<TOverlayNode*>(Node); o && RangeUsed)
        o->ClipRange = Range;
    if (auto* warp = dynamic_cast<TWarpNode*>(Node)) {
        warp->OutputDuration = seWarpDuration->value();
    } else if (auto* movie = dynamic_cast<TMovieNode*>(Node)) {
        movie->UseAudio = cbUseAudio->isChecked();
    } else if (dynamic_cast<TSoundSourceNode*>(Node) && Node->FileName.empty()) {
        return false;
    }
    return true;
}

// ---- buttons ------------------------------------------------------------------------------------

void TPropDlg::bMovieSetClick() {
    if (!Ui)
        return;
    const bool sound = dynamic_cast<TSoundSourceNode*>(Node) != nullptr;
    const bool overlay = dynamic_cast<TOverlayNode*>(Node) != nullptr;
    const char* value = sound ? "SoundFile" : "MovieFile";
    std::string start = S(eMovieFile->text());
    if (start.empty() && !overlay && Settings)
        start = Settings->ReadString("Recents", value, "");
    std::vector<TFileFilter> filters = {{"Movie (*.avi)", "*.avi"}};
    if (sound)
        filters = {{"All sound ", "*.avi *.wav"},
                   {"Movie (*.avi)", "*.avi"},
                   {"PCM audio(*.wav)", "*.wav"}};
    const std::optional<std::string> name =
        Ui->OpenFileDialog(sound ? "Select sound file" : "Select Movie", filters, start);
    if (!name)
        return;
    eMovieFile->setText(Q(*name));
    if (!overlay && Settings)
        Settings->WriteString("Recents", value, *name);
    const std::string shortName = FileNameOnly(*name);
    if (overlay)
        eLabel->setText(Q(Node->AddOnName + ": " + shortName));
    else if (dynamic_cast<TMovieNode*>(Node))
        eLabel->setText(Q("Movie: " + shortName));
    else
        eLabel->setText(Q((Node->Kind == nkMusic ? "Music: " : "Sound: ") + shortName));
    TBusyCursorGuard busy(Ui);
    Node->SetFileName(*name);
    FillInfo(mMovieAbout);
    bOK->setEnabled(FileExists(*name) && SourceLoaded(Node));
}

void TPropDlg::bBitmapSetClick() {
    if (!Ui)
        return;
    std::string start = S(eBitmapFile->text());
    if (start.empty() && Settings)
        start = Settings->ReadString("Recents", "Bitmap file", "");
    const std::optional<std::string> name =
        Ui->OpenFileDialog("Select bitmap", {{"bitmap", "*.bmp"}}, start);
    if (!name)
        return;
    eBitmapFile->setText(Q(*name));
    Node->SetFileName(*name);
    if (Settings)
        Settings->WriteString("Recents", "Bitmap file", *name);
    FillInfo(mBitmapAbout);
}

void TPropDlg::bClipSetClick() {
    if (!Ui)
        return;
    std::string folder = S(eClipFolder->text());
    if (folder.empty() && Settings)
        folder = Settings->ReadString("Recents", "ClipDir", "");
    if (!BrowseForFolder(*Ui, folder))
        return;
    eClipFolder->setText(Q(folder));
    if (Settings)
        Settings->WriteString("Recents", "ClipDir", folder);
    static_cast<TClipNode*>(Node)->SetFolder(folder);
    FillClipMemo();
}

void TPropDlg::bSubSetClick() {
    if (!Ui)
        return;
    const std::optional<std::string> name = Ui->OpenFileDialog(
        "Select sub-project", {{"Project file (*.mpr)", "*.mpr"}}, S(eSubFile->text()));
    if (!name)
        return;
    // The same file under another spelling is still the project itself, and a file that holds
    // the project would hold it again inside itself.
    if (const std::optional<std::string> why =
            ValidateSubProject(*name, Project ? Project->FileName : "")) {
        Ui->ShowMessage(*why, TMsgKind::Warning);
        return;
    }
    eSubFile->setText(Q(*name));
    eLabel->setText(Q("Sub-Project: " + FileNameOnly(*name)));
}

void TPropDlg::bFitClick() {
    auto* warp = dynamic_cast<TWarpNode*>(Node);
    if (!warp || !Ui ||
        Ui->Ask("Set duration to match the end of the video?", TMsgButtons::OKCancel,
                TMsgKind::Confirmation) != TMsgResult::OK)
        return;
    const Extended d = warp->FitDuration();
    if (d >= 0)
        seWarpDuration->setValue(Round(d * 1000.0L));
}

uint32_t TPropDlg::BlankColor() const {
    return PanelColor(pBlankColor);
}

void TPropDlg::SetBlankColor(uint32_t color) {
    SetPanelColor(pBlankColor, color);
}

void TPropDlg::bBlankColorClick() {
    if (!Ui)
        return;
    if (const std::optional<uint32_t> c = Ui->ChooseColor(BlankColor()))
        SetBlankColor(*c);
}

void TPropDlg::eClipRateChange() {
    const QString t = eClipRate->text();
    const QString clean = Q(CleanDecimalText(S(t), 2, true));
    if (clean != t)
        eClipRate->setText(clean);
    const std::string trimmed = TrimText(S(clean));
    if (!trimmed.empty() && trimmed != ".") {
        static_cast<TClipNode*>(Node)->SetSourceFrameRate(std::stold(trimmed));
        FillClipMemo();
    }
}

void TPropDlg::FillClipMemo() {
    SetMemoLines(mClipInfo, ClipMemoLines(*static_cast<TClipNode*>(Node)));
}
