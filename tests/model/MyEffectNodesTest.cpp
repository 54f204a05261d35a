// Effect nodes: binding an add-on by identifier, frame numbers handed to filters and overlays,
// the transition's progress, its two clips and the sound switch, the preview context, and the
// round trip of effects through the project file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "ModelRig.h"
#include "MyBlankNode.h"
#include "MyCommonServices.h"
#include "MyCustomAddOn.h"
#include "MyEffectNodes.h"
#include "MyStandardAddOnInterface.h"
#include "MyStopList.h"
#include "MyTransitions.h"
#include "MyValueStream.h"

namespace {

const char* const HorzSlideId = "{7602E471-A8CA-46B2-B869-8AF956428110}";
const char* const BrightnessId = "{D472437A-CE58-42FB-9316-1795B4EED7BA}";
const char* const BitmapOverlayId = "{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}";

using Px = std::array<uint8_t, 3>; // B, G, R
constexpr Px Black{0, 0, 0}, Red{0, 0, 255}, Green{0, 255, 0}, Grey{9, 9, 9};

Px At(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}

TBitmap Solid(int w, int h, uint32_t color) {
    TBitmap b(w, h);
    FillBitmap(b, color);
    return b;
}

// Colours of row 0, one per column.
std::vector<Px> Row(const TBitmap& b) {
    std::vector<Px> r;
    for (int x = 0; x < b.Width(); ++x)
        r.push_back(At(b, x, 0));
    return r;
}

std::vector<Px> Columns(int n, Px left, Px right, int w = 8) {
    std::vector<Px> r(w, right);
    std::fill(r.begin(), r.begin() + n, left);
    return r;
}

struct Proj : TModelRig {
    Proj() : TModelRig(true) { Root->FrameRate = 25; }
    // A 3 s clip at 2 s on a video track, laid out.
    TTreeNodeData* LateClip() {
        TTreeNodeData* track = Add(Root.get(), nkVideoTrack);
        Blank(track, 2);
        TTreeNodeData* b = Blank(track, 3);
        Relayout();
        return b;
    }
};

// Everything an add-on is asked to do, in order.
using Log = std::vector<std::string>;

class SpyFilter : public TCustomFilter {
public:
    SpyFilter(TAddOnBridge& b, Log& log) : TCustomFilter(b), L(log) {}
    void SetFrameCount(int32_t n) override {
        L.push_back("Count " + std::to_string(n));
        TCustomFilter::SetFrameCount(n);
    }
    bool Apply(int32_t f, int32_t f2) override {
        L.push_back("Apply " + std::to_string(f) + " " + std::to_string(f2));
        return true;
    }
    Log& L;
};

class SpyOverlay : public TCustomOverlay {
public:
    SpyOverlay(TAddOnBridge& b, Log& log) : TCustomOverlay(b), L(log) {}
    bool DoOverlay(int32_t f, int32_t sf, Extended time, Extended fps) override {
        L.push_back("Overlay " + std::to_string(f) + " " + std::to_string(sf) + " " +
                    std::to_string(static_cast<double>(time)) + " " +
                    std::to_string(static_cast<double>(fps)));
        return true;
    }
    Log& L;
};

// A clip that paints its colour and notes whether it was asked for sound.
class TestClip : public TMasterNode {
public:
    TestClip(TCustomProjectNode* p, uint32_t color) : TMasterNode(p, "clip", nullptr), C(color) {}
    uint32_t C;
    bool Result = true;
    std::string Calls; // "sound+video", "mute", ... one per call, split by "|"
    bool RenderFrame(TBitmap* b, bool wantAudio, bool wantVideo, Extended) override {
        Calls += std::string(Calls.empty() ? "" : "|") + (wantAudio ? "sound" : "mute") +
                 (wantVideo ? "+video" : "");
        if (wantVideo)
            FillBitmap(*b, C);
        return Result;
    }
};

// A transition at 8..10 s between two painted clips, outside any tree.
struct TransRig {
    Proj P;
    TestClip A{P.Root.get(), 0x0000FF};
    TestClip B{P.Root.get(), 0x00FF00};
    TTransNode T{P.Root.get(), "t", nullptr};
    TBitmap Out = Solid(8, 2, 0x090909);

