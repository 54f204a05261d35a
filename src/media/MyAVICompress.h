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

    // Encoding on a worker thread while the next frame renders. QueueFrame hands the current
    // bitmap to the worker (GetCurrentBitmap then names the other of two) and FinishFrame waits
    // for it and fills Frame as CompressFrame does, raising the same exception. Only a begun
    // compression with a compressor queues; one frame at a time.
    bool CanQueue() const { return Begun && Open != nullptr; }
    bool QueueFrame(const TVideoFrameInfo& frame);
    bool FinishFrame(TVideoFrameInfo& frame);

    // The bitmap each export frame is rendered into.
    TBitmap& GetCurrentBitmap() { return Bitmaps[Slot]; }

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
    // The frames the project renders into, Bitmaps[Slot] the current one; its device-independent
    // copy (bottom-up rows) is the stored frame of uncompressed output. The other one is being
    // encoded while a frame is queued.
    TDIBBitmap Bitmaps[2];
    int Slot = 0;
    // What the worker encodes and what it gave; written by the GUI thread only while no frame is
    // queued, read back only after the worker finished.
    struct TQueued {
        TDIBBitmap* Bitmap = nullptr;
        int32_t FrameNumber = 0;
        bool KeyRequest = false;
        int32_t Result = 0;
        TCompressedFrame Out;
    } Queued;
    TWorkerThread Worker{[this] {
        Queued.Result = Open->Compress(Queued.Bitmap->Bits(), Queued.Bitmap->RowBytes(),
                                       Queued.KeyRequest, Queued.Out);
    }};
    std::vector<std::unique_ptr<TVideoCompressorInfo>> List;
    int32_t SelectedIndex = -1;
};
