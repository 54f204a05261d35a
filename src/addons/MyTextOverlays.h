// The text overlays: the node's key-framed lines drawn in the node's font, centred on the node's
// position, either keyed over the frame (text and subtitle overlays) or blended into it by the
// level curve (opaque text overlay).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "MyCustomAddOn.h"

class TFontInfo;

// Largest font size drawn, in points; sizes read from files may be anything.
constexpr int32_t MaxTextFontSize = 1000;

class TSimpleTextOverlay : public TCustomOverlay {
public:
    explicit TSimpleTextOverlay(TAddOnBridge& bridge);

    // The text block, black where there is no text. Only the part of the block that falls on
    // the frame is rendered, so it is never larger than the frame.
    TBitmap TextImage;
    // Frame position of TextImage's top-left pixel.
    TPoint TextOrigin;
    // The whole block in frame coordinates (empty when nothing is to be drawn).
    TRect TextBlock;

    void ReadData(TValueReader& reader) override;
    bool DoOverlay(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) override;
    // Draws TextImage onto Bitmap; black pixels are left out.
    virtual bool DrawText(int32_t frame);

    // Renders the text of the current snapshot; False without one.
    bool PrepareText();
    // Lays the lines out as a block centred on centre (frame pixels) and renders the part of it
    // that a frame of frameW x frameH shows. No lines, no font or a scaled size of 1 point or
    // less leave a single black pixel.
    void RenderText(const std::vector<std::string>* lines, const TFontInfo* font, Extended scale,
                    const TPoint& centre = {}, int32_t frameW = 0, int32_t frameH = 0);

protected:
    // Mixes the non-black pixels of TextImage into the frame: weight 10000 copies them, 0 leaves
    // the frame as it is.
    void DrawImage(int32_t weight);

private:
    void Collapse();
    std::vector<std::string> FLines;
    // What TextImage was last rendered from, when it holds text.
    struct TRendered {
        std::vector<std::string> Lines;
        TFont Font;
        TPoint Centre;
        int32_t FrameW = 0;
        int32_t FrameH = 0;
    };
    std::optional<TRendered> Rendered;
};

// Blends the text into the frame by its opacity level: -1 invisible, 0 half, 1 solid.
class TOpaqueSimpleTextOverlay : public TSimpleTextOverlay {
public:
    explicit TOpaqueSimpleTextOverlay(TAddOnBridge& bridge);
    bool DrawText(int32_t frame) override;
};

class TSubTitleOverlay : public TSimpleTextOverlay {
public:
    using TSimpleTextOverlay::TSimpleTextOverlay;
};
