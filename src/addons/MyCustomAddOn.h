// The add-on class tree below TCustomExtern (filters, transitions, overlays), the bridge that
// joins an add-on to its effect node, and the drawing helpers every effect shares: frame
// coordinates of a node position, the motion path of the curve being edited, plain fills.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "MyBase.h"
#include "MyCustExtern.h"
#include "MyGraphics.h"
#include "MyTreeNode.h"

class TMovieInterface;
class TTimeData;

// What an add-on knows of the project: its type identifier, a work bitmap and the callbacks its
// node binds. An add-on never reaches the tree in any other way.
class TAddOnBridge {
public:
    TAddOnBridge() = default;
    TAddOnBridge(const TAddOnBridge&) = delete;
    TAddOnBridge& operator=(const TAddOnBridge&) = delete;

    TBitmap WorkBitmap;
    // Type identifier (GUID text) of the add-on to create.
    std::string ID;
    std::function<TMovieInterface*(TCustomExtern* owner)> CreateMovieInterface;
    std::function<void(TMovieInterface* intf)> FreeMovieInterface;
    std::function<bool(TNodeInfo& info)> GetNodeInfo;
    // Enables the node's standard curve of a kind; a caption replaces its caption, "*" clears
    // and disables it, an empty one keeps the standard caption.
    std::function<TTimeData*(uint8_t kind, const std::string& caption)> RegisterTimeEffect;
    // Renders the overlay node's own children into a bitmap at a node-local time.
    std::function<void(TBitmap* bitmap, Extended time)> BeforeDraw;
    // Set while rendering into the movie writer: the motion path must not reach the file.
    bool NoPath = false;
};

class TCustomAddOn : public TCustomExtern {
public:
    // The node binds every bridge callback before creating the add-on: the two copied here are
    // taken once, and effect constructors register their curves through them.
    explicit TCustomAddOn(TAddOnBridge& bridge);

    // The frame worked on; assigned by the node before every call, not owned.
    TBitmap* Bitmap = nullptr;
    TAddOnBridge* Bridge;
    std::function<TTimeData*(uint8_t kind, const std::string& caption)> RegisterTimeEffect;
    std::function<bool(TNodeInfo& info)> GetNodeInfo;
    // Display name, given by the add-on manager right after creation.
    std::string Name;

    virtual int32_t GetWidth() const { return Bitmap ? Bitmap->Width() : 0; }
    virtual int32_t GetHeight() const { return Bitmap ? Bitmap->Height() : 0; }

    const std::string& GetAddOnID() const { return Bridge->ID; }
    // The bridge's work bitmap, or the preview picture while the add-on preview runs, so that
    // in the preview every effect reads and draws the example picture.
    TBitmap* GetWorkBitmap() const;
    // Centre-relative position of a snapshot in pixels of Bitmap (unshifted without one).
    void ToFramePoint(const TNodeInfo& info, TPoint& p) const;
    // Key points of the position curve over the frame, while the node is open in the curve
    // editor and the render does not go to a file.
    void DrawMotionPath();
};

class TCustomFilter : public TCustomAddOn {
public:
    using TCustomAddOn::TCustomAddOn;

    // Changes Bitmap in place for a node-local frame number.
    virtual bool Apply(int32_t frame, int32_t frame2) { return true; }
    bool Run(int32_t frame, int32_t frame2);
};

class TCustomTransition : public TCustomAddOn {
public:
    using TCustomAddOn::TCustomAddOn;

    // Writes the mix of two sources at a progress of 0..1 into Bitmap; either may be null.
    virtual bool Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) { return true; }
};

class TCustomOverlay : public TCustomAddOn {
public:
    using TCustomAddOn::TCustomAddOn;

    // The file the overlay shows (picture or movie), kept whole.
    std::string Params;
    // Set when the overlay has a length of its own (an open movie), which its node then takes.
    bool HasDuration = false;
    Extended Duration = 0;
    // Node-local time of the last Run.
    Extended Time = 0;

    // Parameter text first, then the instance identifier.
    void WriteData(TValueWriter& writer) const override;
    void ReadData(TValueReader& reader) override;

    virtual void SetParams(const std::string& text) { Params = text; }
    virtual bool DoOverlay(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) {
        return true;
    }
    // Description lines for the property view; False when the overlay has none.
    virtual bool GetInfo(std::vector<std::string>& lines) { return false; }

    bool Run(int32_t frame, int32_t sourceFrame, Extended time, Extended fps);

protected:
    // Overlays that compose the children into a picture of their own do it themselves.
    virtual void CallBeforeDraw();
};

// Fills the whole bitmap through its canvas; the canvas brush is left as it was.
void FillBitmap(TBitmap& bitmap, uint32_t color);
