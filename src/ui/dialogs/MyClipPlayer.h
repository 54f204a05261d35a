// The clip player of the movie-range dialog: opens an AVI movie or a PCM WAV file, shows the
// frame at a position decoded exactly as the render decodes it, plays on a clock that skips the
// frames it is late for, and sends the sound to the wave output device. A sound file has no
// picture and counts its length in milliseconds.
#pragma once

#include <QColor>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MyBase.h"
#include "MyGraphics.h"

class IUiServices;
class IWaveOut;
class QTimer;
class TAviReader;
class TFileWaveStream;
class TPassiveStreamer;

enum class TClipKind { None, Movie, Sound };

class TClipPlayer {
public:
    using TDeviceFactory = std::function<std::unique_ptr<IWaveOut>()>;

    // How far the sound is queued ahead of the clock.
    static constexpr int32_t SoundLeadMs = 200;

    // ui shows the failure to open and gives the clock; makeDevice gives the sound device (the
    // real one when empty).
    explicit TClipPlayer(IUiServices* ui, TDeviceFactory makeDevice = {});
    ~TClipPlayer();
    TClipPlayer(const TClipPlayer&) = delete;
    TClipPlayer& operator=(const TClipPlayer&) = delete;

    // Opens an AVI movie or a WAV file (told apart by their RIFF form) and shows its first
    // frame. Whatever keeps it from being read or from showing that frame gives
    // "Can not open " + name and False.
    bool Open(const std::string& fileName);
    void Close();

    TClipKind Kind() const { return FKind; }
    bool HasSound() const { return SoundPlayable; }
    // Length in steps: frames of a movie, milliseconds of a sound file.
    int32_t GetFrameCount() const { return FrameCount; }
    // Seconds.
    Extended GetDuration() const { return Duration; }
    // Steps per second: the movie's frame rate, or 1000.
    Extended GetRate() const { return Rate; }

    // Position in steps, 0..GetFrameCount().
    int32_t GetPosition() const { return Position; }
    // Moves to step pos (clamped) and shows its frame; the end shows the last frame.
    void Seek(int32_t pos);
    // Seconds of the position.
    Extended GetCurrentTime() const;
    void SetCurrentTime(Extended seconds);

    // Starts from the position (from the beginning when at the end).
    void Play();
    void Stop();
    bool IsPlaying() const { return Playing; }
    // Follows the clock while playing: shows the frame due now, skipping those it is late for,
    // keeps the sound queued ahead, and stops at the end. True when the picture changed.
    bool Tick();

    // The frame shown: the movie's size (empty for a sound file).
    const TBitmap& Picture() const { return Frame; }
    // Frame index in the picture (-1: none).
    int32_t GetShownFrame() const { return ShownFrame; }
    // Frames skipped since the last Play.
    int32_t GetDroppedFrames() const { return Dropped; }

private:
    bool OpenMovie(const std::string& fileName);
    bool OpenSound(const std::string& fileName);
    void ShowFrame(int32_t pos);
    void StartSound();
    void StopSound();
    void FeedSound(int32_t upTo);
    bool ReadSound(int32_t from, int32_t to, std::vector<uint8_t>& out);
    int64_t Now() const;

    IUiServices* Ui;
    TDeviceFactory MakeDevice;
    TClipKind FKind = TClipKind::None;
    std::unique_ptr<TAviReader> Reader;
    std::unique_ptr<TFileWaveStream> Wave;
    int32_t FrameCount = 0;
    Extended Duration = 0;
    Extended Rate = 0;
    int32_t Position = 0;
    TBitmap Frame;
    int32_t ShownFrame = -1;
    int32_t Dropped = 0;

    bool Playing = false;
    int64_t PlayClock = 0; // clock at Play
    int32_t PlayStart = 0; // position at Play
    bool SoundPlayable = false;
    std::unique_ptr<TPassiveStreamer> Streamer;
    int32_t SoundNext = 0; // first step whose sound is not queued yet
    std::vector<uint8_t> SoundBuffer;
    std::vector<uint8_t> StepBuffer;
};

// The player's picture: the frame centred on the panel's background (black unless set), scaled
// down to fit when it is larger; a timer drives the clock while it plays.
class TClipPlayerWidget : public QWidget {
    Q_OBJECT
public:
    explicit TClipPlayerWidget(TClipPlayer& player, QWidget* parent = nullptr);

    void Play();
    void Stop();
    // Repaints after the player moved.
    void Refresh() { update(); }
    void SetBackground(const QColor& color);
    const QColor& GetBackground() const { return Background; }
    QTimer* GetTimer() const { return Timer; }

    // Called after every clock step that changed the picture.
    std::function<void()> OnFrame;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void TimerTick();

    TClipPlayer& Player;
    QTimer* Timer;
    QColor Background = Qt::black;
};
