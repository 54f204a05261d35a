// Picture and movie overlays: placement and clipping at every edge, key colours, the credit
// scroll, the focus window, rotation, movie scaling, blend weights and the circular cut; pictures
// that cannot be read; the node's children composed once per frame into a copy; and a project with
// overlays that renders the same after a reload.
#include <gtest/gtest.h>

#include <memory>

#include "AddOnRig.h"
#include "AviFixtures.h"
#include "EncodedAvi.h"
#include "FakeUiServices.h"
#include "MyCommonServices.h"
#include "MyEffectNodes.h"
#include "MyMovieInterface.h"
#include "MyMovieNode.h"
#include "MyOverlays.h"
#include "MyProjNode.h"
#include "MyTimeData.h"
#include "NumberedMovie.h"
#include "PictureFixtures.h"
#include "TempFolders.h"

using namespace addonrig;

namespace {

// A different colour for every pixel of a small picture; never grey, never black.
Px C(int x, int y) {
    return CodedPx(x, y, 200);
}

constexpr Px Back{1, 2, 3}, Magenta{255, 0, 255}, White{255, 255, 255}, Black{0, 0, 0};

// A movie of a fixed picture, stretched into whatever it is asked to fill.
class FakeMovie : public TMovieInterface {
public:
    TBitmap Picture = Paint(8, 6, C);
    bool Opened = true, FetchFails = false;
    std::string Name;
    std::vector<Extended> Times;

    bool IsOpen() const override { return Opened; }
    Extended GetFrameRate() const override { return 25; }
    int32_t GetFrameCount() const override { return 50; }
    int32_t GetCurrentFrame() const override { return -1; }
    std::string GetFileName() const override { return Name; }
    int32_t GetWidth() const override { return Picture.Width(); }
    int32_t GetHeight() const override { return Picture.Height(); }
    Extended GetDuration() const override { return 2; }
    bool Open(const std::string& fileName) override {
        Name = fileName;
        return Opened = fileName != "bad.avi";
    }
    void Close() override { Opened = false; }
    bool GetFrameAt(TBitmap& bitmap, Extended time, Extended) override {
        Times.push_back(time);
        if (!FetchFails)
            bitmap.Canvas().StretchDraw(Rect(0, 0, bitmap.Width(), bitmap.Height()), Picture);
        return !FetchFails;
    }
};

// The node side of an overlay: a snapshot the test sets, the curves registered, and a movie
// lent and taken back.
struct OverlayRig : Rig {
    std::unique_ptr<FakeMovie> Movie = std::make_unique<FakeMovie>();
    TCustomExtern* MovieOwner = nullptr;
    TMovieInterface* GivenBack = nullptr;
    TBitmap Frame = Solid(20, 16, Back);

    // The picture, when given, serves both as the overlay's picture and as the movie's.
    explicit OverlayRig(const TBitmap* picture = nullptr, const TNodeInfo& info = {}) {
        if (picture) {
            Bridge.WorkBitmap.Assign(*picture);
            Movie->Picture.Assign(*picture);
        }
        Info = info;
        Bridge.CreateMovieInterface = [this](TCustomExtern* owner) -> TMovieInterface* {
            MovieOwner = owner;
            return Movie.get();
        };
        Bridge.FreeMovieInterface = [this](TMovieInterface* m) { GivenBack = m; };
    }
    // Centre-relative position of a picture's top-left corner at frame pixel (x, y).
    void PlaceCorner(int x, int y, int w, int h) {
        Info.X = x + w / 2 - Frame.Width() / 2;
        Info.Y = y + h / 2 - Frame.Height() / 2;
    }
    template <class T> std::unique_ptr<T> Make() {
        auto o = std::make_unique<T>(Bridge);
        o->Bitmap = &Frame;
        return o;
    }
};

bool Untouched(const OverlayRig& rig) {
    return Same(rig.Frame, Solid(20, 16, Back));
}

} // namespace

TEST(Overlays, WithoutSnapshotOrPictureNothingIsDrawn) {
    OverlayRig rig;
    rig.Bridge.WorkBitmap = Solid(8, 6, White);
    auto o = rig.Make<TBitmapOverlay>();
    rig.HasInfo = false;
    EXPECT_TRUE(o->Run(0, 0, 0, 25));
    rig.HasInfo = true;
    rig.Bridge.WorkBitmap.SetSize(0, 0);
    EXPECT_TRUE(o->Run(0, 0, 0, 25));
    EXPECT_TRUE(Untouched(rig));
}

