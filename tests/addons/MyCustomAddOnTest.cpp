// Add-on base classes: callbacks taken from the bridge, the Run wrappers, frame coordinates,
// the overlay record, the preview work bitmap and the motion path pixels.
#include <gtest/gtest.h>

#include <array>

#include "MyCustomAddOn.h"
#include "MyTimeData.h"
#include "MyValueStream.h"

namespace {

using Px = std::array<uint8_t, 3>; // B, G, R
constexpr Px Red{0, 0, 255}, White{255, 255, 255}, Aqua{255, 255, 0}, Black{0, 0, 0};

Px At(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}

struct Log {
    std::vector<std::string> Calls;
};

class SpyFilter : public TCustomFilter {
public:
    SpyFilter(TAddOnBridge& b, Log& log) : TCustomFilter(b), L(log) {}
    bool Result = true;
    bool Apply(int32_t f, int32_t f2) override {
        L.Calls.push_back("Apply " + std::to_string(f) + " " + std::to_string(f2));
        FillBitmap(*Bitmap, 0x00FF00);
        return Result;
    }
    Log& L;
};

class SpyOverlay : public TCustomOverlay {
public:
    SpyOverlay(TAddOnBridge& b, Log& log) : TCustomOverlay(b), L(log) {}
    bool DoOverlay(int32_t f, int32_t sf, Extended time, Extended fps) override {
        L.Calls.push_back("DoOverlay " + std::to_string(f) + " " + std::to_string(sf) + " " +
                          std::to_string(static_cast<double>(time)) + " " +
                          std::to_string(static_cast<double>(fps)));
        return false;
    }
    void SetParams(const std::string& text) override {
        L.Calls.push_back("SetParams " + std::to_string(text.size()));
        TCustomOverlay::SetParams(text);
    }
    Log& L;
};

// An effect that enables a curve from its constructor, as the built-in ones do.
class LevelFilter : public TCustomFilter {
public:
    explicit LevelFilter(TAddOnBridge& b) : TCustomFilter(b) {
        if (RegisterTimeEffect)
            RegisterTimeEffect(ckLevel, "Strength");
    }
};

// A node stand-in: a curve set with a position curve and a snapshot callback.
struct PathRig {
    TTimeDataSet Set;
    TTimeData* Curve;
    TAddOnBridge Bridge;
    bool Edited = true;
    TBitmap Frame{64, 48};

    PathRig() {
        Curve = Set.AddFromTemplate({"{pos}", "On-screen positioning", vmPosition, ckPosition, 1});
        Curve->SetEnabled(true);
        Bridge.GetNodeInfo = [this](TNodeInfo& info) {
            info = TNodeInfo{};
            info.IsEdited = Edited;
            info.Curves = &Set;
            return true;
        };
    }
    void Draw() {
        Log log;
        SpyFilter f(Bridge, log);
        f.Bitmap = &Frame;
        f.DrawMotionPath();
    }
    bool Untouched() const {
        for (int y = 0; y < Frame.Height(); ++y)
            for (int x = 0; x < Frame.Width(); ++x)
                if (At(Frame, x, y) != Black)
                    return false;
        return true;
    }
};

} // namespace

TEST(CustomAddOn, CallbacksAreCopiedOnceAtCreation) {
    TTimeDataSet set;
    set.AddFromTemplate({"{lvl}", "Level", vmLevel, ckLevel, 0});
    TAddOnBridge bridge;
    bridge.RegisterTimeEffect = [&](uint8_t kind, const std::string& c) {
        return set.Register(kind, c);
    };
    LevelFilter f(bridge);
    EXPECT_TRUE(set.FindByKind(ckLevel) != nullptr);
    EXPECT_EQ(set.FindByKind(ckLevel)->Caption, "Strength");
    // A callback bound after creation does not reach the add-on.
    EXPECT_FALSE(f.GetNodeInfo);
    bridge.GetNodeInfo = [](TNodeInfo&) { return true; };
    EXPECT_FALSE(f.GetNodeInfo);
    bridge.ID = "{X}";
    EXPECT_EQ(f.GetAddOnID(), "{X}");
}

