// A bitmap clip: a folder of still pictures (".jpg", ".jpeg", ".bmp", ".gif") played in name
// order at a chosen rate, each stretched onto the whole frame.
#pragma once

#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "MyBlankNode.h"
#include "MyGraphics.h"
#include "MyTreeNode.h"

class TPictureLoader;

class TClipNode : public TMasterNode {
public:
    TClipNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
    ~TClipNode() override;

    // Pictures per second; 0 while unset.
    Extended ClipRate = 0;
    // The folder as the user gave it (stored in the project file).
    std::string Folder;

    // Stores the folder and lists its pictures again. A missing or unreadable folder gives an
    // empty list.
    void SetFolder(const std::string& folder);
    int32_t GetPictureCount() const { return static_cast<int32_t>(FPictures.size()); }
    // File names (no folder) of the pictures, sorted by name without regard to case.
    const std::vector<std::string>& GetPictures() const { return FPictures; }
    // The picture shown at project time t.
    int32_t GetPictureIndex(Extended t);

    // 1.0 s with no rate, else pictures / rate.
    Extended GetNaturalDuration() override;
    void SetSourceFrameRate(Extended rate) override;
    Extended GetSourceFrameRate() override { return ClipRate; }
    // Size of the first picture; 320 x 240 when there is none or it can not be read.
    int32_t GetSourceWidth() override;
    int32_t GetSourceHeight() override;

    // Draws the picture of t over the whole bitmap, then the children. A missing, unreadable or
    // damaged picture leaves the bitmap black and answers false.
    bool PrepareFrame(TBitmap* bitmap, Extended t) override;
    bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) override;

protected:
    // Called once per rendered frame with sound wanted; passes the block to the project.
    virtual void HandFrameSilence(TFrameSilence& silence) { DeliverFrameSilence(*this, silence); }

    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;

private:
    // Stretches the picture of t over the whole bitmap; black and false when it can not be had.
    bool DrawPicture(TBitmap* bitmap, Extended t);
    // Full name of picture i (folder with a trailing separator, then the name).
    std::string PicturePath(int32_t index) const;
    // Decodes a picture for a frame of the given size, or takes it from the cache.
    const TBitmap* GetPicture(const std::string& path, int32_t fitWidth, int32_t fitHeight);
    bool FirstPictureSize(int32_t& width, int32_t& height);
    // Names a picture that cannot be read and why, the first time a render meets it.
    void TellUnreadable(const std::string& path, const std::string& why);

    std::vector<std::string> FPictures;
    std::unique_ptr<TPictureLoader> FLoader;
    // Pictures already named as unreadable since the folder was set.
    std::set<std::string> FToldUnreadable;

    // The last picture decoded: shown for many frames in a row, it is decoded once. The file's
    // size and change time are part of the key so an edited picture is read again.
    struct TPictureCache {
        std::string Path;
        int64_t FileSize = -1;
        std::timespec Changed{};
        int32_t FitWidth = 0;
        int32_t FitHeight = 0;
        bool Filled = false; // the key names a file read before
        bool Ok = false;     // and that read gave Picture
        TBitmap Picture;
    } FCache;
};