    explicit TransRig(const char* id = HorzSlideId, bool prev = true, bool next = true) {
        T.SetAddOn(id);
        T.StartTime = 10;
        if (prev)
            T.SetNeighbour(true, &A);
        if (next)
            T.SetNeighbour(false, &B);
    }
    bool Render(Extended t, bool audio = true, bool video = true) {
        A.Calls.clear();
        B.Calls.clear();
        return T.RenderFrame(&Out, audio, video, t);
    }
};

} // namespace

TEST(EffectNode, BindsTheAddOnByIdentifier) {
    Proj p;
    auto* t = static_cast<TTransNode*>(p.Root->AddNode("t", amLastChild, nkTransition));
    t->SetAddOn(HorzSlideId);
    EXPECT_EQ(t->GetAddOnID(), HorzSlideId);
    EXPECT_EQ(t->AddOnName, "Horizontal slide");
    EXPECT_TRUE(dynamic_cast<TTransHorzSlide*>(t->GetTransition()));
    // Unknown, or known but not offered: no add-on and no name.
    for (const char* id : {"{DEAD-BEEF}", "{B6C646EF-84FC-4426-873F-1A9AB45BB088}"}) {
        t->SetAddOn(id);
        EXPECT_EQ(t->AddOn, nullptr);
        EXPECT_EQ(t->GetAddOnID(), "");
        EXPECT_EQ(t->AddOnName, "");
    }
}

TEST(FilterNode, FrameNumbersRoundHalfToEven) {
    Proj p;
    TTreeNodeData* b = p.LateClip();
    auto* f = p.Add<TFilterNode>(b, nkFilter);
    auto* inner = p.Add<TFilterNode>(f, nkFilter);
    Log log, innerLog;
    f->SetAddOn(BrightnessId);
    f->AddOn = std::make_unique<SpyFilter>(*f->Bridge, log);
    inner->SetAddOn(BrightnessId);
    inner->AddOn = std::make_unique<SpyFilter>(*inner->Bridge, innerLog);
    ASSERT_EQ(f->GetStartTime(), 2.0L);

    TBitmap frame(4, 4);
    EXPECT_TRUE(f->PrepareFrame(&frame, 2.52L));
    EXPECT_TRUE(f->PrepareFrame(&frame, 2.50L));
    EXPECT_TRUE(b->PrepareFrame(&frame, 2.52L)); // through the clip it filters
    EXPECT_EQ(log, (std::vector<std::string>{"Apply 13 13", "Apply 12 12", "Apply 13 13"}));

    // Render start reaches the filter's children too.
    log.clear();
    f->BeginRender();
    EXPECT_EQ(log, std::vector<std::string>{"Count 75"});
    EXPECT_EQ(innerLog, std::vector<std::string>{"Count 75"});

    // Without pictures the add-on is left out, the children still render.
    log.clear();
    innerLog.clear();
    EXPECT_TRUE(f->RenderFrame(&frame, true, false, 3.0L));
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(innerLog.empty()); // the inner filter draws nothing without pictures
    EXPECT_TRUE(f->RenderFrame(&frame, false, true, 3.0L));
    EXPECT_EQ(log, std::vector<std::string>{"Apply 25 25"});
    EXPECT_EQ(innerLog, std::vector<std::string>{"Apply 25 25"});
}

TEST(OverlayNode, FramesFollowTheClipRange) {
    Proj p;
    auto* o = p.Add<TOverlayNode>(p.LateClip(), nkOverlay);
    auto* child = p.Add<TFilterNode>(o, nkFilter);
    Log log, childLog;
    o->SetAddOn(BitmapOverlayId);
    o->AddOn = std::make_unique<SpyOverlay>(*o->Bridge, log);
    child->SetAddOn(BrightnessId);
    child->AddOn = std::make_unique<SpyFilter>(*child->Bridge, childLog);

    TBitmap frame(4, 4);
    o->ClipRange.FromStart = false;
    o->ClipRange.InTime = 1;
    EXPECT_TRUE(o->RenderFrame(&frame, false, true, 2.5L));
    // Round(12.5) = 12 and Round(37.5) = 38; the local time includes the in point.
    EXPECT_EQ(log, std::vector<std::string>{"Overlay 12 38 1.500000 25.000000"});
    // The overlay's children are composed first, at the frame's own project time.
    EXPECT_EQ(childLog, std::vector<std::string>{"Apply 12 12"});

    log.clear();
    o->ClipRange.FromStart = true;
    o->ClipRange.ToEnd = false;
    o->ClipRange.OutTime = 3;
    EXPECT_FALSE(o->RenderFrame(&frame, false, true, 5.2L));
    EXPECT_FALSE(o->PrepareFrame(&frame, 5.2L));
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(o->PrepareFrame(&frame, 5.0L)); // the out point itself still shows
    log.clear();
    EXPECT_TRUE(o->RenderFrame(&frame, false, false, 2.5L));
    EXPECT_TRUE(log.empty());
}