TEST(Overlays, ClippedAtEveryEdgeAndKeyColourLeftOut) {
    // An 8 x 6 picture whose pixel (3, 2) repeats the corner's colour, copied by the picture
    // overlays and by the movie overlays at full size and opacity; the transparent picture
    // overlay leaves out every pixel of the corner's colour.
    const TBitmap picture =
        Paint(8, 6, [](int x, int y) { return x == 3 && y == 2 ? C(0, 0) : C(x, y); });
    const std::pair<int, int> corners[] = {{-3, 5}, {15, 5}, {6, -4}, {6, 13}, {-5, -4}, {17, 13},
                                           {-8, 0}, {20, 0}, {0, -6}, {0, 16}, {6, 5}};
    const std::vector<std::function<std::unique_ptr<TCustomOverlay>(OverlayRig&)>> makers = {
        [](OverlayRig& r) { return r.Make<TBitmapOverlay>(); },
        [](OverlayRig& r) { return r.Make<TOpaqueBitmapOverlay>(); },
        [](OverlayRig& r) { return r.Make<TMovieOverlay>(); },
        [](OverlayRig& r) { return r.Make<TTransMovieOverlay>(); }};
    for (size_t m = 0; m < makers.size(); ++m)
        for (auto [cx, cy] : corners) {
            SCOPED_TRACE(testing::Message() << "overlay " << m << " at " << cx << "," << cy);
            OverlayRig rig(&picture, {.Sizing = 1, .Level = 1});
            rig.PlaceCorner(cx, cy, 8, 6);
            EXPECT_TRUE(makers[m](rig)->Run(0, 0, 0, 25));
            EXPECT_TRUE(Same(rig.Frame, Paint(20, 16, [&](int x, int y) {
                                 const int px = x - cx, py = y - cy;
                                 if (px < 0 || py < 0 || px >= 8 || py >= 6)
                                     return Back;
                                 const Px p = At(picture, px, py);
                                 return m == 1 && p == C(0, 0) ? Back : p;
                             })));
        }
}

TEST(Overlays, CreditsScrollUpByLevel) {
    // A 4 x 30 picture whose rows are told apart by their green byte; row 0 is the key colour.
    const TBitmap picture = Paint(4, 30, [](int x, int y) {
        return y == 0 ? Grey(7) : Px{uint8_t(x), uint8_t(y), 9};
    });
    // Centred at frame 0 (row 15 on frame row 50 of 100, column 0 on frame column 3), then
    // (level + 1) x 3 pixels higher per frame.
    for (auto [level, frame, shift] :
         {std::tuple{0.0L, 10, 30}, {-1.0L, 10, 0}, {1.0L, 3, 18}, {0.0L, 0, 0}, {0.5L, 1, 4}}) {
        SCOPED_TRACE(testing::Message() << double(level) << " frame " << frame);
        OverlayRig rig(&picture, {.Level = level});
        rig.Frame = Solid(10, 100, Back);
        EXPECT_TRUE(rig.Make<TCreditOverlay>()->Run(frame, frame, 0, 25));
        EXPECT_TRUE(Same(rig.Frame, Paint(10, 100, [shift = shift](int x, int y) {
                             const int r = y - 35 + shift;
                             return r >= 1 && r < 30 && x >= 3 && x < 7
                                        ? Px{uint8_t(x - 3), uint8_t(r), 9}
                                        : Back;
                         })));
    }
    // Far past the end the credits are gone; huge levels neither wrap nor raise.
    OverlayRig rig(&picture, {.Level = 1e30L});
    EXPECT_TRUE(rig.Make<TCreditOverlay>()->Run(1000, 1000, 0, 25));
    EXPECT_TRUE(Untouched(rig));
}

