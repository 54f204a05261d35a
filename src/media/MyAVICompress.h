// The project's choice of video compressor and the machinery that turns each rendered export
// frame into an encoded AVI frame: the list of compressors (uncompressed 24-bit first), the
// selection by FOURCC, the about box, and Prepare / CompressFrame / EndCompress of one export.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IUiServices.h"
#include "MyBase.h"
#include "MyCommonParams.h"
#include "MyDIBBitmap.h"
#include "MyGraphics.h"
#include "MyVideoCompressLayer.h"
#include "MyWorkerThread.h"

struct TVideoFrameInfo;

// What the AVI writer prepares a compression with; VideoFormat comes back filled.
struct TAviCompressParams {
    Extended FrameRate = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t FrameCount = 0;
    TPixelFormat PixelFormat = pf24bit;
    TBitmapInfoHeader VideoFormat{}; // out: the video stream's format ("strf")
};

// One line of a compressor list box: the entry's description and its record.
struct TCompressorListItem {
    std::string Text;
    const TVideoCompressorInfo* Object = nullptr;
};

inline constexpr const char* UncompressedName = "Uncompressed";
inline constexpr const char* UncompressedDescription = "Uncompressed 24bits DIB";

class TAviCompress {
public:
    explicit TAviCompress(IUiServices& ui,
                          IVideoCompressorList& compressors = LibavVideoCompressors());
    ~TAviCompress();
    TAviCompress(const TAviCompress&) = delete;
    TAviCompress& operator=(const TAviCompress&) = delete;

    // Rebuilds the list (the selection goes back to "Uncompressed") and lists every entry's
    // description. Refused (False, nothing changes) while a compression runs.
    bool FillCompressorList(std::vector<TCompressorListItem>& strings);
    // Selects the first entry with this handler and opens its compressor. False when no entry
    // has it ("Uncompressed" is selected and the user is told), when it cannot be opened (the
    // user is told; the entry stays selected with no compressor open) and, changing nothing,
    // while a compression runs.
    bool SelectCompressor(uint32_t fourCC);
    // Position of the first entry with this handler; -1 when none has it.
    int32_t FindCompressor(uint32_t fourCC) const;
    // Handler of the selected entry; 0 for "Uncompressed" or no selection.
    uint32_t GetFourCC() const;
    std::string GetDescription() const;
    // Position of the selected entry; -1 when none is selected.
    int32_t GetSelectedIndex() const;
    bool HasAboutBox() const;
    // Shows the open compressor's about box; True when there is none to show.
    bool ShowAboutBox();

    // Starts a compression for frames of the given size and fills the video format. False
    // without a message when the compressor refuses (the caller reports it).
    bool Prepare(TAviCompressParams& params);
    // Encodes the current bitmap: fills Frame's data, size, flags and bitmap. A compressor error
    // raises Exception "Fail to compress frame N Error code: R". False when nothing is prepared.
    bool CompressFrame(TVideoFrameInfo& frame);
    // True when a begun compression was ended.
    bool EndCompress();
    bool IsBegun() const { return Begun; }

    // Encoding on workers while the next frames render. QueueFrame copies the current bitmap to
    // a free slot and starts encoding it there; FinishFrame waits for the oldest queued frame and
    // fills Frame as CompressFrame does, raising the same exception. An encoder whose frames
    // stand alone (every one a key frame) codes up to SetEncodeThreads frames at once, each slot
    // on its own encoder; any other keeps one encoder, one frame at a time, in order. Only a
    // begun compression with a compressor and more than one encode thread queues.
    void SetEncodeThreads(int threads) { EncodeThreads = threads < 1 ? 1 : threads; }
    bool CanQueue() const { return Begun && Open != nullptr && !Slots.empty(); }
    // Frames queued and not yet finished, and how many may be.
    int QueuedFrames() const { return Queued; }
    int QueueDepth() const { return int(Slots.size()); }
    bool QueueFrame(const TVideoFrameInfo& frame);
    bool FinishFrame(TVideoFrameInfo& frame);

    // The bitmap each export frame is rendered into. It is the same one for the whole export, so
    // a frame that draws nothing over it keeps the frame before, however frames are encoded.
    TBitmap& GetCurrentBitmap() { return Render; }

private:
    void BuildList();
    void CloseCompressor();
    const TVideoCompressorInfo* Selected() const;
    bool FitsPrepared(const TBitmap& bitmap) const;
    // Fills Frame from an encoded frame or raises the compressor's error for frameNumber.
    void TakeEncoded(int32_t result, const TCompressedFrame& out, int32_t frameNumber,
                     TDIBBitmap& bitmap, TVideoFrameInfo& frame);

    IUiServices& Ui;
    IVideoCompressorList& Compressors;
    std::unique_ptr<IVideoCompressor> Open;
    TPixelFormat PixelFormat = pf24bit;
    bool Begun = false;
    int32_t PreparedWidth = 0;
    int32_t PreparedHeight = 0;
    // One frame on its way through a worker: a copy of the rendered frame, the encoder that
    // codes it, and what came out. Written by the GUI thread only while the slot is idle, read
    // back only after its worker finished.
    struct TEncodeSlot {
        TDIBBitmap Bitmap;
        std::unique_ptr<IVideoCompressor> Own; // the slot's encoder, when it has one of its own
        IVideoCompressor* Encoder = nullptr;
        int32_t FrameNumber = 0;
        bool KeyRequest = false;
        int32_t Result = 0;
        TCompressedFrame Out;
        std::unique_ptr<TWorkerThread> Worker;
    };
    // Builds the slots of a begun compression; false when an encoder of a slot cannot begin.
    bool PrepareSlots(const TVideoCompressFormat& format);
    // Ends the workers and removes the slots; queued frames are dropped.
    void DropSlots();

    // The frame the project renders into; its device-independent copy (bottom-up rows) is the
    // stored frame of uncompressed output.
    TDIBBitmap Render;
    int EncodeThreads = 1;
    std::vector<std::unique_ptr<TEncodeSlot>> Slots;
    int Oldest = 0; // slot of the oldest queued frame
    int Queued = 0;
    std::vector<std::unique_ptr<TVideoCompressorInfo>> List;
    int32_t SelectedIndex = -1;
};
