// Writes a movie export as a Windows Media file: an ASF container with one video stream (WMV 8)
// and one audio stream (WMA 2) as the chosen profile has them; an audio-only profile gives a
// ".wma" file. Pictures and sound are separate streams with their own clocks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "IUiServices.h"
#include "MyFileReplace.h"
#include "MyGraphics.h"
#include "MyWMFBase.h"

class TWMVWriter : public TWMFBase {
public:
    // Longest output file name the writer takes, in UTF-16 units.
    static constexpr int32_t MaxFileNameChars = 1024;
    // Failed samples tolerated in a row before the export is given up.
    static constexpr int32_t MaxFailedSamples = 16;

    explicit TWMVWriter(IUiServices& ui);
    ~TWMVWriter() override;
    TWMVWriter(const TWMVWriter&) = delete;
    TWMVWriter& operator=(const TWMVWriter&) = delete;

    // Starts an export to info.Name with the profile info.Profile (the current one when empty):
    // frames of info's size, sound in info's PCM format. Frame n's picture and sound are both
    // stamped n / frame rate. False with a message when the sound is not PCM, the file name
    // cannot be used, an existing file is in use, or the file cannot be made. The file is
    // written under a temporary name beside info.Name.
    bool Open(const TWMFInfo& info);
    // The picture the project renders the next frame into.
    TBitmap& GetBitmap() { return Canvas; }
    // The next block of sound (size bytes in the info's format). Dropped when the profile has no
    // audio stream. A block or picture that cannot be written is dropped and counted; False once
    // more than MaxFailedSamples have failed with no whole frame between them.
    bool WriteAudio(const void* buffer, uint32_t size);
    // The canvas as the picture of the next frame (a frame at the info's rate). The file holds
    // the profile's frame rate: each of its frames shows the picture of the time it falls in.
    // Nothing is written when the profile has no video stream.
    bool WriteVideoFrame();
    // Flushes both encoders and finishes the file; True only when all of it reached the file. A
    // complete file then replaces the one at the name (moved to the trash); an incomplete one is
    // removed and the old file stays as it was.
    bool Close();

    bool IsOpen() const;
    const std::string& GetProfile() const { return ProfileGuid; }
    // Stream numbers in the file; -1 when the profile has no such stream.
    int32_t GetAudioInput() const { return AudioInput; }
    int32_t GetVideoInput() const { return VideoInput; }
    // 100 ns units of one frame, and the time slot of the next picture.
    int64_t GetFrameDuration() const { return FrameDuration; }
    int32_t GetFrameCounter() const { return FrameCounter; }
    // The video encoder's time base while a file is open: Num / Den seconds a tick. False
    // without a video stream.
    bool GetVideoTimeBase(int32_t& num, int32_t& den) const;

private:
    struct TStreams;
    bool Refuse(const std::string& text);
    // Steps of Open: take the settings and check them (false, said to the user where it is
    // theirs to mend, when they cannot be used), and open each encoder with its stream.
    bool TakeOpenSettings(const TWMFInfo& info);
    bool OpenAudioEncoder(const TWMFInfo& info, const TWMFParams& p);
    bool OpenVideoEncoder(const TWMFInfo& info, const TWMFParams& p);
    // Counts a sample that could not be written; false once too many failed in a row.
    bool SampleFailed();
    bool EncodePicture();
    bool PushSound(const uint8_t* data, int32_t sampleFrames);
    bool PushSilence(int64_t samples);
    bool EncodeSound(bool flush);
    bool WriteAudioFrame(int32_t samples);
    bool Drain(int which);
    void Release();

    IUiServices& Ui;
    std::string ProfileGuid;
    int32_t AudioInput = -1;
    int32_t VideoInput = -1;
    TWMFInfo Info;
    TBitmap Canvas;
    int32_t FrameCounter = 0;
    int64_t FrameDuration = 0;
    // Frames per second of the file, the profile's rate exactly: Num / Den.
    struct TRate {
        int32_t Num = 0;
        int32_t Den = 1;
    } OutputRate;
    int64_t SlotsNum = 1; // file frames per project frame: SlotsNum / SlotsDen
    int64_t SlotsDen = 1;
    int32_t FailureCount = 0; // failed samples since the last frame that had none
    bool FrameFailed = false; // a sample of the frame being written failed
    bool Failed = false;
    std::unique_ptr<TStreams> S;
    // The file goes to a temporary name beside Info.Name until Close completes it.
    std::unique_ptr<TFileReplacement> Replacement;
};