TEST(OverlayNode, LengthOfItsOwnIsCutLikeAClip) {
    Proj p;
    TTreeNodeData* b = p.Root->AddNode("b", amLastChild, nkBlank);
    b->UserDuration = 3;
    auto* o = static_cast<TOverlayNode*>(b->AddNode("o", amLastChild, nkOverlay));
    p.Relayout();
    EXPECT_EQ(o->GetDuration(), 3);
    o->SetAddOn(BitmapOverlayId);
    Log log;
    auto spy = std::make_unique<SpyOverlay>(*o->Bridge, log);
    spy->HasDuration = true;
    spy->Duration = 10;
    o->AddOn = std::move(spy);
    EXPECT_EQ(o->GetDuration(), 10);
    o->ClipRange.FromStart = false;
    o->ClipRange.InTime = 2;
    o->ClipRange.ToEnd = false;
    o->ClipRange.OutTime = 5;
    EXPECT_EQ(o->GetDuration(), 3);
}

TEST(EffectNode, WithoutAddOnDrawsNothing) {
    Proj p;
    TTreeNodeData* b = p.Root->AddNode("b", amLastChild, nkBlank);
    auto* f = static_cast<TFilterNode*>(b->AddNode("f", amLastChild, nkFilter));
    auto* o = static_cast<TOverlayNode*>(b->AddNode("o", amLastChild, nkOverlay));
    TBitmap frame = Solid(2, 2, 0x090909);
    for (TTreeNodeData* n : std::initializer_list<TTreeNodeData*>{f, o}) {
        EXPECT_FALSE(n->PrepareFrame(&frame, 0));
        EXPECT_FALSE(n->RenderFrame(&frame, false, true, 0));
    }
    f->BeginRender();
    std::vector<std::string> lines;
    EXPECT_FALSE(o->GetInfo(lines));
    EXPECT_EQ(At(frame, 1, 1), Grey);
}

TEST(OverlayNode, MotionPathOnlyOutsideExports) {
    for (bool writing : {false, true}) {
        Proj p;
        TTreeNodeData* b = p.Root->AddNode("b", amLastChild, nkBlank);
        b->UserDuration = 3;
        auto* o = static_cast<TOverlayNode*>(b->AddNode("o", amLastChild, nkOverlay));
        p.Relayout();
        o->SetAddOn(BitmapOverlayId);
        TTimeData* pos = o->Curves->Register(ckPosition, "");
        pos->GetPoint(0)->SetPosition(-0.25L, 0);
        p.Root->EditedNode = o;
        p.Root->Target = writing ? tgMovieWriter : tgPreview;
        TBitmap frame(64, 48);
        EXPECT_TRUE(o->RenderFrame(&frame, false, true, 0));
        EXPECT_EQ(o->Bridge->NoPath, writing);
        EXPECT_EQ(At(frame, 13, 24), writing ? Black : Red);
    }
}

namespace {

// A filter that changes nothing but moves along a position curve, so its path can be drawn.
class PathFilter : public TCustomFilter {
public:
    explicit PathFilter(TAddOnBridge& b) : TCustomFilter(b) { RegisterTimeEffect(ckPosition, ""); }
};

} // namespace

