#include "MyProjProp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "MyCommonParams.h"
#include "MyWMFBase.h"

namespace {

constexpr int32_t MinFrameSide = 50;
constexpr Extended MinRate = 2.0L;
constexpr Extended MaxRate = 50.0L;
// A rate the dialog lets through must be one the project takes.
static_assert(MaxRate <= TProjectNode::MaxFrameRate);

// 0 for an empty or unreadable text, so it fails the lower bound.
Extended RateOf(const std::string& text) {
    std::string s = TrimText(text);
    for (char& c : s)
        if (c == GetDecimalSeparator())
            c = '.';
    if (s.empty())
        return 0;
    char* end = nullptr;
    const Extended v = std::strtold(s.c_str(), &end);
    return end && *end == 0 ? v : 0;
}

// -1 when the text holds more digits than fit, so it fails the upper bound.
int32_t SideOf(const std::string& text) {
    try {
        return DigitsToInt(text);
    } catch (const EConvertError&) {
        return -1;
    }
}

std::string CheckSide(const std::string& text, const char* name) {
    const int32_t v = SideOf(text);
    if (v >= 0 && v < MinFrameSide)
        return std::string(name) + " is too small";
    if (v < 0 || v > TProjectNode::MaxFrameSide)
        return std::string(name) + " is too large";
    return {};
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

uint32_t SnapWMAudioRate(uint32_t rate) {
    for (uint32_t r : {44100u, 22050u, 11025u})
        if (rate >= r)
            return r;
    return rate;
}

std::string RateText(Extended fps) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, fps, std::chars_format::general, 8);
    std::string s(buf, r.ptr);
    for (char& c : s)
        if (c == '.')
            c = GetDecimalSeparator();
    return s;
}

// ---- TProjPropModel -----------------------------------------------------------------------------

TProjPropModel::TProjPropModel(TProjectNode& project, IUiServices& ui) : Project(project), Ui(ui) {
    WMAvailable = TWMFBase::IsWMVCoreAvailable();
    if (WMAvailable)
        TWMFBase::FillProfileNames(ProfileNames);
}

std::string TProjPropModel::CleanDigits(const std::string& text) {
    if (TrimText(text).empty())
        return {};
    const int32_t v = SideOf(text);
    return v < 0 ? TrimText(text) : std::to_string(v);
}

void TProjPropModel::SetFpsText(const std::string& text) {
    // Cleaned at every key press: the fraction keeps its digits as typed (25.05 stays 25.05)
    // and a point typed last stays until the next digit comes.
    std::string s = TrimText(text);
    for (char& c : s)
        if (c == ',' || c == GetDecimalSeparator())
            c = '.';
    FpsText = s.empty() ? std::string() : CleanDecimalText(s, 8, true);
}

void TProjPropModel::LoadFromProject() {
    TProjectNode& p = Project;
    WMOutput = p.IsWMVOutput() && WMAvailable;
    SelectedProfile = p.WMProfile;
    ProfileIndex = TWMFBase::IndexOfProfile(SelectedProfile);

    Sizes.clear();
    SizeIndex = 0;
    for (const TVideoSize& s : VideoSizes) {
        if (s.Id == p.SizePresetId && s.Width == p.Width && s.Height == p.Height)
            SizeIndex = static_cast<int>(Sizes.size());
        Sizes.push_back({s.Name, s.Id});
    }
    Rates.clear();
    RateIndex = 0;
    for (const TFPSSize& r : FPSSizes) {
        if (r.Id == p.RatePresetId && r.FPS == p.FrameRate)
            RateIndex = static_cast<int>(Rates.size());
        Rates.push_back({r.Name, r.Id});
    }
    IncludeAudio = p.AudioOn;
    Remarks = p.Description;
    FpsText = RateText(p.FrameRate);
    WidthText = std::to_string(p.Width);
    HeightText = std::to_string(p.Height);

    TAviCompress& compress = p.GetAviCompress();
    OriginalFourCC = compress.GetFourCC();
    compress.FillCompressorList(Compressors);
    CompressorIndex = Compressors.empty() ? -1 : 0;
    for (size_t i = 0; i < Compressors.size(); ++i)
        if (Compressors[i].Object && Compressors[i].Object->Handler == p.VideoFourCC)
            CompressorIndex = static_cast<int>(i);

    p.GetAudioCodec().FillExportCodecList(Codecs);
    CodecIndex = Codecs.empty() ? -1 : 0;
    for (size_t i = 0; i < Codecs.size(); ++i)
        if (Codecs[i].Tag == p.AudioMode) {
            CodecIndex = static_cast<int>(i);
            break;
        }
    RunOutputChoice();
}