TEST(CustomAddOn, SizeAndFramePointFollowTheBitmap) {
    TAddOnBridge bridge;
    TCustomFilter f(bridge);
    TNodeInfo info;
    info.X = -5;
    info.Y = 7;
    TPoint p;
    f.ToFramePoint(info, p);
    EXPECT_EQ(p, Point(-5, 7));
    EXPECT_EQ(f.GetWidth(), 0);
    EXPECT_EQ(f.GetHeight(), 0);
    TBitmap even(320, 240), odd(321, 241);
    for (TBitmap* b : {&even, &odd}) {
        f.Bitmap = b;
        f.ToFramePoint(TNodeInfo{}, p);
        EXPECT_EQ(p, Point(160, 120));
        f.ToFramePoint(info, p);
        EXPECT_EQ(p, Point(155, 127));
    }
    EXPECT_EQ(f.GetWidth(), 321);
    EXPECT_EQ(f.GetHeight(), 241);
}

TEST(CustomAddOn, PreviewPictureStandsInForTheWorkBitmap) {
    TAddOnBridge bridge;
    TCustomOverlay o(bridge);
    TBitmap picture(16, 16);
    AddOnPreview.Picture = &picture;
    EXPECT_EQ(o.GetWorkBitmap(), &bridge.WorkBitmap);
    try {
        TAddOnPreviewScope scope;
        EXPECT_EQ(o.GetWorkBitmap(), &picture);
        throw Exception("leaving");
    } catch (const Exception&) {
    }
    EXPECT_FALSE(AddOnPreview.Active);
    EXPECT_EQ(o.GetWorkBitmap(), &bridge.WorkBitmap);
    AddOnPreview.Picture = nullptr;
}

TEST(CustomAddOn, FilterRunAppliesThenDrawsThePath) {
    PathRig rig;
    rig.Curve->GetPoint(0)->SetPosition(-0.25L, 0);
    Log log;
    SpyFilter f(rig.Bridge, log);
    f.Bitmap = &rig.Frame;
    f.Result = false;
    EXPECT_FALSE(f.Run(4, 5));
    EXPECT_EQ(log.Calls, std::vector<std::string>{"Apply 4 5"});
    EXPECT_EQ(At(rig.Frame, 0, 0), (Px{0, 255, 0}));
    EXPECT_EQ(At(rig.Frame, 13, 24), Red); // the path lies over what the filter drew
}

TEST(CustomAddOn, OverlayRunOrder) {
    Log log;
    TAddOnBridge bridge;
    SpyOverlay o(bridge, log);
    TBitmap frame(4, 4);
    o.Bitmap = &frame;
    // Without BeforeDraw the overlay just draws.
    EXPECT_FALSE(o.Run(1, 2, 0.5L, 25));
    bridge.BeforeDraw = [&](TBitmap* b, Extended t) {
        log.Calls.push_back(std::string("BeforeDraw ") +
                            (b == &bridge.WorkBitmap ? "work " : "? ") +
                            std::to_string(static_cast<double>(t)));
    };
    EXPECT_FALSE(o.Run(3, 4, 1.25L, 10));
    EXPECT_EQ(o.Time, 1.25L);
    EXPECT_EQ(log.Calls, (std::vector<std::string>{"DoOverlay 1 2 0.500000 25.000000",
                                                   "BeforeDraw work 1.250000",
                                                   "DoOverlay 3 4 1.250000 10.000000"}));
    TCustomOverlay plain(bridge);
    std::vector<std::string> lines{"kept"};
    EXPECT_FALSE(plain.GetInfo(lines));
    EXPECT_EQ(lines, std::vector<std::string>{"kept"});
}