TEST(FilterNode, MotionPathOnlyOutsideExports) {
    for (bool writing : {false, true}) {
        Proj p;
        TTreeNodeData* b = p.Root->AddNode("b", amLastChild, nkBlank);
        b->UserDuration = 3;
        auto* f = static_cast<TFilterNode*>(b->AddNode("f", amLastChild, nkFilter));
        p.Relayout();
        f->SetAddOn(BrightnessId);
        f->AddOn = std::make_unique<PathFilter>(*f->Bridge);
        f->Curves->FindByKind(ckPosition)->GetPoint(0)->SetPosition(-0.25L, 0);
        p.Root->EditedNode = f;
        p.Root->Target = writing ? tgMovieWriter : tgPreview;
        TBitmap frame(64, 48);
        EXPECT_TRUE(f->RenderFrame(&frame, false, true, 0));
        EXPECT_EQ(f->Bridge->NoPath, writing);
        EXPECT_EQ(At(frame, 13, 24), writing ? Black : Red);
        // A frame prepared ahead of the render keeps the same rule.
        frame = TBitmap(64, 48);
        EXPECT_TRUE(f->PrepareFrame(&frame, 0));
        EXPECT_EQ(At(frame, 13, 24), writing ? Black : Red);
    }
}

TEST(TransNode, SlideAtStartMiddleAndEnd) {
    TransRig r;
    ASSERT_EQ(r.T.GetStartTime(), 8);
    // At 9.25 s Round(8 * 0.625) = 5 columns are gone.
    for (const auto& [t, red] : {std::pair{8.0L, 8}, {9.0L, 4}, {9.25L, 3}, {10.0L, 0}}) {
        EXPECT_TRUE(r.Render(t));
        EXPECT_EQ(Row(r.Out), Columns(red, Red, Green)) << double(t);
    }
    EXPECT_EQ(r.T.GetFrameWidth(), 8);
}

TEST(TransNode, ProgressIsClamped) {
    TransRig r;
    const Extended cases[][3] = {{2, 7, 0}, {2, 8.5L, 0.25L}, {2, 11, 1}, {0, 10, 1}, {-1, 11, 1}};
    for (const auto& c : cases) {
        r.T.UserDuration = c[0];
        EXPECT_EQ(r.T.GetProgress(c[1]), c[2]) << double(c[0]) << " s at " << double(c[1]);
    }
}

TEST(TransNode, SoundSwitchesAtTheMiddle) {
    // At the first instant the next clip is not rendered at all; with sound only both clips are
    // asked and the frame is left alone.
    const struct {
        Extended T;
        bool Audio, Video;
        const char *A, *B;
    } cases[] = {{8, true, true, "sound+video", ""},
                 {8.5L, true, true, "sound+video", "mute+video"},
                 {9, true, true, "mute+video", "sound+video"},
                 {9, false, true, "mute+video", "mute+video"},
                 {9, true, false, "mute", "sound"}};
    for (const auto& c : cases) {
        TransRig r;
        r.Render(c.T, c.Audio, c.Video);
        EXPECT_EQ(r.A.Calls, c.A) << double(c.T) << c.Audio << c.Video;
        EXPECT_EQ(r.B.Calls, c.B) << double(c.T) << c.Audio << c.Video;
        if (!c.Video) {
            EXPECT_EQ(Row(r.Out), Columns(0, Black, Grey));
        }
    }
}

TEST(TransNode, LoneClipKeepsItsSound) {
    TransRig prevOnly(HorzSlideId, true, false);
    prevOnly.Render(9.5L);
    EXPECT_EQ(prevOnly.A.Calls, "sound+video");
    EXPECT_EQ(Row(prevOnly.Out), Columns(2, Red, Black));

    TransRig nextOnly(HorzSlideId, false, true);
    nextOnly.T.StartTime = 8; // no previous clip: starts where it is placed
    nextOnly.Render(8.5L);
    EXPECT_EQ(nextOnly.B.Calls, "sound+video");
    EXPECT_EQ(Row(nextOnly.Out), Columns(6, Black, Green));
    // At its first instant there is nothing to show: the frame is left alone.
    nextOnly.Out = Solid(8, 2, 0x090909);
    nextOnly.Render(8);
    EXPECT_TRUE(nextOnly.B.Calls.empty());
    EXPECT_EQ(Row(nextOnly.Out), Columns(0, Black, Grey));
}