void TProjPropModel::RunOutputChoice() {
    if (WMOutput) {
        ChooseProfile(ProfileIndex);
        return;
    }
    ChooseCodec(CodecIndex);
    ChooseCompressor(CompressorIndex);
    ChooseSize(SizeIndex);
    ShowProjectAudioFormat();
}

void TProjPropModel::ShowProjectAudioFormat() {
    const TWaveFormatEx& want = Project.AudioFormat.Wfx;
    for (size_t i = 0; i < PcmFormats.size(); ++i) {
        const TWaveFormatEx& f = PcmFormats[i].Format.Wfx;
        if (f.nSamplesPerSec == want.nSamplesPerSec && f.nChannels == want.nChannels &&
            f.wBitsPerSample == want.wBitsPerSample) {
            ChoosePcmFormat(static_cast<int>(i));
            return;
        }
    }
    // A format no line offers is shown and kept as it is.
    PcmIndex = -1;
    PcmText = FormatAudioFormatText(Project.AudioFormat);
    PcmFormat = Project.AudioFormat;
}

void TProjPropModel::SetWMOutput(bool wm) {
    WMOutput = wm && WMAvailable;
    RunOutputChoice();
}

void TProjPropModel::ChooseProfile(int index) {
    if (index < 0 || index >= WMFProfileCount)
        return;
    TBusyCursorGuard cursor(&Ui);
    ProfileIndex = index;
    TWMFBase::GetProfileByIdx(index, SelectedProfile);
    TWMFBase::DescribeProfile(SelectedProfile, ProfileLines);
}

void TProjPropModel::ChooseSize(int index) {
    if (index < 0 || index >= static_cast<int>(Sizes.size()))
        return;
    SizeIndex = index;
    if (index == 0)
        return;
    for (const TVideoSize& s : VideoSizes)
        if (s.Id == Sizes[size_t(index)].Id) {
            WidthText = std::to_string(s.Width);
            HeightText = std::to_string(s.Height);
        }
}

void TProjPropModel::ChooseRate(int index) {
    if (index < 0 || index >= static_cast<int>(Rates.size()))
        return;
    RateIndex = index;
    if (index == 0)
        return;
    for (const TFPSSize& r : FPSSizes)
        if (r.Id == Rates[size_t(index)].Id)
            FpsText = RateText(r.FPS);
}

void TProjPropModel::ChooseCompressor(int index) {
    if (index < 0 || index >= static_cast<int>(Compressors.size()))
        return;
    CompressorIndex = index;
    Project.GetAviCompress().SelectCompressor(ChosenFourCC());
}

uint32_t TProjPropModel::ChosenFourCC() const {
    if (CompressorIndex < 0 || CompressorIndex >= static_cast<int>(Compressors.size()))
        return 0;
    const TVideoCompressorInfo* info = Compressors[size_t(CompressorIndex)].Object;
    return info ? info->Handler : 0;
}

bool TProjPropModel::CanSetCompressor() const {
    return CompressorIndex >= 0 && Project.GetAviCompress().HasAboutBox();
}

void TProjPropModel::ShowCompressorAbout() {
    Project.GetAviCompress().ShowAboutBox();
}

void TProjPropModel::ChooseCodec(int index) {
    PcmFormats.clear();
    PcmIndex = -1;
    if (index < 0 || index >= static_cast<int>(Codecs.size()))
        return;
    CodecIndex = index;
    std::vector<std::string> labels;
    Project.GetAudioCodec().FillPCMSourceList(Codecs[size_t(index)].Tag, labels);
    for (const std::string& label : labels) {
        TPcmFormatItem item{label, {}};
        ParseAudioFormatText(label, item.Format);
        PcmFormats.push_back(item);
    }
    if (!PcmFormats.empty())
        ChoosePcmFormat(0);
}

