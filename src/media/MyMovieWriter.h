// The project's one sink for movie exports: routes each export to the AVI writer (frames encoded
// by the project's compressor choice) or to the Windows Media writer, and defines the per-frame
// record the export loop exchanges with them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "IUiServices.h"
#include "MyAVICompress.h"
#include "MyAviWriter.h"
#include "MyGraphics.h"
#include "MyWMVWriter.h"

// One frame on its way into the movie file; the export loop keeps one for the whole export.
struct TVideoFrameInfo {
    int32_t FrameNumber = 0;    // in: frames written before this one
    const void* Data = nullptr; // out: the encoded frame, valid until the next frame
    int32_t Size = 0;           // out: bytes of Data
    bool KeyRequest = false;    // in: the caller wants a key frame
    uint32_t Flags = 0;         // out: the encoder's flags; AVIIF_KEYFRAME on key frames
    int32_t FramesSinceKey = 0; // the export loop's own count; the writers leave it alone
    TBitmap* Bitmap = nullptr;  // out: the frame's bitmap
};

// What the export loop needs of a movie writer (a test gives it a fake).
class IMovieWriter {
public:
    virtual ~IMovieWriter() = default;
    // The Windows Media profile GUID text for the next Windows Media export.
    virtual void SetProfile(const std::string& profileGuidText) = 0;
    virtual bool Open(bool useWMV, const std::string& fileName, TAviCompress& compressor,
                      const TExportSettings& settings) = 0;
    // Where the project renders the next frame; null before the first AVI or Windows Media Open
    // has named a bitmap.
    virtual TBitmap* GetBitmap() = 0;
    virtual bool WriteVideoFrame(TVideoFrameInfo& frame) = 0;
    // Frames encoded on workers while the next ones render: QueueVideoFrame starts encoding the
    // frame rendered into GetBitmap (a copy of it; the bitmap stays the one to render into) and
    // WriteQueuedVideoFrame waits for the oldest queued frame and writes it as WriteVideoFrame
    // would have. At most VideoQueueDepth frames are queued. A writer that cannot says so.
    virtual bool CanQueueVideo() { return false; }
    virtual int VideoQueueDepth() { return 0; }
    virtual bool QueueVideoFrame(TVideoFrameInfo& frame) {
        (void)frame;
        return false;
    }
    virtual bool WriteQueuedVideoFrame(TVideoFrameInfo& frame) {
        (void)frame;
        return false;
    }
    // size in bytes, count in sample frames.
    virtual bool WriteAudio(const void* buffer, uint32_t size, uint32_t count) = 0;
    // A non-zero frame rate replaces the settings' rate in AVI headers.
    virtual bool Close(Extended frameRate) = 0;
};

class TMovieWriter : public IMovieWriter {
public:
    // indexFolder: where the AVI writer spools its index (empty: the user's cache folder).
    explicit TMovieWriter(IUiServices& ui, const std::string& indexFolder = {});
    ~TMovieWriter() override;

    void SetProfile(const std::string& profileGuidText) override { Profile = profileGuidText; }
    // Windows Media: the compressor is not used. AVI: the compressor is prepared for the
    // settings' frames (its failure is reported here) and the file's headers are written.
    bool Open(bool useWMV, const std::string& fileName, TAviCompress& compressor,
              const TExportSettings& settings) override;
    TBitmap* GetBitmap() override;
    // AVI: encodes the frame and stores it. A compressor error ends the AVI file where it is
    // and is raised on. Windows Media: writes the canvas as the frame's picture.
    bool WriteVideoFrame(TVideoFrameInfo& frame) override;
    // AVI exports with a compressor queue their frames.
    bool CanQueueVideo() override;
    int VideoQueueDepth() override;
    bool QueueVideoFrame(TVideoFrameInfo& frame) override;
    bool WriteQueuedVideoFrame(TVideoFrameInfo& frame) override;
    // AVI: one audio chunk. Windows Media: the frame's sound (count is not needed).
    bool WriteAudio(const void* buffer, uint32_t size, uint32_t count) override;
    bool Close(Extended frameRate) override;

    bool IsWMV() const { return UseWMV; }
    const std::string& GetProfile() const { return Profile; }
    TAviWriter& GetAviWriter() { return Avi; }
    TWMVWriter& GetWMVWriter() { return WMV; }

private:
    // Runs the encoder's step and stores its frame; a failing encoder closes the file so the
    // frames so far stay readable.
    bool StoreEncoded(TVideoFrameInfo& frame, const std::function<bool()>& encode);

    IUiServices& Ui;
    std::string Profile;
    bool UseWMV = false;
    TWMVWriter WMV;
    TAviWriter Avi;
    TAviCompress* Compressor = nullptr; // of the last AVI Open
};