TEST(TransNode, FailuresStopTheRender) {
    TransRig r;
    r.B.Result = false;
    EXPECT_FALSE(r.Render(9));
    EXPECT_EQ(Row(r.Out), Columns(0, Black, Grey));
    r.B.Result = true;
    r.A.Result = false;
    EXPECT_FALSE(r.Render(9));
    EXPECT_TRUE(r.B.Calls.empty());

    TransRig none("{DEAD-BEEF}");
    EXPECT_FALSE(none.Render(9));
    EXPECT_EQ(Row(none.Out), Columns(0, Black, Grey));
}

TEST(TransNode, SmallerTargetDrawsTheClipsAtItsSize) {
    TransRig r; // as inside a sub-project
    r.Out = Solid(4, 4, 0x090909);
    r.Render(9);
    EXPECT_EQ(r.T.FromBitmap.Width(), 4);
    EXPECT_EQ(Row(r.Out), Columns(2, Red, Green, 4));
    EXPECT_EQ(At(r.Out, 3, 3), Green);
}

// ---- project file ---------------------------------------------------------------------------

namespace {

// Two black-frame clips with a horizontal slide between them: A 0-2 s, slide 1-2 s, B 1-3 s.
void BuildSlideProject(Proj& p) {
    TTreeNodeData* track = p.Root->AddNode("Video track", amLastChild, nkVideoTrack);
    auto* a = static_cast<TBlankNode*>(track->AddNode("A", amLastChild, nkBlank));
    a->BlankColor = 0x0000FF;
    a->UserDuration = 2;
    auto* t = static_cast<TTransNode*>(track->AddNode("Slide", amLastChild, nkTransition));
    t->SetAddOn(HorzSlideId);
    t->UserDuration = 1;
    auto* b = static_cast<TBlankNode*>(track->AddNode("B", amLastChild, nkBlank));
    b->BlankColor = 0x00FF00;
    b->UserDuration = 2;
    p.Relayout();
}

std::vector<std::vector<Px>> RenderSlide(Proj& p) {
    std::vector<std::vector<Px>> rows;
    for (Extended t : {1.0L, 1.5L, 1.999L}) {
        TBitmap frame = Solid(8, 2, 0x090909);
        p.Root->RenderFrame(&frame, false, true, t);
        rows.push_back(Row(frame));
    }
    return rows;
}

} // namespace

TEST(EffectNodeFile, SlideProjectRendersTheSameAfterReload) {
    Proj a;
    BuildSlideProject(a);
    auto* slide = static_cast<TTransNode*>(a.Root->GetChild(0)->GetChild(1));
    const std::string instance = slide->AddOn->ID;
    const auto bytes = a.Save();

    Proj b;
    ASSERT_TRUE(b.Root->LoadFromStream(bytes));
    b.Relayout();
    auto* back = static_cast<TTransNode*>(b.Root->GetChild(0)->GetChild(1));
    EXPECT_EQ(back->AddOn->ID, instance);
    EXPECT_EQ(b.Save(), bytes);
    EXPECT_EQ(RenderSlide(b),
              (std::vector<std::vector<Px>>{Columns(8, Red, Green), Columns(4, Red, Green),
                                            Columns(0, Red, Green)}));
}

TEST(EffectNodeFile, AddOnRecordsRoundTrip) {
    Proj a;
    TTreeNodeData* clip = a.Root->AddNode("c", amLastChild, nkBlank);
    auto* f = static_cast<TFilterNode*>(clip->AddNode("f", amLastChild, nkFilter));
    f->SetAddOn(BrightnessId);
    auto* o = static_cast<TOverlayNode*>(clip->AddNode("o", amLastChild, nkOverlay));
    o->SetAddOn(BitmapOverlayId);
    o->GetOverlay()->Params = "/pictures/" + std::string(280, 'p') + ".bmp";
    o->ClipRange.FromStart = false;
    o->ClipRange.InTime = 0.5L;
    clip->AddNode("bare", amLastChild, nkFilter); // never bound: stored with an empty identifier
    const auto bytes = a.Save();

    Proj b;
    ASSERT_TRUE(b.Root->LoadFromStream(bytes));
    TTreeNodeData* c = b.Root->GetChild(0);
    auto* f2 = static_cast<TFilterNode*>(c->GetChild(0));
    auto* o2 = static_cast<TOverlayNode*>(c->GetChild(1));
    auto* bare = static_cast<TFilterNode*>(c->GetChild(2));
    EXPECT_EQ(f2->AddOn->ID, f->AddOn->ID);
    EXPECT_EQ(o2->GetOverlay()->Params, o->GetOverlay()->Params);
    EXPECT_EQ(bare->AddOn, nullptr);
    EXPECT_EQ(b.Save(), bytes);
}