void TProjPropModel::ChoosePcmFormat(int index) {
    if (index < 0 || index >= static_cast<int>(PcmFormats.size()))
        return;
    PcmIndex = index;
    PcmText = PcmFormats[size_t(index)].Text;
    PcmFormat = PcmFormats[size_t(index)].Format;
}

std::string TProjPropModel::Validate() const {
    // A Windows Media profile brings its own size and rate.
    if (WMOutput)
        return {};
    std::string why = CheckSide(WidthText, "Width");
    if (why.empty())
        why = CheckSide(HeightText, "Height");
    if (!why.empty())
        return why;
    const Extended fps = RateOf(FpsText);
    if (fps < MinRate)
        return "Frame per second is too low";
    if (fps > MaxRate)
        return "Frame per second is too high";
    return {};
}

void TProjPropModel::ApplyToProject() {
    TProjectNode& p = Project;
    p.AudioOn = IncludeAudio;
    p.Description = Remarks;
    p.WMOutput = WMOutput;
    p.WMProfile = SelectedProfile;
    TAviCompress& compress = p.GetAviCompress();
    if (WMOutput) {
        p.AudioMode = WAVE_FORMAT_PCM;
        TWMFInfo info;
        TWMFBase::GetProfileInfo(SelectedProfile, info);
        const TWaveFormatEx& a = info.AudioFormat;
        // A profile without sound leaves the project's own format alone.
        if (a.nSamplesPerSec > 0 && a.nChannels > 0)
            MakePcmFormat(p.AudioFormat, SnapWMAudioRate(a.nSamplesPerSec), a.nChannels,
                          a.wBitsPerSample ? a.wBitsPerSample : 16);
        compress.SelectCompressor(OriginalFourCC);
        p.SetVideoFormat(info.Width, info.Height, info.FrameRate);
        return;
    }
    compress.SelectCompressor(ChosenFourCC());
    p.VideoFourCC = compress.GetFourCC();
    p.CompressorName = compress.GetDescription();
    if (CodecIndex >= 0 && CodecIndex < static_cast<int>(Codecs.size()))
        p.AudioMode = Codecs[size_t(CodecIndex)].Tag;
    p.AudioFormat = PcmFormat;
    p.SizePresetId = Sizes[size_t(SizeIndex)].Id;
    p.RatePresetId = Rates[size_t(RateIndex)].Id;
    p.SetVideoFormat(SideOf(WidthText), SideOf(HeightText), RateOf(FpsText));
}

void TProjPropModel::Cancel() {
    Project.GetAviCompress().SelectCompressor(OriginalFourCC);
}

// ---- TProjPropDlg -------------------------------------------------------------------------------

std::function<int(TProjPropDlg&)> TProjPropDlg::ExecHook;

TProjPropDlg::TProjPropDlg(TProjectNode& project, IUiServices& ui, QWidget* parent)
    : QDialog(parent), Model(project, ui), Ui(ui) {
    setWindowTitle(QStringLiteral("Project output property"));
    rbAVI = new QRadioButton(QStringLiteral("AVI video (DivX etc.)"), this);
    rbWMF = new QRadioButton(QStringLiteral("Windows Media format (WMV)"), this);
    if (!Model.WMAvailable) {
        rbWMF->setEnabled(false);
        rbWMF->setText(rbWMF->text() + QStringLiteral(" (Not installed)"));
    }
    Notebook = new QStackedWidget(this);
    Notebook->addWidget(BuildAviPage());
    Notebook->addWidget(BuildWmfPage());
    mRemarks = new QPlainTextEdit(this);
    bOK = new QPushButton(QStringLiteral("OK"), this);
    bOK->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("Cancel"), this);

    auto* choice = new QHBoxLayout;
    choice->addWidget(rbAVI);
    choice->addWidget(rbWMF);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(bOK);
    buttons->addWidget(bCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choice);
    layout->addWidget(Notebook);
    layout->addWidget(new QLabel(QStringLiteral("Remarks"), this));
    layout->addWidget(mRemarks);
    layout->addLayout(buttons);
    Connect();
}

