// A movie drawn over a clip decodes ahead during a pipelined export, like movie clips, and the
// file written is the same as with one thread; movie frames nothing is drawn over go to the
// MJPEG encoder as their decoder's planes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "EncodedAvi.h"
#include "FakeUiServices.h"
#include "ITreeItem.h"
#include "MyAVICompress.h"
#include "MyAVIReader.h"
#include "MyBlankNode.h"
#include "MyEffectNodes.h"
#include "MyLocalMovieInterface.h"
#include "MyMovieNode.h"
#include "MyOverlays.h"
#include "MyProjNode.h"
#include "MyYuvPicture.h"
#include "TempFolders.h"

namespace {

const char* const MovieOverlayId = "{F3C34695-8149-4D2C-AE86-DAA65EF943E9}";

// A 64 x 48, 15 fps project and the file it exports with a number of render threads.
struct ExportRig {
    TTempDir Dir;
    TMemTree Tree;
    TFakeUiServices Ui;
    TProjectNode Root{"Project", Tree.AddRoot("Project")};

    ExportRig() {
        Root.Ui = &Ui;
        Root.ExportSleepMs = 0;
        Root.SetVideoFormat(64, 48, 15);
    }

    std::vector<uint8_t> Export(int threads, const TFrameCallback& onReport = nullptr) {
        Root.RenderThreads = threads;
        const std::string name = Dir.Path + "/out" + std::to_string(threads) + ".avi";
        EXPECT_TRUE(Root.ExportMovie(0, Root.GetFrameCount(), nullptr, onReport, name));
        std::ifstream in(name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
};

// A 2 s blank clip with the movie over it at its own size.
struct OverlaidBlank : ExportRig {
    TAviReader* Reader = nullptr;

    explicit OverlaidBlank(const std::string& encoder) {
        TEncodedAviSpec spec;
        spec.Encoder = encoder;
        const std::string movie = Dir.Path + "/m.avi";
        EXPECT_TRUE(WriteEncodedAvi(movie, spec));
        auto* clip = static_cast<TBlankNode*>(Root.VideoTrack->AddNode("K", amLastChild, nkBlank));
        clip->UserDuration = 2;
        auto* o = static_cast<TOverlayNode*>(clip->AddNode("M", amLastChild, nkOverlay));
        o->SetAddOn(MovieOverlayId);
        auto* overlay = dynamic_cast<TMovieOverlay*>(o->GetOverlay());
        if (!overlay)
            return;
        overlay->SetParams(movie);
        Reader = static_cast<TLocalMovieInterface*>(overlay->Movie)->Reader.get();
        Root.Refresh();
        Root.GetAviCompress().SelectCompressor(0);
    }

    // The file exported with the given threads, and whether the movie read ahead at each report.
    std::vector<uint8_t> Export(int threads, std::vector<bool>& ahead) {
        return ExportRig::Export(threads,
                                 [&](TFrameReport&) { ahead.push_back(Reader->IsReadingAhead()); });
    }
};

} // namespace

TEST(MovieOverlayReadAhead, OneThreadAndEightWriteTheSameFile) {
    for (const char* encoder : {"mjpeg", "mpeg4"}) {
        SCOPED_TRACE(encoder);
        OverlaidBlank c(encoder);
        ASSERT_NE(c.Reader, nullptr);
        ASSERT_TRUE(c.Reader->IsLoaded());
        std::vector<bool> ahead1, ahead8;
        const auto one = c.Export(1, ahead1);
        const auto eight = c.Export(8, ahead8);
        ASSERT_GT(one.size(), size_t(30 * 64 * 48 * 3));
        EXPECT_TRUE(one == eight) << "files differ";
        EXPECT_EQ(ahead1, std::vector<bool>(ahead1.size(), false));
        ASSERT_FALSE(ahead8.empty());
        EXPECT_EQ(ahead8, std::vector<bool>(ahead8.size(), true));
        // The movie was drawn to its end, and the run gives the reader back as it found it.
        EXPECT_GE(c.Reader->GetLastDecodedFrame(), 28);
        EXPECT_FALSE(c.Reader->IsReadingAhead());
    }
}

namespace {

// Two Motion JPEG movies joined by a transition.
void AddJoinedMovies(ExportRig& r, const char* transition) {
    for (const char* name : {"a", "b"}) {
        const std::string movie = r.Dir.Path + "/" + name + ".avi";
        ASSERT_TRUE(WriteEncodedAvi(movie, TEncodedAviSpec{}));
        if (*name == 'b') {
            auto* join = static_cast<TTransNode*>(
                r.Root.VideoTrack->AddNode("S", amLastChild, nkTransition));
            join->SetAddOn(transition);
            join->UserDuration = 0.5L;
        }
        r.Root.VideoTrack->AddNode(name, amLastChild, nkVideo)->SetFileName(movie);
    }
    r.Root.Refresh();
}

const char* const SlideId = "{7602E471-A8CA-46B2-B869-8AF956428110}";
const char* const NoAddOnId = "{00000000-1111-2222-3333-444444444444}"; // draws nothing

// The MJPEG compressor, keeping what it was given: whether each frame came as planes, and its
// pixels. A one-thread export gives it the frames in order.
struct TSeenFrames {
    bool TakePlanes = true;
    std::vector<bool> AsPlanes;
    std::vector<std::vector<uint8_t>> Pixels;
};

class TSeeingCompressor : public IVideoCompressor {
public:
    TSeeingCompressor(std::unique_ptr<IVideoCompressor> real, TSeenFrames& seen)
        : Real(std::move(real)), Seen(seen) {}
    void GetInfo(TVideoCompressorInfo& info) override { Real->GetInfo(info); }
    std::string GetAboutText() override { return Real->GetAboutText(); }
    bool Begin(const TVideoCompressFormat& format, TVideoOutputFormat& out) override {
        Width = format.Width;
        Height = format.Height;
        return Real->Begin(format, out);
    }
    int32_t Compress(const uint8_t* bits, ptrdiff_t stride, bool key,
                     TCompressedFrame& out) override {
        Keep(false, bits, stride);
        return Real->Compress(bits, stride, key, out);
    }
    bool TakesPlanes() const override { return Seen.TakePlanes && Real->TakesPlanes(); }
    int32_t CompressPlanes(const TYuvPicture& planes, bool key, TCompressedFrame& out) override {
        TBitmap rows(Width, Height);
        EXPECT_TRUE(planes.ToRows(rows.Bits(), rows.RowBytes()));
        Keep(true, rows.Bits(), rows.RowBytes());
        return Real->CompressPlanes(planes, key, out);
    }
    bool End() override { return Real->End(); }
    bool IndependentFrames() const override { return Real->IndependentFrames(); }

private:
    void Keep(bool planes, const uint8_t* bits, ptrdiff_t stride) {
        Seen.AsPlanes.push_back(planes);
        auto& p = Seen.Pixels.emplace_back();
        for (int y = 0; y < Height; ++y)
            p.insert(p.end(), bits + y * stride, bits + y * stride + Width * 3);
    }
    std::unique_ptr<IVideoCompressor> Real;
    TSeenFrames& Seen;
    int Width = 0, Height = 0;
};

class TSeeingCompressors : public IVideoCompressorList {
public:
    TSeenFrames Seen;
    bool GetInfo(uint32_t type, int32_t index, TVideoCompressorInfo& info) override {
        return LibavVideoCompressors().GetInfo(type, index, info);
    }
    std::unique_ptr<IVideoCompressor> Open(uint32_t type, uint32_t handler,
                                           TVideoCompressorMode mode) override {
        auto real = LibavVideoCompressors().Open(type, handler, mode);
        return real ? std::make_unique<TSeeingCompressor>(std::move(real), Seen) : nullptr;
    }
};

} // namespace

// Motion JPEG clips decode several frames ahead at once with more threads; the file is the same,
// also where a transition draws nothing and the frame before is coded again.
TEST(MovieClipReadAhead, AnyThreadCountWritesTheSameFile) {
    for (const char* transition : {SlideId, NoAddOnId}) {
        SCOPED_TRACE(transition);
        ExportRig r;
        AddJoinedMovies(r, transition);
        r.Root.GetAviCompress().SelectCompressor(MakeFourCC('m', 'j', 'p', 'g'));
        const std::vector<uint8_t> one = r.Export(1);
        ASSERT_GT(one.size(), 10000u);
        for (int threads : {2, 4, 8})
            EXPECT_TRUE(r.Export(threads) == one) << threads << " threads";
    }
}

// A movie frame that nothing is drawn over reaches the MJPEG encoder as the planes its decoder
// gave; any frame drawn on reaches it as rows. Either way the encoder sees the same pixels as
// one that takes rows only.
TEST(MovieExportPlanes, OnlyFramesNothingIsDrawnOverGoAsPlanes) {
    for (const char* transition : {SlideId, NoAddOnId}) {
        SCOPED_TRACE(transition);
        TSeenFrames seen[2];
        for (bool planes : {false, true}) {
            ExportRig r;
            TSeeingCompressors list;
            list.Seen.TakePlanes = planes;
            r.Root.CompressorListOverride = &list;
            AddJoinedMovies(r, transition);
            ASSERT_TRUE(r.Root.GetAviCompress().SelectCompressor(MakeFourCC('m', 'j', 'p', 'g')));
            r.Export(1);
            seen[planes] = list.Seen;
        }
        const std::vector<bool>& route = seen[1].AsPlanes;
        ASSERT_EQ(route.size(), 52u); // 2 + 2 - 0.5 s at 15 fps
        EXPECT_EQ(std::count(seen[0].AsPlanes.begin(), seen[0].AsPlanes.end(), true), 0);
        ASSERT_EQ(seen[1].Pixels.size(), seen[0].Pixels.size());
        for (size_t i = 0; i < route.size(); ++i)
            EXPECT_TRUE(seen[1].Pixels[i] == seen[0].Pixels[i]) << "frame " << i;
        if (transition == NoAddOnId) {
            EXPECT_EQ(std::count(route.begin(), route.end(), false), 0);
        } else {
            // The slide's frames, one run of them, and only those.
            const auto first = std::find(route.begin(), route.end(), false);
            const auto end = std::find(first, route.end(), true);
            EXPECT_EQ(end - first, 7); // 0.5 s
            EXPECT_EQ(std::count(end, route.end(), false), 0);
        }
    }
}

// A project of many movies keeps decoders ahead for the few it showed last only: each movie
// starts decoding ahead with its first frame and the one shown longest ago stops, so a long
// project never holds a reader per lane for every one of its movies. The file is the same.
TEST(MovieClipReadAhead, OnlyTheMoviesShownLastDecodeAhead) {
    ExportRig r;
    TProjectNode& root = r.Root;
    TEncodedAviSpec spec;
    spec.Frames = 4;
    const std::string movie = r.Dir.Path + "/m.avi";
    ASSERT_TRUE(WriteEncodedAvi(movie, spec));
    std::vector<TMovieNode*> movies;
    for (int i = 0; i < 7; ++i) {
        auto* m = static_cast<TMovieNode*>(
            root.VideoTrack->AddNode("M" + std::to_string(i), amLastChild, nkVideo));
        m->SetFileName(movie);
        movies.push_back(m);
    }
    root.Refresh();
    root.GetAviCompress().SelectCompressor(MakeFourCC('m', 'j', 'p', 'g'));
    std::vector<uint8_t> files[2];
    for (int threads : {1, 4}) {
        size_t most = 0;
        std::vector<bool> aheadAtEnd;
        files[threads > 1] = r.Export(threads, [&](TFrameReport&) {
            aheadAtEnd.clear();
            for (TMovieNode* m : movies)
                aheadAtEnd.push_back(m->GetReader().IsReadingAhead());
            most = std::max<size_t>(most,
                                    size_t(std::count(aheadAtEnd.begin(), aheadAtEnd.end(), true)));
        });
        if (threads == 1) {
            EXPECT_EQ(most, 0u);
        } else {
            EXPECT_EQ(most, TCustomProjectNode::MaxMoviesReadingAhead);
            // At the last frame the first movies have given their decoders up, the last kept.
            EXPECT_FALSE(aheadAtEnd.front());
            EXPECT_TRUE(aheadAtEnd.back());
        }
        // The run over, nobody decodes ahead.
        for (TMovieNode* m : movies)
            EXPECT_FALSE(m->GetReader().IsReadingAhead());
    }
    ASSERT_GT(files[0].size(), 5000u);
    EXPECT_TRUE(files[0] == files[1]);
}