TEST(Overlays, FocusGreysAllButTheWindow) {
    const Px key{0, 0, 0}, window{0, 255, 0}, ink{200, 10, 10};
    // A 6 x 5 picture: key border on the left, a window in the middle, one ink pixel.
    const TBitmap picture = Paint(6, 5, [&](int x, int y) {
        return x == 0 ? key : x == 4 && y == 3 ? ink : window;
    });
    const TBitmap frame = Paint(20, 16, [](int x, int y) {
        return Px{uint8_t(x * 10), uint8_t(y * 10), 30};
    });
    OverlayRig rig;
    rig.Info.Color = 0x00FF00;
    rig.PlaceCorner(7, 4, 6, 5);
    auto o = rig.Make<TFocusOverlay>();
    // A picture of nothing but its key colour greys the whole frame. Strictly inside the
    // picture's area the window keeps the frame's colour; the picture's first row lies on its
    // edge and is greyed.
    for (bool allKey : {false, true}) {
        rig.Frame.Assign(frame);
        rig.Bridge.WorkBitmap = allKey ? Solid(6, 5, key) : Copy(picture);
        EXPECT_TRUE(o->Run(0, 0, 0, 25));
        EXPECT_TRUE(Same(rig.Frame, Paint(20, 16,
                                          [&](int x, int y) {
                                              const Px f = At(frame, x, y);
                                              if (!allKey && x > 7 && x < 13 && y > 4 && y < 9)
                                                  return x == 11 && y == 7 ? ink : f;
                                              return Grey((f[0] + f[1] + f[2]) / 3);
                                          })))
            << allKey;
    }
}

TEST(Overlays, RotateBitmapQuarterTurns) {
    // Each row: picture size, degrees, and the source pixel of (x, y) as (a x + b y + c,
    // d x + e y + f); sources outside the picture show the fill colour. On odd sizes the centre
    // between pixels shifts by one; corners turned out of an oblong picture take the colour.
    const struct {
        int W, H;
        Extended Degrees;
        int A, B, C, D, E, F;
    } table[] = {{4, 4, 0, 1, 0, 0, 0, 1, 0},     {4, 4, 90, 0, -1, 3, 1, 0, 0},
                 {4, 4, 180, -1, 0, 3, 0, -1, 3}, {4, 4, 270, 0, 1, 0, -1, 0, 3},
                 {4, 4, -90, 0, 1, 0, -1, 0, 3},  {5, 3, 0, 1, 0, 0, 0, 1, 0},
                 {5, 3, 180, -1, 0, 3, 0, -1, 1}, {6, 2, 90, 0, -1, 3, 1, 0, -2}};
    for (const auto& r : table) {
        SCOPED_TRACE(testing::Message() << r.W << " x " << r.H << " " << double(r.Degrees));
        const TBitmap src = Paint(r.W, r.H, C);
        EXPECT_TRUE(Same(RotateBitmap(src, 0x332211, r.Degrees), Paint(r.W, r.H, [&](int x, int y) {
                             const int sx = r.A * x + r.B * y + r.C, sy = r.D * x + r.E * y + r.F;
                             const bool in = sx >= 0 && sy >= 0 && sx < r.W && sy < r.H;
                             return in ? C(sx, sy) : Px{0x33, 0x22, 0x11};
                         })));
    }
    EXPECT_TRUE(RotateBitmap(TBitmap(), 0, 90).Empty());
}

TEST(Overlays, RotateOverlayScalesAndTurns) {
    const TBitmap picture = Paint(4, 4, C);
    TBitmap half(2, 2);
    half.Canvas().StretchDraw(Rect(0, 0, 2, 2), picture);
    // Centred on (10, 8): at full size the corner is (8, 6), at half size (9, 7); level 0.5
    // turns by -90 degrees.
    for (auto [level, sizing] : {std::pair{0.0L, 1.0L}, {0.5L, 1.0L}, {0.0L, 0.0L}}) {
        OverlayRig rig(&picture, {.Sizing = sizing, .Level = level, .Color = 0x332211});
        auto o = rig.Make<TRotateOverlay>();
        EXPECT_TRUE(o->Run(0, 0, 0, 25));
        EXPECT_FALSE(o->Busy);
        const int n = sizing == 1 ? 4 : 2, left = 10 - n / 2, top = 8 - n / 2;
        EXPECT_TRUE(Same(rig.Frame, Paint(20, 16,
                                          [&, level = level](int x, int y) {
                                              const int u = x - left, v = y - top;
                                              if (u < 0 || v < 0 || u >= n || v >= n)
                                                  return Back;
                                              return n == 2       ? At(half, u, v)
                                                     : level == 0 ? C(u, v)
                                                                  : C(v, 3 - u);
                                          })))
            << double(level);
    }
}