TProjPropDlg::~TProjPropDlg() = default;

QWidget* TProjPropDlg::BuildAviPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("AVI"));
    cbFPS = new QComboBox(page);
    eProjFPS = new QLineEdit(page);
    cbSize = new QComboBox(page);
    eWidth = new QLineEdit(page);
    eHeight = new QLineEdit(page);
    cbVidComp = new QComboBox(page);
    bSetComp = new QPushButton(QStringLiteral("Set"), page);
    cbAudComp = new QComboBox(page);
    cbAudFormat = new QComboBox(page);
    cbIncludeAudio = new QCheckBox(QStringLiteral("Include audio track"), page);
    // The lists are filled after the page is built and again on every change: each is as wide
    // as its longest entry, whenever it came.
    for (QComboBox* cb : {cbFPS, cbSize, cbVidComp, cbAudComp, cbAudFormat}) {
        cb->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        cb->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    }
    auto* g = new QGridLayout(page);
    g->addWidget(new QLabel(QStringLiteral("Fps"), page), 0, 0);
    g->addWidget(cbFPS, 0, 1);
    g->addWidget(eProjFPS, 0, 2);
    g->addWidget(new QLabel(QStringLiteral("Size"), page), 1, 0);
    g->addWidget(cbSize, 1, 1);
    auto* size = new QHBoxLayout;
    size->addWidget(eWidth);
    size->addWidget(new QLabel(QStringLiteral("x"), page));
    size->addWidget(eHeight);
    g->addLayout(size, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Video compressor"), page), 2, 0);
    g->addWidget(cbVidComp, 2, 1);
    g->addWidget(bSetComp, 2, 2);
    g->addWidget(new QLabel(QStringLiteral("Audio codec"), page), 3, 0);
    g->addWidget(cbAudComp, 3, 1, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Available audio format "), page), 4, 0);
    g->addWidget(cbAudFormat, 4, 1, 1, 2);
    g->addWidget(cbIncludeAudio, 5, 0, 1, 3);
    return page;
}

QWidget* TProjPropDlg::BuildWmfPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("WMF"));
    lbProfiles = new QListWidget(page);
    mProfile = new QPlainTextEdit(page);
    mProfile->setReadOnly(true);
    mProfile->setPlaceholderText(QStringLiteral("profile descriptions"));
    auto* v = new QVBoxLayout(page);
    v->addWidget(lbProfiles, 1);
    v->addWidget(mProfile, 1);
    for (const std::string& name : Model.ProfileNames)
        lbProfiles->addItem(Q(name));
    return page;
}

