#include "MyMovieRangeDlg.h"
#include "MyDialogButtons.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "IUiServices.h"
#include "MyAVIReader.h"
#include "MySoundNode.h"

// ---- TMovieRange ------------------------------------------------------------------------------

int32_t TMovieRange::StepFor(Extended fps) {
    return std::max(1, Round(fps / 5.0L));
}

void TMovieRange::Load(int32_t frameCount, Extended length) {
    OwnSteps = true;
    FrameCount = std::max(frameCount, 0);
    Length = length;
    FramesPerSecond = Length > 0 ? FrameCount / Length : 0;
    Step = StepFor(FramesPerSecond);
}

void TMovieRange::LoadAt(Extended rate, Extended length) {
    if (!(rate > 0) || !(length > 0)) {
        Load(0, length);
        return;
    }
    OwnSteps = false;
    Length = length;
    FramesPerSecond = rate;
    const Extended steps = length * rate;
    FrameCount = steps >= Extended(INT32_MAX) ? INT32_MAX : Round(steps);
    Step = StepFor(FramesPerSecond);
}

int32_t TMovieRange::FrameOf(Extended seconds) const {
    const Extended f = seconds * FramesPerSecond;
    if (!(f > 0))
        return 0;
    return f >= Extended(INT32_MAX) ? INT32_MAX : Round(f);
}

Extended TMovieRange::TimeOf(int32_t position) const {
    return FramesPerSecond != 0 ? position / FramesPerSecond : 0;
}

std::string TMovieRange::StatusText(Extended seconds) const {
    if (seconds < 0)
        seconds = 0;
    return FormatTimeText(seconds) + " [" + std::to_string(FrameOf(seconds)) + "]";
}

void TMovieRange::SetBeginning() {
    Range.FromStart = true;
    Range.InTime = 0;
}

void TMovieRange::PickStart(Extended now) {
    Range.FromStart = false;
    Range.InTime = now;
}

int32_t TMovieRange::StartPosition() const {
    return Range.FromStart ? 0 : FrameOf(Range.InTime);
}

void TMovieRange::SetEnd() {
    Range.ToEnd = true;
    Range.OutTime = 0;
}

void TMovieRange::PickEnd(Extended now) {
    Range.ToEnd = false;
    Range.OutTime = now;
}

int32_t TMovieRange::EndPosition() const {
    return Range.ToEnd ? FrameCount : std::min(FrameOf(Range.OutTime), FrameCount);
}

Extended RangeStepRate(const TTreeNodeData* node) {
    if (!node)
        return 0;
    if (dynamic_cast<const TSoundNode*>(node))
        return 1000;
    // Read for its header only, silently: the dialog names a file it can not open.
    TAviReader reader(nullptr);
    return reader.Open(node->FileName) ? reader.GetFrameRate() : 0;
}

// ---- TMovieRangeDlg ---------------------------------------------------------------------------

namespace {

QToolButton* Button(QWidget* parent, const char* text, const char* hint) {
    auto* b = new QToolButton(parent);
    b->setText(QString::fromUtf8(text));
    b->setToolTip(QString::fromUtf8(hint));
    return b;
}

} // namespace

bool TMovieRangeDlg::Execute(const std::string& fileName, TPartialInfo& range, IUiServices* ui,
                             QWidget* parent, const TMovieRangeSetup& setup) {
    TMovieRangeDlg dlg(ui, parent);
    dlg.PlayerView->SetBackground(setup.Background);
    if (!dlg.Load(fileName, range, setup.Rate))
        return false;
    const int result = ExecHook ? ExecHook(dlg) : dlg.exec();
    dlg.PlayerView->Stop();
    if (result != QDialog::Accepted)
        return false;
    range = dlg.Logic.Range;
    return true;
}

TMovieRangeDlg::TMovieRangeDlg(IUiServices* ui, QWidget* parent)
    : QDialog(parent), Ui(ui), Player(ui, DeviceFactory) {
    setWindowTitle(QStringLiteral("Movie range settings"));
    BuildControls();
}

TMovieRangeDlg::~TMovieRangeDlg() {
    PlayerView->Stop();
}