TEST(Overlays, MovieScaledCentredAndTimed) {
    const std::tuple<Extended, int, int> rows[] = {
        {0.0L, 160, 120}, {-1.0L, 1, 1}, {1.0L, 320, 240}, {7.0L, 320, 240}, {-0.5L, 80, 60}};
    for (auto [sizing, w, h] : rows) {
        OverlayRig rig;
        rig.Movie->Picture = Solid(320, 240, White);
        rig.Frame = Solid(400, 300, Back);
        rig.Info.Sizing = sizing;
        EXPECT_TRUE(rig.Make<TMovieOverlay>()->Run(3, 4, 1.5L, 10));
        EXPECT_EQ(rig.Bridge.WorkBitmap.Width(), w);
        EXPECT_EQ(rig.Bridge.WorkBitmap.Height(), h);
        EXPECT_EQ(rig.Movie->Times, std::vector<Extended>{1.5L});
        const int l = 200 - w / 2, t = 150 - h / 2;
        EXPECT_EQ(At(rig.Frame, l, t), White);
        EXPECT_EQ(At(rig.Frame, l + w - 1, t + h - 1), White);
        EXPECT_EQ(At(rig.Frame, l - 1, t), Back);
        EXPECT_EQ(At(rig.Frame, l + w, t + h - 1), Back);
    }
}

TEST(Overlays, MovieResults) {
    // No interface, a closed movie, no snapshot, a frame that cannot be fetched; the movie
    // borrowed at creation is the one given back.
    for (bool trans : {false, true}) {
        SCOPED_TRACE(trans ? "opaque" : "plain");
        OverlayRig rig;
        auto make = [&] {
            return trans ? std::unique_ptr<TMovieOverlay>(rig.Make<TTransMovieOverlay>())
                         : rig.Make<TMovieOverlay>();
        };
        const auto lend = rig.Bridge.CreateMovieInterface;
        rig.Bridge.CreateMovieInterface = nullptr;
        EXPECT_FALSE(make()->Run(0, 0, 0, 25));
        rig.Bridge.CreateMovieInterface = lend;
        auto o = make();
        EXPECT_EQ(rig.MovieOwner, o.get());
        rig.Movie->Opened = false;
        EXPECT_TRUE(o->Run(0, 0, 0, 25));
        rig.Movie->Opened = true;
        rig.HasInfo = false;
        EXPECT_FALSE(o->Run(0, 0, 0, 25));
        rig.HasInfo = true;
        rig.Movie->FetchFails = true;
        EXPECT_EQ(o->Run(0, 0, 0, 25), trans);
        EXPECT_TRUE(Untouched(rig));
        EXPECT_EQ(rig.GivenBack, nullptr);
        o.reset();
        EXPECT_EQ(rig.GivenBack, rig.Movie.get());
    }
}

TEST(Overlays, MovieOpensAndDescribesItself) {
    OverlayRig rig;
    rig.Movie->Opened = false;
    auto o = rig.Make<TMovieOverlay>();
    std::vector<std::string> lines{"old"};
    EXPECT_FALSE(o->GetInfo(lines));
    EXPECT_EQ(lines, std::vector<std::string>{"Movie is not yet loaded."});
    o->SetParams("bad.avi");
    EXPECT_EQ(o->Params, "bad.avi");
    EXPECT_FALSE(o->HasDuration);
    EXPECT_FALSE(o->GetInfo(lines));
    EXPECT_EQ(lines, std::vector<std::string>{"Movie format is unknown."});
    o->SetParams("good.avi");
    EXPECT_EQ(o->Duration, 2);
    EXPECT_EQ(rig.Bridge.WorkBitmap.Width(), 8);
    EXPECT_TRUE(o->GetInfo(lines));
    EXPECT_EQ(lines,
              (std::vector<std::string>{"Video", "Duration:     0h:00m:02s:00ms", "Frame width:  8",
                                        "Frame height: 6", "Frame rate:   25", "Frame count:  50",
                                        "", "Sound will not be included"}));
}

TEST(Overlays, OpaqueMovieBlendWeights) {
    // White movie over a black frame, and black over white, at levels across and past the range.
    const std::tuple<Extended, int, int> rows[] = {{0.0L, 127, 127}, {1.0L, 255, 0},
                                                   {-1.0L, 0, 255},  {0.5L, 191, 63},
                                                   {5.0L, 255, 0},   {-3.0L, 0, 255}};
    for (auto [level, onBlack, onWhite] : rows)
        for (bool white : {true, false}) {
            OverlayRig rig;
            rig.Movie->Picture = Solid(8, 6, white ? White : Black);
            rig.Frame = Solid(20, 16, white ? Black : White);
            rig.Info = {.Sizing = 1, .Level = level};
            EXPECT_TRUE(rig.Make<TTransMovieOverlay>()->Run(0, 0, 0, 25));
            EXPECT_EQ(At(rig.Frame, 10, 8), Grey(white ? onBlack : onWhite)) << double(level);
            EXPECT_EQ(At(rig.Frame, 5, 4), white ? Black : White);
        }
}

