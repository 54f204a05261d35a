#include "MyClipPlayer.h"

#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "IUiServices.h"
#include "MyAVIReader.h"
#include "MyRiffIO.h"
#include "MyWavStreaming.h"
#include "MyWaveOut.h"
#include "waveio.h"

namespace {

// The RIFF form type of the file (RIFF_ID_WAVE, RIFF_ID_AVI, ...); 0 when it is no RIFF file.
// False when it is no regular file: a FIFO or a device is never waited on.
bool RiffForm(const std::string& fileName, uint32_t& form) {
    form = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(OpenRegularFile(fileName),
                                                            &std::fclose);
    if (!f)
        return false;
    uint8_t head[12] = {};
    if (std::fread(head, 1, sizeof head, f.get()) == sizeof head &&
        MakeFourCC(head[0], head[1], head[2], head[3]) == RIFF_ID_RIFF)
        form = MakeFourCC(head[8], head[9], head[10], head[11]);
    return true;
}

bool Playable(const TAudioFormat& f) {
    TWaveOutFormat w;
    w.FormatTag = f.Wfx.wFormatTag;
    w.Channels = f.Wfx.nChannels;
    w.SamplesPerSec = f.Wfx.nSamplesPerSec;
    w.AvgBytesPerSec = f.Wfx.nAvgBytesPerSec;
    w.BlockAlign = f.Wfx.nBlockAlign;
    w.BitsPerSample = f.Wfx.wBitsPerSample;
    return IsPlayableWaveFormat(w);
}

int32_t ClampToInt32(Extended v) {
    if (!(v > 0))
        return 0;
    return v >= Extended(INT32_MAX) ? INT32_MAX : int32_t(v);
}

} // namespace

TClipPlayer::TClipPlayer(IUiServices* ui, TDeviceFactory makeDevice)
    : Ui(ui), MakeDevice(std::move(makeDevice)) {}

TClipPlayer::~TClipPlayer() {
    Close();
}

bool TClipPlayer::Open(const std::string& fileName) {
    Close();
    uint32_t form = 0;
    const bool ok = RiffForm(fileName, form) &&
                    (form == RIFF_ID_WAVE ? OpenSound(fileName) : OpenMovie(fileName));
    if (!ok) {
        Close();
        if (Ui)
            Ui->ShowMessage("Can not open " + fileName);
    }
    return ok;
}

bool TClipPlayer::OpenMovie(const std::string& fileName) {
    if (!FileExists(fileName))
        return false;
    // The reader stays silent: the one message comes from Open.
    Reader = std::make_unique<TAviReader>(nullptr);
    if (!Reader->Open(fileName))
        return false;
    FKind = TClipKind::Movie;
    FrameCount = std::max(Reader->GetFrameCount(), 0);
    Rate = Reader->GetFrameRate();
    Duration = Reader->GetDuration();
    if (FrameCount > 0) {
        Frame.SetSize(Reader->GetWidth(), Reader->GetHeight());
        // A movie whose first frame can not be decoded would show nothing at all.
        if (!Reader->GetFrame(0, Frame))
            return false;
        ShownFrame = 0;
    }
    SoundPlayable = Reader->HasAudio() && Playable(Reader->GetDecodedPcmFormat());
    return true;
}

bool TClipPlayer::OpenSound(const std::string& fileName) {
    try {
        Wave = std::make_unique<TFileWaveStream>(fileName);
    } catch (const Exception&) {
        return false;
    }
    const uint32_t rate = Wave->GetFormat().nSamplesPerSec;
    if (rate == 0)
        return false;
    FKind = TClipKind::Sound;
    Duration = Extended(Wave->GetLength()) / rate;
    Rate = 1000;
    FrameCount = ClampToInt32(std::nearbyintl(Duration * 1000));
    SoundPlayable = Playable(Wave->GetAudioFormat());
    return true;
}

void TClipPlayer::Close() {
    Stop();
    Reader.reset();
    Wave.reset();
    FKind = TClipKind::None;
    FrameCount = 0;
    Duration = 0;
    Rate = 0;
    Position = 0;
    ShownFrame = -1;
    SoundPlayable = false;
    Frame.SetSize(0, 0);
}

void TClipPlayer::ShowFrame(int32_t pos) {
    if (FKind != TClipKind::Movie || FrameCount <= 0)
        return;
    const int32_t index = std::clamp(pos, 0, FrameCount - 1);
    if (index == ShownFrame)
        return;
    // A frame that fails to decode leaves the last picture; it is not tried again at once.
    Reader->GetFrame(index, Frame);
    ShownFrame = index;
}

void TClipPlayer::Seek(int32_t pos) {
    Position = std::clamp(pos, 0, FrameCount);
    ShowFrame(Position);
    if (Playing) {
        // Playing on from here: the clock and the sound start again at the new place.
        StopSound();
        PlayStart = Position;
        PlayClock = Now();
        StartSound();
    }
}

Extended TClipPlayer::GetCurrentTime() const {
    return Rate > 0 ? Position / Rate : 0;
}

