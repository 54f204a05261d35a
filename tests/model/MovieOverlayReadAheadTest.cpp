// A movie drawn over a clip decodes ahead during a pipelined export, like movie clips, and the
// file written is the same as with one thread.
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
#include "TempFolders.h"

namespace {

const char* const MovieOverlayId = "{F3C34695-8149-4D2C-AE86-DAA65EF943E9}";

// A 2 s blank clip at 64 x 48, 15 fps, with the movie over it at its own size.
struct OverlaidBlank {
    TTempDir Dir;
    TMemTree Tree;
    TFakeUiServices Ui;
    TProjectNode Root{"Project", Tree.AddRoot("Project")};
    TAviReader* Reader = nullptr;

    explicit OverlaidBlank(const std::string& encoder) {
        TEncodedAviSpec spec;
        spec.Encoder = encoder;
        const std::string movie = Dir.Path + "/m.avi";
        EXPECT_TRUE(WriteEncodedAvi(movie, spec));
        Root.Ui = &Ui;
        Root.ExportSleepMs = 0;
        Root.SetVideoFormat(64, 48, 15);
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
        Root.RenderThreads = threads;
        const std::string name = Dir.Path + "/out" + std::to_string(threads) + ".avi";
        EXPECT_TRUE(Root.ExportMovie(
            0, Root.GetFrameCount(), nullptr,
            [&](TFrameReport&) { ahead.push_back(Reader->IsReadingAhead()); }, name));
        std::ifstream in(name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
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

// Motion JPEG clips decode several frames ahead at once with more threads; the file is the same.
TEST(MovieClipReadAhead, AnyThreadCountWritesTheSameFile) {
    TTempDir dir;
    TMemTree tree;
    TFakeUiServices ui;
    TProjectNode root{"Project", tree.AddRoot("Project")};
    root.Ui = &ui;
    root.ExportSleepMs = 0;
    root.SetVideoFormat(64, 48, 15);
    for (const char* name : {"a", "b"}) {
        TEncodedAviSpec spec;
        const std::string movie = dir.Path + "/" + name + ".avi";
        ASSERT_TRUE(WriteEncodedAvi(movie, spec));
        if (*name == 'b') {
            auto* slide =
                static_cast<TTransNode*>(root.VideoTrack->AddNode("S", amLastChild, nkTransition));
            slide->SetAddOn("{7602E471-A8CA-46B2-B869-8AF956428110}");
            slide->UserDuration = 0.5L;
        }
        root.VideoTrack->AddNode(name, amLastChild, nkVideo)->SetFileName(movie);
    }
    root.Refresh();
    root.GetAviCompress().SelectCompressor(MakeFourCC('m', 'j', 'p', 'g'));
    std::vector<uint8_t> files[4];
    const int threads[] = {1, 2, 4, 8};
    for (int k = 0; k < 4; ++k) {
        root.RenderThreads = threads[k];
        const std::string name = dir.Path + "/out" + std::to_string(threads[k]) + ".avi";
        ASSERT_TRUE(root.ExportMovie(0, root.GetFrameCount(), nullptr, nullptr, name));
        std::ifstream in(name, std::ios::binary);
        files[k].assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(files[0].size(), 10000u);
    for (int k = 1; k < 4; ++k)
        EXPECT_TRUE(files[k] == files[0]) << threads[k] << " threads";
}

// A project of many movies keeps decoders ahead for the few it showed last only: each movie
// starts decoding ahead with its first frame and the one shown longest ago stops, so a long
// project never holds a reader per lane for every one of its movies. The file is the same.
TEST(MovieClipReadAhead, OnlyTheMoviesShownLastDecodeAhead) {
    TTempDir dir;
    TMemTree tree;
    TFakeUiServices ui;
    TProjectNode root{"Project", tree.AddRoot("Project")};
    root.Ui = &ui;
    root.ExportSleepMs = 0;
    root.SetVideoFormat(64, 48, 15);
    TEncodedAviSpec spec;
    spec.Frames = 4;
    const std::string movie = dir.Path + "/m.avi";
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
        root.RenderThreads = threads;
        size_t most = 0;
        std::vector<bool> aheadAtEnd;
        const std::string name = dir.Path + "/out" + std::to_string(threads) + ".avi";
        ASSERT_TRUE(root.ExportMovie(
            0, root.GetFrameCount(), nullptr,
            [&](TFrameReport&) {
                aheadAtEnd.clear();
                for (TMovieNode* m : movies)
                    aheadAtEnd.push_back(m->GetReader().IsReadingAhead());
                most = std::max<size_t>(
                    most, size_t(std::count(aheadAtEnd.begin(), aheadAtEnd.end(), true)));
            },
            name));
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
        std::ifstream in(name, std::ios::binary);
        files[threads > 1].assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(files[0].size(), 5000u);
    EXPECT_TRUE(files[0] == files[1]);
}