TEST(Overlays, CircularMask) {
    OverlayRig rig;
    auto o = rig.Make<TRoundMovieOverlay>();
    // 200 x 100: a circle of diameter 100 in the square that starts at x = 50; 100 x 200: the
    // same square moved down. It is symmetric, about pi r^2, and nothing lies outside the square.
    for (auto [w, h, left, top] : {std::tuple{200, 100, 50, 0}, {100, 200, 0, 50}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        const std::vector<uint8_t> mask = o->GetMask(w, h);
        ASSERT_EQ(mask.size(), size_t(w * h));
        auto m = [&, w = w, left = left, top = top](int x, int y) {
            return mask[(top + y) * w + left + x] != 0;
        };
        int inSquare = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) {
                inSquare += m(x, y);
                ASSERT_TRUE(m(x, y) == m(99 - x, y) && m(x, y) == m(x, 99 - y)) << x << "," << y;
            }
        EXPECT_EQ(std::count(mask.begin(), mask.end(), 0), w * h - inSquare);
        EXPECT_NEAR(inSquare, 7854, 250);
        for (int i = 1; i < 99; ++i)
            EXPECT_TRUE(m(i, 50) && m(50, i)) << i;
        for (auto [x, y] : {std::pair{0, 0}, {2, 2}, {99, 99}, {97, 3}})
            EXPECT_FALSE(m(x, y)) << x << "," << y;
    }
    // The mask is kept for its size. Drawn: inside the circle the movie, outside it the frame.
    EXPECT_EQ(&o->GetMask(200, 100), &o->GetMask(200, 100));
    rig.Movie->Picture = Solid(16, 8, White);
    rig.Info.Sizing = 1;
    EXPECT_TRUE(o->Run(0, 0, 0, 25));
    const std::vector<uint8_t>& mask = o->GetMask(16, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(At(rig.Frame, 2 + x, 4 + y), mask[y * 16 + x] ? White : Back);
}

TEST(Overlays, PictureFilesAndTheirInfo) {
    TTempDir dir;
    const std::string good = dir.Path + "/big.bmp";
    SaveBytes(good, BuildBmp({.Width = 640, .Height = 480}));
    OverlayRig rig;
    auto o = rig.Make<TBitmapOverlay>();
    std::vector<std::string> lines;
    EXPECT_FALSE(rig.Make<TCreditOverlay>()->GetInfo(lines));
    EXPECT_EQ(lines, std::vector<std::string>{"Credit title bitmap is not yet loaded."});
    o->SetParams(good);
    EXPECT_TRUE(o->GetInfo(lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"Bitmap", "Width:  640", "Height: 480"}));
    // A missing file keeps the picture.
    o->SetParams(dir.Path + "/gone.bmp");
    EXPECT_EQ(rig.Bridge.WorkBitmap.Width(), 640);
    // A file that is there but is no picture: no picture, a load message, no exception.
    LoadMessages.Clear();
    const std::string damaged = dir.File("damaged.bmp", "BM not really");
    EXPECT_NO_THROW(o->SetParams(damaged));
    EXPECT_EQ(o->Params, damaged);
    EXPECT_TRUE(rig.Bridge.WorkBitmap.Empty());
    EXPECT_FALSE(o->GetInfo(lines));
    EXPECT_EQ(lines, std::vector<std::string>{"Bitmap format is unknown."});
    ASSERT_EQ(LoadMessages.Count(), 1);
    EXPECT_EQ(LoadMessages.Lines[0].rfind("Can not load picture " + damaged, 0), 0u);
    LoadMessages.Clear();
}

// ---- in a project