TEST(CustomAddOn, OverlayRecordKeepsLongFileNames) {
    Log log;
    TAddOnBridge bridge;
    SpyOverlay a(bridge, log);
    a.Params = "p.bmp";
    a.ID = "{I}";
    std::vector<uint8_t> bytes;
    TValueWriter w(bytes);
    a.WriteData(w);
    EXPECT_EQ(bytes,
              (std::vector<uint8_t>{0x06, 5, 'p', '.', 'b', 'm', 'p', 0x06, 3, '{', 'I', '}'}));

    a.Params = "/media/" + std::string(300, 'x') + ".bmp";
    bytes.clear();
    a.WriteData(w);
    SpyOverlay b(bridge, log);
    TValueReader r(bytes.data(), bytes.size());
    b.ReadData(r);
    EXPECT_EQ(b.Params, a.Params);
    EXPECT_EQ(b.ID, "{I}");
    EXPECT_EQ(log.Calls.back(), "SetParams 311");
    EXPECT_TRUE(r.AtEnd());
}

TEST(MotionPath, LineBoxesAndCurrentPoint) {
    PathRig rig;
    rig.Curve->GetPoint(0)->SetPosition(-0.25L, 0); // (16, 24)
    rig.Curve->AddNew(2.0L)->SetPosition(0.25L, 0); // (48, 24)
    rig.Curve->UpdateCurrentPoint(1.0L);            // half way: (32, 24)
    rig.Draw();
    EXPECT_EQ(At(rig.Frame, 24, 24), Red); // line
    EXPECT_EQ(At(rig.Frame, 40, 24), Red);
    EXPECT_EQ(At(rig.Frame, 40, 25), Black);
    EXPECT_EQ(At(rig.Frame, 16, 24), White); // key box, framed in red
    EXPECT_EQ(At(rig.Frame, 17, 22), White);
    EXPECT_EQ(At(rig.Frame, 13, 24), Red);
    EXPECT_EQ(At(rig.Frame, 19, 27), Red);
    EXPECT_EQ(At(rig.Frame, 12, 24), Black);
    EXPECT_EQ(At(rig.Frame, 16, 28), Black);
    EXPECT_EQ(At(rig.Frame, 48, 24), White);
    EXPECT_EQ(At(rig.Frame, 51, 24), Red);
    EXPECT_EQ(At(rig.Frame, 52, 24), Black);
    EXPECT_EQ(At(rig.Frame, 32, 24), Aqua); // current point, framed in red
    EXPECT_EQ(At(rig.Frame, 34, 26), Aqua);
    EXPECT_EQ(At(rig.Frame, 29, 24), Red);
    EXPECT_EQ(At(rig.Frame, 32, 27), Red);
}

TEST(MotionPath, SingleKeyPointHasNoLine) {
    PathRig rig;
    rig.Curve->GetPoint(0)->SetPosition(-0.25L, 0);
    rig.Curve->UpdateCurrentPoint(0);
    rig.Draw();
    EXPECT_EQ(At(rig.Frame, 16, 24), Aqua); // the current point sits on the key
    EXPECT_EQ(At(rig.Frame, 13, 24), Red);
    EXPECT_EQ(At(rig.Frame, 20, 24), Black);
    EXPECT_EQ(At(rig.Frame, 11, 24), Black);
}

TEST(MotionPath, NothingWhileExportingOrNotEdited) {
    for (int which = 0; which < 4; ++which) {
        PathRig rig;
        rig.Curve->AddNew(2.0L)->SetPosition(0.25L, 0);
        if (which == 0)
            rig.Bridge.NoPath = true;
        if (which == 1)
            rig.Edited = false;
        if (which == 2)
            rig.Curve->SetEnabled(false);
        if (which == 3)
            rig.Bridge.GetNodeInfo = [](TNodeInfo&) { return false; };
        rig.Draw();
        EXPECT_TRUE(rig.Untouched()) << which;
    }
}