void TMovieRangeDlg::BuildControls() {
    auto* v = new QVBoxLayout(this);
    PlayerView = new TClipPlayerWidget(Player, this);
    PlayerView->setMinimumSize(320, 240);
    v->addWidget(PlayerView, 1);
    TrackBar = new QSlider(Qt::Horizontal, this);
    TrackBar->setRange(0, 1000000);
    v->addWidget(TrackBar);
    v->addWidget(BuildPlayerRow());
    auto* sides = new QHBoxLayout;
    sides->addWidget(BuildSide(true));
    sides->addWidget(BuildSide(false));
    v->addLayout(sides);
    v->addLayout(MakeOkCancelRow(this, BitBtn1, BitBtn2));
    StatusBar = new QLabel(this);
    v->addWidget(StatusBar);

    tmTrack = new QTimer(this);
    tmTrack->setInterval(100);
    tmStep = new QTimer(this);
    tmStep->setInterval(100);
    connect(TrackBar, &QSlider::valueChanged, this, [this] { TrackBarChange(); });
    connect(tmTrack, &QTimer::timeout, this, [this] { TrackTimer(); });
    connect(tmStep, &QTimer::timeout, this, [this] { StepTick(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { OkClick(); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    PlayerView->OnFrame = [this] { TrackTimer(); };
}

QWidget* TMovieRangeDlg::BuildPlayerRow() {
    auto* row = new QWidget(this);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    sbFirst = Button(row, "First frame", "First frame");
    sbPlay = Button(row, "Play", "Play");
    sbStop = Button(row, "Stop", "Stop");
    sbLast = Button(row, "Last frame", "Last frame");
    sbBefore = Button(row, "<", "Fine step before");
    sbNext = Button(row, ">", "Fine step next");
    auto* group = new QButtonGroup(row);
    for (QToolButton* b : {sbPlay, sbStop}) {
        b->setCheckable(true);
        group->addButton(b);
    }
    sbStop->setChecked(true);
    for (QToolButton* b : {sbFirst, sbPlay, sbStop, sbLast, sbBefore, sbNext})
        h->addWidget(b);
    h->addStretch();
    connect(sbPlay, &QToolButton::clicked, this, [this] { PlayClick(); });
    connect(sbStop, &QToolButton::clicked, this, [this] { StopClick(); });
    connect(sbFirst, &QToolButton::clicked, this, [this] {
        sbStop->setChecked(true);
        StopClick();
        SetPosition(0);
    });
    connect(sbLast, &QToolButton::clicked, this, [this] {
        sbStop->setChecked(true);
        StopClick();
        SetPosition(Logic.FrameCount);
    });
    for (auto [b, dir] : {std::pair{sbBefore, 1}, std::pair{sbNext, 2}}) {
        // A click steps once; held down, the button steps on every tick until released.
        connect(b, &QToolButton::pressed, this, [this, d = dir] {
            StepDirection = d;
            StepTick();
            tmStep->start();
        });
        connect(b, &QToolButton::released, this, [this] { StepDirection = 0; });
    }
    return row;
}

QWidget* TMovieRangeDlg::BuildSide(bool start) {
    auto* box = new QGroupBox(
        start ? QStringLiteral("Starting from :") : QStringLiteral("Ending at :"), this);
    auto* g = new QVBoxLayout(box);
    auto* whole =
        new QRadioButton(start ? QStringLiteral("The begining") : QStringLiteral("The end"), box);
    auto* custom = new QRadioButton(QStringLiteral("Custom"), box);
    auto* edit = new QLineEdit(QStringLiteral("0h:00m:00s:00ms"), box);
    // The edit shows the picked time; times are taken from the player, never typed, so the
    // field reads as a display: no frame, no caret, the window's own background.
    edit->setReadOnly(true);
    edit->setFrame(false);
    edit->setFocusPolicy(Qt::NoFocus);
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Window));
    edit->setPalette(pal);
    auto* pick = Button(box, "!", "Pick current position");
    auto* locate = Button(box, "Locate", "Locate");
    auto* row = new QHBoxLayout;
    row->addWidget(custom);
    row->addWidget(edit);
    row->addWidget(pick);
    row->addWidget(locate);
    g->addWidget(whole);
    g->addLayout(row);
    (start ? rbBeginning : rbEnd) = whole;
    (start ? rbCustomStart : rbCustomEnd) = custom;
    (start ? eStart : eEnd) = edit;
    (start ? sbPickStart : sbPickEnd) = pick;
    (start ? sbLocateStart : sbLocateEnd) = locate;
    connect(whole, &QRadioButton::clicked, this, [this, start] {
        start ? Logic.SetBeginning() : Logic.SetEnd();
        ShowRange();
    });
    connect(custom, &QRadioButton::clicked, this,
            [this, start] { start ? Logic.ChooseCustomStart() : Logic.ChooseCustomEnd(); });
    connect(pick, &QToolButton::clicked, this, [this, start, custom] {
        const Extended now = std::max<Extended>(Player.GetCurrentTime(), 0);
        start ? Logic.PickStart(now) : Logic.PickEnd(now);
        ShowRange();
        custom->setChecked(true);
    });
    connect(locate, &QToolButton::clicked, this,
            [this, start] { SetPosition(start ? Logic.StartPosition() : Logic.EndPosition()); });
    return box;
}

bool TMovieRangeDlg::Load(const std::string& fileName, const TPartialInfo& range, Extended rate) {
    if (!Player.Open(fileName))
        return false;
    Logic.Range = range;
    // The file's own steps serve unless the caller counts at another rate.
    const Extended own = Player.GetRate();
    if (rate > 0 && std::fabs(rate - own) > own * 1e-9L)
        Logic.LoadAt(rate, Player.GetDuration());
    else
        Logic.Load(Player.GetFrameCount(), Player.GetDuration());
    Filling = true;
    TrackBar->setRange(0, Logic.FrameCount);
    TrackBar->setValue(0);
    Filling = false;
    ShowRange();
    LastPosition = -1;
    TrackBarChange();
    tmTrack->start();
    return true;
}

void TMovieRangeDlg::ShowRange() {
    const TPartialInfo& r = Logic.Range;
    (r.FromStart ? rbBeginning : rbCustomStart)->setChecked(true);
    (r.ToEnd ? rbEnd : rbCustomEnd)->setChecked(true);
    // A custom side keeps its edit as it was until a time is picked.
    if (r.FromStart || r.InTime != 0)
        eStart->setText(QString::fromStdString(Logic.StartText()));
    if (r.ToEnd || r.OutTime != 0)
        eEnd->setText(QString::fromStdString(Logic.EndText()));
}

void TMovieRangeDlg::SetPosition(int32_t position) {
    TrackBar->setValue(position);
    TrackBarChange();
}

void TMovieRangeDlg::TrackBarChange() {
    if (Filling)
        return;
    const int32_t position = TrackBar->value();
    if (position != LastPosition) {
        LastPosition = position;
        if (!Player.IsPlaying() && Logic.FramesPerSecond != 0) {
            MovePlayer(position);
            PlayerView->Refresh();
        }
    }
    StatusBar->setText(QString::fromStdString(Logic.StatusText(Player.GetCurrentTime())));
}

void TMovieRangeDlg::MovePlayer(int32_t position) {
    if (Logic.OwnSteps)
        Player.Seek(position);
    else
        Player.SetCurrentTime(Logic.TimeOf(position));
}

int32_t TMovieRangeDlg::PlayerPosition() const {
    return Logic.OwnSteps ? Player.GetPosition() : Logic.FrameOf(Player.GetCurrentTime());
}

void TMovieRangeDlg::PlayClick() {
    PlayerView->Play();
    if (!Player.IsPlaying())
        sbStop->setChecked(true);
}

void TMovieRangeDlg::StopClick() {
    PlayerView->Stop();
}

void TMovieRangeDlg::TrackTimer() {
    if (sbPlay->isChecked()) {
        TrackBar->setValue(PlayerPosition());
        TrackBarChange();
        if (!Player.IsPlaying())
            sbStop->setChecked(true);
    } else if (Player.IsPlaying()) {
        PlayerView->Stop();
    }
}

void TMovieRangeDlg::StepTick() {
    if (StepDirection == 0) {
        tmStep->stop();
        return;
    }
    const int32_t delta = StepDirection == 1 ? -Logic.Step : Logic.Step;
    SetPosition(std::clamp(TrackBar->value() + delta, 0, Logic.FrameCount));
}

void TMovieRangeDlg::OkClick() {
    if (!Logic.IsAcceptable()) {
        if (Ui)
            Ui->Beep();
        return;
    }
    PlayerView->Stop();
    accept();
}