void TProjPropDlg::Connect() {
    // Every handler works on the model, then shows it; nothing runs while the controls fill.
    auto on = [this](auto fn) {
        return [this, fn](auto... args) {
            if (Filling)
                return;
            ReadEdits();
            fn(args...);
            ShowModel();
        };
    };
    connect(rbAVI, &QRadioButton::toggled, this,
            on([this](bool) { Model.SetWMOutput(rbWMF->isChecked()); }));
    connect(lbProfiles, &QListWidget::currentRowChanged, this,
            on([this](int row) { Model.ChooseProfile(row); }));
    connect(cbSize, &QComboBox::currentIndexChanged, this,
            on([this](int i) { Model.ChooseSize(i); }));
    connect(cbFPS, &QComboBox::currentIndexChanged, this,
            on([this](int i) { Model.ChooseRate(i); }));
    connect(cbVidComp, &QComboBox::currentIndexChanged, this,
            on([this](int i) { Model.ChooseCompressor(i); }));
    connect(cbAudComp, &QComboBox::currentIndexChanged, this,
            on([this](int i) { Model.ChooseCodec(i); }));
    connect(cbAudFormat, &QComboBox::currentIndexChanged, this,
            on([this](int i) { Model.ChoosePcmFormat(i); }));
    for (QLineEdit* e : {eWidth, eHeight, eProjFPS}) {
        connect(e, &QLineEdit::textEdited, this, [this, e] { CleanEdit(e); });
        connect(e, &QLineEdit::editingFinished, this, on([this] { ReadEdits(); }));
    }
    connect(bSetComp, &QPushButton::clicked, this, [this] { Model.ShowCompressorAbout(); });
    connect(bOK, &QPushButton::clicked, this, &TProjPropDlg::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TProjPropDlg::ReadEdits() {
    Model.SetWidthText(eWidth->text().toStdString());
    Model.SetHeightText(eHeight->text().toStdString());
    Model.SetFpsText(eProjFPS->text().toStdString());
    Model.IncludeAudio = cbIncludeAudio->isChecked();
    Model.Remarks.clear();
    const QString text = mRemarks->toPlainText();
    if (!text.isEmpty())
        for (const QString& line : text.split(QLatin1Char('\n')))
            Model.Remarks.push_back(line.toStdString());
}

void TProjPropDlg::CleanEdit(QLineEdit* edit) {
    if (Filling)
        return;
    ReadEdits();
    const QString clean = Q(edit == eWidth    ? Model.WidthText
                            : edit == eHeight ? Model.HeightText
                                              : Model.FpsText);
    if (clean == edit->text())
        return;
    const int at = edit->cursorPosition() - int(edit->text().size() - clean.size());
    edit->setText(clean);
    edit->setCursorPosition(std::clamp(at, 0, int(clean.size())));
}

void TProjPropDlg::ShowModel() {
    Filling = true;
    const TProjPropModel& m = Model;
    rbAVI->setChecked(!m.WMOutput);
    rbWMF->setChecked(m.WMOutput);
    Notebook->setCurrentIndex(m.WMOutput ? 1 : 0);
    lbProfiles->setCurrentRow(m.ProfileIndex);
    QStringList lines;
    for (const std::string& l : m.ProfileLines)
        lines << Q(l);
    mProfile->setPlainText(lines.join(QLatin1Char('\n')));
    auto fill = [](QComboBox* box, const auto& items, int index) {
        box->clear();
        for (const auto& item : items)
            box->addItem(Q(item.Text));
        box->setCurrentIndex(index);
    };
    fill(cbSize, m.Sizes, m.SizeIndex);
    fill(cbFPS, m.Rates, m.RateIndex);
    fill(cbVidComp, m.Compressors, m.CompressorIndex);
    fill(cbAudComp, m.Codecs, m.CodecIndex);
    fill(cbAudFormat, m.PcmFormats, m.PcmIndex);
    if (m.PcmIndex < 0) {
        cbAudFormat->setEditable(true);
        cbAudFormat->setEditText(Q(m.PcmText));
    } else {
        cbAudFormat->setEditable(false);
    }
    eWidth->setText(Q(m.WidthText));
    eHeight->setText(Q(m.HeightText));
    eProjFPS->setText(Q(m.FpsText));
    eWidth->setEnabled(m.SizeEditable());
    eHeight->setEnabled(m.SizeEditable());
    eProjFPS->setEnabled(m.RateEditable());
    bSetComp->setEnabled(m.CanSetCompressor());
    cbIncludeAudio->setChecked(m.IncludeAudio);
    Filling = false;
}

bool TProjPropDlg::Execute() {
    Model.LoadFromProject();
    ShowModel();
    QStringList lines;
    for (const std::string& l : Model.Remarks)
        lines << Q(l);
    mRemarks->setPlainText(lines.join(QLatin1Char('\n')));
    Ui.ProcessMessages();
    const int result = ExecHook ? ExecHook(*this) : exec();
    if (result != QDialog::Accepted) {
        Model.Cancel();
        return false;
    }
    Model.ApplyToProject();
    return true;
}

void TProjPropDlg::accept() {
    ReadEdits();
    const std::string why = Model.Validate();
    if (!why.empty()) {
        Ui.ShowMessage(why, TMsgKind::Error);
        return;
    }
    QDialog::accept();
}