// An effect whose add-on the program does not offer (written where an add-on library was
// loaded, or a built-in one that is not offered) is kept with everything stored for it.
namespace {

const char* const CreditId = "{B6C646EF-84FC-4426-873F-1A9AB45BB088}";
const char* const DissolveId = "{C4E3FBC0-F900-11D6-A6C2-0050DA5016A5}";
const char* const TvShopId = "{1A795249-8860-41B0-928F-DEAD9EE9B8AB}";
const char* const NegativeId = "{1C285050-BEEF-4AED-8697-A49A53A2D6A1}";

// Binds the add-on of id as a program that offers it would, whether this manager does or not.
template <class T> T* WithAddOn(T* node, const char* id) {
    node->SetAddOn(id);
    if (!node->AddOn)
        node->AddOn = CreateStandardAddOnInterface()->CreateObject(*node->Bridge);
    return node;
}

// Red then green clips of 2 s each joined by a 1 s transition. The red one carries an overlay
// followed by a negative filter, the green one a filter holding a child filter.
void BuildUnknownEffects(Proj& a, bool unknownOverlayLast) {
    TTreeNodeData* track = a.Add(a.Root.get(), nkVideoTrack);
    TTreeNodeData* red = a.Blank(track, 2, 0x0000FF);
    auto* o = WithAddOn(a.Add<TOverlayNode>(red, nkOverlay, "credits"), CreditId);
    o->SetFileName("/nowhere/credits.txt");
    o->GetOverlay()->SetParams(std::string(300, 'x') + "\u00e9");
    o->ClipRange.FromStart = false;
    o->ClipRange.InTime = 0.25L;
    if (!unknownOverlayLast)
        WithAddOn(a.Add<TFilterNode>(red, nkFilter, "negative"), NegativeId);
    WithAddOn(a.Add<TTransNode>(track, nkTransition, "dissolve"), DissolveId)->UserDuration = 1;
    TTreeNodeData* green = a.Blank(track, 2, 0x00FF00);
    auto* shop = WithAddOn(a.Add<TFilterNode>(green, nkFilter, "shop"), TvShopId);
    shop->Description = {"kept"};
    shop->Pegs->AddPoint(1.5L);
    WithAddOn(a.Add<TFilterNode>(shop, nkFilter, "inner"), BrightnessId);
    a.Root->Refresh();
}

} // namespace

