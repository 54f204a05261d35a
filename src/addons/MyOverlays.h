// The picture and movie overlays: a still picture drawn plainly, with a key colour, as scrolling
// credits, as a focus window or scaled and rotated; and the frames of a second movie drawn plainly,
// blended by an opacity level or cut to a circle. All are centred on the node's position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MyCustomAddOn.h"

class TMovieInterface;

// A new bitmap of source's size showing source turned by degrees about its centre (nearest
// neighbour); target pixels whose source lies outside are the colour. 0 degrees is an exact copy.
TBitmap RotateBitmap(const TBitmap& source, uint32_t colour, Extended degrees);

// Base of the built-in picture and movie overlays. The node's children are composed once per frame
// by each overlay into a picture of that frame (ComposeChildren), never into the kept picture, so
// the call that runs ahead of DoOverlay is left out.
class TOverlay : public TCustomOverlay {
public:
    using TCustomOverlay::TCustomOverlay;

protected:
    void CallBeforeDraw() override {}
    // Renders the overlay node's children into target at the time of this Run.
    void ComposeChildren(TBitmap& target);
    // The snapshot for this frame; False (nothing to draw) without a frame or a snapshot.
    bool GetSnapshot(TNodeInfo& info);
    // Top-left frame pixel of a w x h picture centred on the snapshot's position.
    void Placement(const TNodeInfo& info, int32_t w, int32_t h, int64_t& px, int64_t& py) const;

    // Stores Params and, when the file exists, loads its picture as the kept picture. A file
    // that cannot be read leaves no picture and a load message; it never raises.
    void LoadPicture(const std::string& text);
    // The kept picture with this frame's children composed over it; null when there is none.
    const TBitmap* ComposedPicture();
    // "<what>", "Width:  <w>", "Height: <h>" for a loaded picture, else why there is none.
    bool PictureInfo(std::vector<std::string>& lines, const std::string& what);

private:
    TBitmap Composed;
};

// The picture drawn whole over the frame.
class TBitmapOverlay : public TOverlay {
public:
    explicit TBitmapOverlay(TAddOnBridge& bridge);

    void SetParams(const std::string& text) override;
    bool GetInfo(std::vector<std::string>& lines) override;
    bool DoOverlay(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) override;
};

// The picture without the colour of its top-left pixel, which stays transparent.
class TOpaqueBitmapOverlay : public TBitmapOverlay {
public:
    using TBitmapOverlay::TBitmapOverlay;
    bool DoOverlay(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) override;
};

// The frame turns grey except through the picture's window in the "Color as opaque" colour;
// the rest of the picture is laid over it, its key colour greyed too.
class TFocusOverlay : public TBitmapOverlay {
public:
    explicit TFocusOverlay(TAddOnBridge& bridge);
    bool DoOverlay(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) override;
};

// The picture scaled by the "Bitmap sizing" curve and turned by the "Rotation speed" level
// (-1..1 is +180..-180 degrees); the "Color as opaque" colour is transparent.
class TRotateOverlay : public TBitmapOverlay {
public:
    explicit TRotateOverlay(TAddOnBridge& bridge);
    // Set while drawing, so a nested call made by the children's render returns at once.
    bool Busy = false;
    bool DoOverlay(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) override;

private:
    TBitmap Scaled;
};

// Credits moving up from the node's position by (level + 1) x 3 pixels per frame; the picture's
// top-left colour is transparent.
class TCreditOverlay : public TOverlay {
public:
    explicit TCreditOverlay(TAddOnBridge& bridge);

    void SetParams(const std::string& text) override;
    bool GetInfo(std::vector<std::string>& lines) override;
    bool DoOverlay(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) override;
};

// The frames of a second movie, scaled by the sizing curve (1 its own size, 0 half, -1 one
// pixel) and drawn over the frame. The movie is read through an interface the project lends.
class TMovieOverlay : public TOverlay {
public:
    explicit TMovieOverlay(TAddOnBridge& bridge);
    ~TMovieOverlay() override;

    TMovieInterface* Movie = nullptr;

    // Opens the movie; an open one gives the overlay its length.
    void SetParams(const std::string& text) override;
    bool GetInfo(std::vector<std::string>& lines) override;
    bool DoOverlay(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) override;

protected:
    enum class TMovieFrame { NoMovie, NotOpen, NoInfo, NoFrame, Ready };
    // The steps every movie overlay takes: the movie frame at the scaled size, with the node's
    // children over it, in FrameBitmap; px, py where it goes on the frame.
    TMovieFrame PrepareFrame(Extended time, Extended fps, TNodeInfo& info, int64_t& px,
                             int64_t& py);
    // The picture the movie frames are fetched into. It is the bridge's own one even in the
    // add-on preview, whose shared picture a movie frame must not overwrite.
    TBitmap& FrameBitmap() { return Bridge->WorkBitmap; }
};

// The movie mixed into the frame by the "Opacity level" curve: -1 invisible, 0 half, 1 opaque.
class TTransMovieOverlay : public TMovieOverlay {
public:
    explicit TTransMovieOverlay(TAddOnBridge& bridge);
    bool DoOverlay(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) override;
};

// The movie cut to the largest circle centred in its scaled picture.
class TRoundMovieOverlay : public TMovieOverlay {
public:
    using TMovieOverlay::TMovieOverlay;
    bool DoOverlay(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) override;

    // One byte per pixel, rows of w bytes: not 0 inside the circle of a w x h picture. Built on
    // the first frame of each size and kept.
    const std::vector<uint8_t>& GetMask(int32_t w, int32_t h);

private:
    std::vector<uint8_t> Mask;
    int32_t MaskWidth = 0;
    int32_t MaskHeight = 0;
};