namespace {

const char* const BitmapOverlayId = "{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}";
const char* const MovieOverlayId = "{F3C34695-8149-4D2C-AE86-DAA65EF943E9}";

// A project at 10 frames per second with one blank clip holding one overlay node.
struct Project {
    TMemTree Tree;
    TFakeUiServices Ui;
    std::unique_ptr<TProjectNode> Root;
    TOverlayNode* Overlay = nullptr;
    Project(const char* id, const std::string& params)
        : Root(std::make_unique<TProjectNode>("Project", Tree.AddRoot("Project"))) {
        Root->Ui = &Ui;
        Root->FrameRate = 10;
        Root->DeleteChildren();
        TTreeNodeData* clip = Root->AddNode("c", amLastChild, nkBlank);
        clip->UserDuration = 2;
        if (!id)
            return;
        Overlay = static_cast<TOverlayNode*>(clip->AddNode("o", amLastChild, nkOverlay));
        Overlay->SetAddOn(id);
        Overlay->GetOverlay()->SetParams(params);
    }
};

} // namespace

TEST(OverlaysInProject, ChildrenComposedOncePerFrameIntoACopy) {
    // A picture of one colour, and a raw 8 x 6 movie of four frames at 2 per second whose frame
    // i is grey level 40 (i + 1).
    TTempDir dir;
    const std::string picture = dir.Path + "/p.bmp", movie = dir.Path + "/clip.avi";
    SaveBytes(picture, BuildBmp({.Pixel = [](int32_t, int32_t) { return 0x102030u; }}));
    TAviSpec clip = MakeDibMovie(8, 6, 4, 500000);
    for (int i = 0; i < 4; ++i)
        clip.Chunks[i].Data.assign(8 * 3 * 6, uint8_t(40 * (i + 1)));
    BuildAvi(clip).Save(movie);

    for (bool isMovie : {false, true}) {
        SCOPED_TRACE(isMovie ? "movie overlay" : "bitmap overlay");
        Project p(isMovie ? MovieOverlayId : BitmapOverlayId, isMovie ? movie : picture);
        static_cast<TFilterNode*>(p.Overlay->AddNode("f", amLastChild, nkFilter))
            ->SetAddOn("{1C285050-BEEF-4AED-8697-A49A53A2D6A1}");
        p.Root->ResetLinks();
        p.Root->Calculate();
        p.Root->Layout(0);
        // The child, a negative, shows once on every frame: applied twice, or again to the kept
        // picture on the next frame, it would undo itself.
        for (int round = 0; round < 3; ++round) {
            TBitmap frame(8, 6);
            ASSERT_TRUE(p.Overlay->RenderFrame(&frame, false, true, 0));
            EXPECT_EQ(At(frame, 4, 3), (isMovie ? Grey(215) : Px{0xEF, 0xDF, 0xCF}));
        }
        if (!isMovie) {
            EXPECT_EQ(At(p.Overlay->Bridge->WorkBitmap, 1, 1), (Px{0x10, 0x20, 0x30}));
        }
    }
}

TEST(OverlaysInProject, RendersTheSameAfterReload) {
    // A movie with a text overlay, an emboss filter, a movie overlay and a picture overlay, saved,
    // reopened and rendered at several times.
    TMovieProject a;
    a.Root->SetVideoFormat(64, 48, 10);
    const std::string insetFile =
        a.Movie("inset.avi", {.Frames = 16, .MicroSecPerFrame = 50000, .Width = 16, .Height = 12});
    const std::string picture = a.Dir.Path + "/p.bmp";
    SaveBytes(picture, BuildBmp({.Width = 6, .Height = 5, .Pixel = [](int32_t x, int32_t y) {
                                     return 0x300000u * (x + 1) + 0x28u * (y + 1);
                                 }}));

    TTreeNodeData* clip = a.Add<TMovieNode>(nkVideo, a.Movie("main.avi"));
    auto add = [&](const char* name, uint8_t kind, const char* id) {
        auto* node = static_cast<TCustomAddOnsNode*>(clip->AddNode(name, amLastChild, kind));
        node->SetAddOn(id);
        return node;
    };
    TCustomAddOnsNode* text = add("text", nkOverlay, "{A0B8F036-67F4-4B94-8DF9-0B4FA8FA6060}");
    text->Curves->FindByKind(ckText)->GetPoint(0)->Lines = {"Round", "trip"};
    text->Curves->FindByKind(ckFont)->GetPoint(0)->Font.Size = 14;
    text->Curves->FindByKind(ckFont)->GetPoint(0)->Font.Color = 0xF0F0F0;
    add("emboss", nkFilter, "{B2BBB004-9D4B-4EDA-BC08-318BA5003786}");
    static_cast<TOverlayNode*>(add("movie", nkOverlay, MovieOverlayId))
        ->GetOverlay()
        ->SetParams(insetFile);
    static_cast<TOverlayNode*>(add("bitmap", nkOverlay, BitmapOverlayId))
        ->GetOverlay()
        ->SetParams(picture);
    EXPECT_EQ(a.Root->GetMovieInterfaceCount(), 1u);
    a.Root->Refresh();
    const std::string file = a.Dir.Path + "/round.mpr";
    ASSERT_TRUE(a.Root->SaveToFile(file));

    TMovieProject b;
    ASSERT_TRUE(b.Root->LoadFromFile(file));
    EXPECT_EQ(b.Root->GetMovieInterfaceCount(), 1u);
    auto render = [](TMovieProject& p, Extended t) {
        TBitmap frame(64, 48);
        p.Root->RenderFrame(&frame, false, true, t);
        return frame;
    };
    for (Extended t : {0.0L, 0.5L, 1.2L}) {
        const TBitmap x = render(a, t);
        EXPECT_TRUE(Same(x, render(b, t))) << double(t);
        // The picture is drawn last, over the middle of the frame. Around it the inset movie at
        // half size and 20 frames per second while it lasts, then the main movie at 10.
        EXPECT_EQ(At(x, 32, 24), (Px{0xC0, 0, 0x78}));
        EXPECT_EQ(NumberedFrameOf(x, 28, 22), t < 0.8L ? Round(t * 20) : Round(t * 10));
    }
    // The text shows in these frames: without its words the picture changes.
    const TBitmap withText = render(b, 0.5L);
    text->Curves->FindByKind(ckText)->GetPoint(0)->Lines.clear();
    EXPECT_FALSE(Same(render(a, 0.5L), withText));
}