TEST(EffectNodeFile, UnknownAddOnIsKeptDrawsNothingAndSavesBackUnchanged) {
    for (bool overlayLast : {false, true}) {
        SCOPED_TRACE(overlayLast);
        Proj a;
        BuildUnknownEffects(a, overlayLast);
        const auto bytes = a.Save();

        Proj b;
        LoadMessages.Clear();
        ASSERT_TRUE(b.Root->LoadFromStream(bytes));
        TTreeNodeData* track = b.Root->GetChild(0);
        ASSERT_EQ(track->GetChildCount(), 3);
        TTreeNodeData* red = track->GetChild(0);
        ASSERT_EQ(red->GetChildCount(), overlayLast ? 1 : 2);
        auto* o = static_cast<TOverlayNode*>(red->GetChild(0));
        auto* t = static_cast<TTransNode*>(track->GetChild(1));
        auto* shop = static_cast<TFilterNode*>(track->GetChild(2)->GetChild(0));
        for (auto [node, id] : {std::pair<TCustomAddOnsNode*, const char*>{o, CreditId},
                                {t, DissolveId},
                                {shop, TvShopId}}) {
            EXPECT_EQ(node->AddOn, nullptr);
            EXPECT_EQ(node->GetAddOnID(), "");
            EXPECT_EQ(node->GetUnboundID(), id);
        }
        EXPECT_FALSE(o->ClipRange.FromStart);
        EXPECT_EQ(t->UserDuration, 1);
        EXPECT_EQ(shop->Description, std::vector<std::string>{"kept"});
        ASSERT_EQ(shop->GetChildCount(), 1);
        EXPECT_NE(static_cast<TFilterNode*>(shop->GetChild(0))->GetFilter(), nullptr);
        // Each is named in the load messages, beside the overlay's missing file.
        ASSERT_EQ(LoadMessages.Count(), 4);
        EXPECT_EQ(LoadMessages.Lines[0], std::string("The effect add-on ") + CreditId +
                                             " of \"credits\" is not available here; the "
                                             "effect is kept but shows nothing.");
        EXPECT_EQ(LoadMessages.Lines[1], "Can not locate /nowhere/credits.txt.");
        EXPECT_TRUE(b.Save() == bytes) << "the stored effects did not come back unchanged";

        // It plays: the known negative still turns red into cyan, the unknown effects draw
        // nothing over their clips.
        b.Root->Refresh();
        b.Root->SoundInPlayback = false;
        TBitmap view(8, 6);
        TPictureControl image{&view, nullptr, nullptr};
        int drawn = 0;
        ASSERT_TRUE(b.Root->Play(
            0, -1, false, [&drawn](TFrameReport&) { ++drawn; }, image));
        EXPECT_EQ(drawn, b.Root->GetFrameCount());
        ASSERT_TRUE(b.Root->Play(10, 10, false, nullptr, image));
        const Px cyan{255, 255, 0};
        EXPECT_EQ(At(view, 4, 3), overlayLast ? Red : cyan);
        ASSERT_TRUE(b.Root->Play(70, 70, false, nullptr, image));
        EXPECT_EQ(At(view, 4, 3), Green);
    }
    LoadMessages.Clear();
}

// Stored values of an unknown add-on end where the file's next record reads; a file cut inside
// them is refused as any damaged file is.
TEST(EffectNodeFile, UnknownAddOnValuesCutShortAreARefusedFile) {
    Proj a;
    BuildUnknownEffects(a, true);
    const auto bytes = a.Save();
    Proj b;
    const std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 60);
    EXPECT_THROW(b.Root->LoadFromStream(cut), EReadError);
    EXPECT_EQ(b.Root->GetChildCount(), 0);
    LoadMessages.Clear();
}

// File names are bytes: a picture overlay's file and a movie's file named in Latin-1 are stored
// as their bytes and come back exactly; an overlay's text stays text.
TEST(EffectNodeFile, FileNamesKeepTheirBytes) {
    Proj a;
    TTreeNodeData* clip = a.Blank(a.Root.get(), 2);
    auto* picture = a.Add<TOverlayNode>(clip, nkOverlay, "picture");
    picture->SetAddOn(BitmapOverlayId);
    picture->GetOverlay()->Params = "/pictures/caf\xE9.bmp";
    TTreeNodeData* movie = a.Add(a.Root.get(), nkVideo, "movie");
    movie->SetFileName("/films/\xE9t\xE9.avi"); // missing: kept for saving
    const auto bytes = a.Save();
    const std::string name = "/pictures/caf\xE9.bmp";
    std::vector<uint8_t> stored = {0x06, uint8_t(name.size())};
    stored.insert(stored.end(), name.begin(), name.end());
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), stored.begin(), stored.end()), bytes.end());

    Proj b;
    LoadMessages.Clear();
    ASSERT_TRUE(b.Root->LoadFromStream(bytes));
    auto* back = static_cast<TOverlayNode*>(b.Root->GetChild(0)->GetChild(0));
    EXPECT_EQ(back->GetOverlay()->Params, "/pictures/caf\xE9.bmp");
    EXPECT_EQ(b.Root->GetChild(1)->GetStoredFileName(), "/films/\xE9t\xE9.avi");
    EXPECT_EQ(LoadMessages.Lines, std::vector<std::string>{"Can not locate /films/\xE9t\xE9.avi."});
    EXPECT_TRUE(b.Save() == bytes);
    LoadMessages.Clear();
}