void TClipPlayer::SetCurrentTime(Extended seconds) {
    Seek(ClampToInt32(std::nearbyintl(seconds * Rate)));
}

int64_t TClipPlayer::Now() const {
    return Ui ? Ui->TickCount() : 0;
}

void TClipPlayer::Play() {
    if (Playing || FrameCount <= 0 || !(Rate > 0))
        return;
    if (Position >= FrameCount)
        Position = 0;
    ShowFrame(Position);
    PlayStart = Position;
    PlayClock = Now();
    Dropped = 0;
    Playing = true;
    StartSound();
}

void TClipPlayer::Stop() {
    Playing = false;
    StopSound();
}

bool TClipPlayer::Tick() {
    if (!Playing)
        return false;
    const Extended elapsed = Extended(std::max<int64_t>(Now() - PlayClock, 0));
    const int64_t due = int64_t(PlayStart) + int64_t(std::floor(elapsed * Rate / 1000));
    const int32_t lead = int32_t(std::ceil(Rate * SoundLeadMs / 1000));
    FeedSound(int32_t(std::min<int64_t>(due + lead, FrameCount)));
    const int32_t before = ShownFrame;
    const int32_t target = int32_t(std::min<int64_t>(due, FrameCount));
    if (target == Position && target < FrameCount)
        return false;
    const int32_t shown = std::min(target, FrameCount - 1);
    if (FKind == TClipKind::Movie && shown > ShownFrame + 1)
        Dropped += shown - ShownFrame - 1;
    Position = target;
    ShowFrame(Position);
    if (Position >= FrameCount)
        Stop();
    return ShownFrame != before;
}

void TClipPlayer::StartSound() {
    if (!SoundPlayable)
        return;
    TAudioFormat format{};
    if (FKind == TClipKind::Movie) {
        format = Reader->GetDecodedPcmFormat();
        Reader->UnprepareAudio();
        Reader->PrepareAudio(format, Rate);
    } else {
        format = Wave->GetAudioFormat();
    }
    Streamer = std::make_unique<TPassiveStreamer>(Ui, MakeDevice ? MakeDevice() : nullptr);
    Streamer->Init(format, {}, {});
    SoundNext = Position;
}

void TClipPlayer::StopSound() {
    if (!Streamer)
        return;
    Streamer->Stop();
    Streamer.reset();
    if (Reader)
        Reader->UnprepareAudio();
}

void TClipPlayer::FeedSound(int32_t upTo) {
    if (!Streamer || SoundNext >= upTo)
        return;
    if (Streamer->IsTerminated() || !ReadSound(SoundNext, upTo, SoundBuffer)) {
        // A device that failed or a track that can not be read: the picture plays on alone.
        StopSound();
        return;
    }
    SoundNext = upTo;
    TAudioBlock block(SoundBuffer.data(), SoundBuffer.size());
    Streamer->Write(block);
}

bool TClipPlayer::ReadSound(int32_t from, int32_t to, std::vector<uint8_t>& out) {
    out.clear();
    if (FKind == TClipKind::Movie) {
        for (int32_t f = from; f < to; ++f) {
            if (!Reader->ReadAudio(f, StepBuffer, f / Rate))
                return false;
            out.insert(out.end(), StepBuffer.begin(), StepBuffer.end());
        }
        return true;
    }
    const TWaveFormatEx& w = Wave->GetFormat();
    // Sample frames from one line, so consecutive pieces join without a gap.
    const int64_t a = Round64(Extended(from) * w.nSamplesPerSec / 1000);
    const int64_t b = Round64(Extended(to) * w.nSamplesPerSec / 1000);
    const size_t align = w.nBlockAlign;
    out.assign(size_t(b - a) * align, w.wBitsPerSample == 8 ? 0x80 : 0);
    Wave->ReadAt(a, out.data(), b - a);
    return true;
}

// ---- TClipPlayerWidget ----------------------------------------------------------------------

TClipPlayerWidget::TClipPlayerWidget(TClipPlayer& player, QWidget* parent)
    : QWidget(parent), Player(player), Timer(new QTimer(this)) {
    Timer->setInterval(5);
    connect(Timer, &QTimer::timeout, this, [this] { TimerTick(); });
}

void TClipPlayerWidget::Play() {
    Player.Play();
    if (Player.IsPlaying())
        Timer->start();
    update();
}

void TClipPlayerWidget::Stop() {
    Timer->stop();
    Player.Stop();
    update();
}

void TClipPlayerWidget::TimerTick() {
    const bool changed = Player.Tick();
    if (!Player.IsPlaying())
        Timer->stop();
    if (changed) {
        update();
        if (OnFrame)
            OnFrame();
    }
}

void TClipPlayerWidget::SetBackground(const QColor& color) {
    Background = color;
    update();
}

void TClipPlayerWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Background);
    const TBitmap& b = Player.Picture();
    if (b.Empty())
        return;
    const QImage view(b.Bits(), b.Width(), b.Height(), b.RowBytes(), QImage::Format_BGR888);
    QSize size(b.Width(), b.Height());
    if (size.width() > width() || size.height() > height())
        size.scale(this->size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    p.drawImage(target, view);
}