TEST(OverlaysInProject, MovieAtAnotherRateHoldsItsLastFrameToItsEnd) {
    // Six frames at 25 per second over a 30 fps project: the eighth project frame, 0.233 s, is
    // movie frame 5.83, which rounds to 6, one past the end. It still shows frame 5, as 0.2 s
    // does, both from a raw movie and from a compressed one.
    TTempDir dir;
    const std::string raw = dir.Path + "/raw.avi", mjpeg = dir.Path + "/mjpeg.avi";
    BuildAvi(NumberedMovieSpec({.Frames = 6, .MicroSecPerFrame = 40000, .Width = 16, .Height = 12}))
        .Save(raw);
    TEncodedAviSpec encoded;
    encoded.Width = 16;
    encoded.Height = 12;
    encoded.Frames = 6;
    encoded.Fps = 25;
    ASSERT_TRUE(WriteEncodedAvi(mjpeg, encoded));
    for (const std::string& movie : {raw, mjpeg}) {
        SCOPED_TRACE(movie);
        Project p(MovieOverlayId, movie);
        p.Root->SetVideoFormat(16, 12, 30);
        p.Root->ResetLinks();
        p.Root->Calculate();
        p.Root->Layout(0);
        auto render = [&](Extended t) {
            TBitmap frame = Solid(16, 12, Back);
            EXPECT_TRUE(p.Overlay->RenderFrame(&frame, false, true, t));
            return frame;
        };
        const TBitmap last = render(0.2L);
        EXPECT_NE(At(last, 8, 6), White);
        EXPECT_NE(At(last, 8, 6), Back);
        EXPECT_TRUE(Same(render(7.0L / 30), last));
        if (movie == raw) {
            EXPECT_EQ(NumberedFrameOf(last, 8, 6), 5);
        }
    }
}

TEST(OverlaysInProject, DamagedPictureDoesNotStopTheLoad) {
    TTempDir dir;
    const std::string picture = dir.Path + "/p.bmp";
    SaveBytes(picture, BuildBmp(TBmpSpec{}));
    std::vector<uint8_t> bytes;
    Project(BitmapOverlayId, picture).Root->SaveToStream(bytes);
    SaveBytes(picture, {'B', 'M', 1, 2, 3});
    LoadMessages.Clear();
    Project b(nullptr, "");
    ASSERT_TRUE(b.Root->LoadFromStream(bytes));
    auto* back = static_cast<TOverlayNode*>(b.Root->GetChild(0)->GetChild(0));
    std::vector<std::string> lines;
    EXPECT_FALSE(back->GetInfo(lines));
    EXPECT_EQ(lines, std::vector<std::string>{"Bitmap format is unknown."});
    EXPECT_EQ(LoadMessages.Count(), 1);
    LoadMessages.Clear();
}