// Values a crafted file adds to an unknown add-on's record: the search for where they end reads
// each value boundary a bounded number of times, keeps what it stepped over, and refuses a record
// no add-on writes with the file and the offset of the record.
namespace {

// A clip holding an unknown filter, alone or followed by a known one, saved. Values go in behind
// the unknown add-on's own record, where the next record's values begin.
struct TCraftedUnknown {
    std::vector<uint8_t> Bytes;
    size_t DataAt = 0; // the add-on's own record
    size_t Behind = 0;

    explicit TCraftedUnknown(bool followed) {
        Proj a;
        TTreeNodeData* clip = a.Blank(a.Root.get(), 2);
        auto* f = WithAddOn(a.Add<TFilterNode>(clip, nkFilter, "shop"), TvShopId);
        if (followed)
            WithAddOn(a.Add<TFilterNode>(clip, nkFilter, "next"), BrightnessId);
        Bytes = a.Save();
        const std::string instance = f->AddOn->ID;
        auto at = std::search(Bytes.begin(), Bytes.end(), instance.begin(), instance.end());
        Behind = static_cast<size_t>(at - Bytes.begin()) + instance.size();
        DataAt = static_cast<size_t>(at - Bytes.begin()) - 2; // tag and length byte
    }
    // The values that follow the insertion point, up to the first count.
    std::vector<uint8_t> NextValues(int count) const {
        TValueReader r(Bytes.data() + Behind, Bytes.size() - Behind);
        for (int i = 0; i < count; ++i)
            r.SkipValue();
        return r.BytesSince(0);
    }
    std::vector<uint8_t> With(const std::vector<uint8_t>& values) const {
        std::vector<uint8_t> out(Bytes.begin(), Bytes.begin() + Behind);
        out.insert(out.end(), values.begin(), values.end());
        out.insert(out.end(), Bytes.begin() + Behind, Bytes.end());
        return out;
    }
};

std::vector<uint8_t> Repeated(const std::vector<uint8_t>& unit, size_t times) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

} // namespace

TEST(EffectNodeFile, CraftedValuesOfAnUnknownAddOnReadOrAreRefused) {
    {
        // Near copies of the next filter's head, each broken at its last value: every trial
        // reads far and fails.
        TCraftedUnknown c(true);
        std::vector<uint8_t> near = c.NextValues(11);
        near.push_back(vaFalse);
        const auto crafted = c.With(Repeated(near, 500));
        Proj b;
        ASSERT_TRUE(b.Root->LoadFromStream(crafted));
        TTreeNodeData* clip = b.Root->GetChild(0);
        ASSERT_EQ(clip->GetChildCount(), 2);
        EXPECT_NE(static_cast<TFilterNode*>(clip->GetChild(1))->GetFilter(), nullptr);
        EXPECT_TRUE(b.Save() == crafted);
    }
    {
        // Blocks shaped as the clip's own tail, each with pegs that read up to the next block.
        TCraftedUnknown c(false);
        std::vector<uint8_t> block = {vaInt8, 1, vaInt8, 0, vaInt8, 0, vaInt16, 0xF4, 0x01};
        const std::vector<uint8_t> pegs = Repeated({vaInt8, 0, vaFalse}, 500);
        block.insert(block.end(), pegs.begin(), pegs.end());
        const auto crafted = c.With(Repeated(block, 40));
        Proj b;
        ASSERT_TRUE(b.Root->LoadFromStream(crafted));
        EXPECT_TRUE(b.Save() == crafted);
    }
    for (bool followed : {false, true}) {
        // More values than any add-on stores: refused at the record, not searched to its end.
        TCraftedUnknown c(followed);
        const auto crafted = c.With(std::vector<uint8_t>(MaxUnknownAddOnValues + 1, vaFalse));
        Proj b;
        b.Root->FileName = "crafted.mpr";
        try {
            b.Root->LoadFromStream(crafted);
            ADD_FAILURE() << "the crafted file was read";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.FileName, "crafted.mpr");
            EXPECT_EQ(ReadErrorText(e), "Too many values stored for an unknown add-on at offset " +
                                            std::to_string(c.DataAt));
        }
        EXPECT_EQ(b.Root->GetChildCount(), 0);
    }
    LoadMessages.Clear();
}
