#include "MyAVICompress.h"

#include "FakeUiServices.h"
#include "FakeVideoCompressors.h"
#include "MediaProbe.h"
#include "MyAviWriter.h"
#include "MyMovieWriter.h"
#include "TempFolders.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

using ::testing::ElementsAre;

namespace {

uint32_t Code(const std::string& s) {
    return MakeFourCC(uint8_t(s[0]), uint8_t(s[1]), uint8_t(s[2]), uint8_t(s[3]));
}

std::vector<std::string> Texts(const std::vector<TCompressorListItem>& items) {
    std::vector<std::string> r;
    for (const auto& i : items)
        r.push_back(i.Text);
    return r;
}

TAviCompressParams Params(int32_t w, int32_t h, Extended fps = 15) {
    TAviCompressParams p;
    p.FrameRate = fps;
    p.Width = w;
    p.Height = h;
    p.FrameCount = 10;
    return p;
}

class AviCompressFake : public ::testing::Test {
protected:
    TFakeUiServices Ui;
    TFakeVideoCompressors Fake;

    // A compressor choice over the fake "ffff" of the spec (and "gggg" when asked), "ffff" chosen
    // and prepared for 64 x 48.
    TAviCompress& Prepared(TFakeCompressorSpec spec = {"ffff", "F", "Good one"}, bool gggg = false,
                           bool prepare = true) {
        Fake.Specs.push_back(spec);
        if (gggg)
            Fake.Specs.push_back({"gggg", "G", "Other one"});
        C = std::make_unique<TAviCompress>(Ui, Fake);
        EXPECT_TRUE(C->SelectCompressor(Code("ffff")));
        P = Params(64, 48);
        EXPECT_TRUE(!prepare || C->Prepare(P));
        return *C;
    }
    std::unique_ptr<TAviCompress> C;
    TAviCompressParams P;
};

} // namespace

TEST_F(AviCompressFake, ListStartsUncompressedAndFiltersAsRuled) {
    Fake.Specs = {{"HfYu", "HfYu", "Lossless video"},
                  {"DiVx", "DiVx", "never asked", false},
                  {"aaaa", "aaaa", "Some YUV packer"},
                  {"bbbb", "bbbb", "An H.263 variant"},
                  {"cccc", "cccc", "   "},
                  {"dddd", "dddd", "Run length: rle8"},
                  {"eeee", "eeee", "Cannot even be queried", false},
                  {"ffff", "ffff", "Good one"},
                  {"gggg", "gggg", std::string(200, 'x')}};
    TAviCompress c(Ui, Fake);
    std::vector<TCompressorListItem> items;
    ASSERT_TRUE(c.FillCompressorList(items));
    EXPECT_THAT(Texts(items),
                ElementsAre("Uncompressed 24bits DIB", "DivX", "Good one", std::string(127, 'x')));
    EXPECT_EQ(items[0].Object->Handler, 0u);
    EXPECT_EQ(items[0].Object->Name, "Uncompressed");
    EXPECT_EQ(items[1].Object->Handler, Code("DiVx"));
    EXPECT_EQ(items[2].Object->Handler, Code("ffff"));
    // The DivX entry is taken as listed; the others are asked about themselves.
    EXPECT_EQ(std::count(Fake.Opened.begin(), Fake.Opened.end(), "q:DiVx"), 0);
    EXPECT_EQ(std::count(Fake.Opened.begin(), Fake.Opened.end(), "q:HfYu"), 0);
    EXPECT_EQ(c.GetSelectedIndex(), 0);
    EXPECT_EQ(c.GetFourCC(), 0u);
    EXPECT_EQ(c.GetDescription(), "Uncompressed 24bits DIB");
}

TEST_F(AviCompressFake, NoCompressorsLeaveUncompressedAlone) {
    TAviCompress c(Ui, Fake);
    std::vector<TCompressorListItem> items{{"stale", nullptr}};
    c.FillCompressorList(items);
    EXPECT_THAT(Texts(items), ElementsAre("Uncompressed 24bits DIB"));
    EXPECT_EQ(c.GetFourCC(), 0u);
    EXPECT_FALSE(c.HasAboutBox());
    EXPECT_TRUE(c.ShowAboutBox());
    EXPECT_TRUE(Ui.Messages.empty());
}

TEST_F(AviCompressFake, SelectionByFourCC) {
    Fake.Specs.push_back({"ffff", "F", "Good one"});
    Fake.Specs.push_back({"gggg", "G", "Other one"});
    TAviCompress c(Ui, Fake);
    Fake.Opened.clear();
    EXPECT_TRUE(c.SelectCompressor(Code("gggg")));
    EXPECT_EQ(c.GetSelectedIndex(), 2);
    EXPECT_EQ(c.GetFourCC(), Code("gggg"));
    EXPECT_EQ(c.GetDescription(), "Other one");
    // Selecting it again keeps the open compressor.
    EXPECT_TRUE(c.SelectCompressor(Code("gggg")));
    EXPECT_THAT(Fake.Opened, ElementsAre("c:gggg"));
    EXPECT_TRUE(c.HasAboutBox());
    EXPECT_TRUE(c.ShowAboutBox());
    EXPECT_THAT(Ui.Messages, ElementsAre("About the fake"));
    // A FOURCC nobody has falls back to uncompressed, and says so.
    Ui.Messages.clear();
    EXPECT_FALSE(c.SelectCompressor(Code("zzzz")));
    EXPECT_THAT(Ui.Messages,
                ElementsAre("The video compressor \"zzzz\" is not available in this system."));
    EXPECT_EQ(c.GetSelectedIndex(), 0);
    EXPECT_EQ(c.GetFourCC(), 0u);
    EXPECT_FALSE(c.HasAboutBox());
    // A rebuild returns to uncompressed with nothing open.
    EXPECT_TRUE(c.SelectCompressor(Code("ffff")));
    std::vector<TCompressorListItem> items;
    c.FillCompressorList(items);
    EXPECT_EQ(c.GetSelectedIndex(), 0);
    EXPECT_FALSE(c.HasAboutBox());
}

TEST_F(AviCompressFake, CompressorThatWillNotOpenIsReported) {
    TFakeCompressorSpec s{"ffff", "F", "Broken"};
    s.OpensForCompress = false;
    Fake.Specs.push_back(s);
    TAviCompress c(Ui, Fake);
    EXPECT_FALSE(c.SelectCompressor(Code("ffff")));
    EXPECT_THAT(Ui.Messages, ElementsAre("Fail to initiate the video compressor"));
    EXPECT_EQ(c.GetFourCC(), Code("ffff"));
    TAviCompressParams p = Params(64, 48);
    EXPECT_FALSE(c.Prepare(p));
}

TEST_F(AviCompressFake, NothingChangesWhileCompressing) {
    TAviCompress& c = Prepared({"ffff", "F", "Good one"}, true);
    EXPECT_TRUE(c.IsBegun());
    EXPECT_FALSE(c.SelectCompressor(Code("gggg")));
    EXPECT_FALSE(c.SelectCompressor(0));
    std::vector<TCompressorListItem> items;
    EXPECT_FALSE(c.FillCompressorList(items));
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(c.GetFourCC(), Code("ffff"));
    EXPECT_TRUE(c.SelectCompressor(Code("ffff"))); // the same one is no change
    TVideoFrameInfo f;
    f.KeyRequest = true;
    EXPECT_TRUE(c.CompressFrame(f));
    EXPECT_TRUE(c.EndCompress());
    EXPECT_FALSE(c.EndCompress());
    EXPECT_TRUE(c.SelectCompressor(Code("gggg")));
}

TEST_F(AviCompressFake, CompressedFrameCarriesEncoderOutputAndFlags) {
    TAviCompress& c = Prepared({"ffff", "F", "Good one"}, false, false);
    TVideoFrameInfo f;
    EXPECT_FALSE(c.CompressFrame(f)); // nothing prepared
    ASSERT_TRUE(c.Prepare(P));
    EXPECT_EQ(P.VideoFormat.biSize, 40u);
    EXPECT_EQ(P.VideoFormat.biCompression, Code("ffff"));
    c.GetCurrentBitmap().Canvas().SetPixel(0, 0, 0x0000FF); // red top-left
    f.KeyRequest = true;
    ASSERT_TRUE(c.CompressFrame(f));
    EXPECT_EQ(f.Bitmap, &c.GetCurrentBitmap());
    ASSERT_EQ(f.Size, 4);
    const uint8_t* d = static_cast<const uint8_t*>(f.Data);
    EXPECT_EQ(d[0], 0); // the encoder sees the top row first
    EXPECT_EQ(d[2], 255);
    EXPECT_EQ(f.Flags, AVIIF_KEYFRAME);
    f.KeyRequest = false;
    ++f.FrameNumber;
    ASSERT_TRUE(c.CompressFrame(f));
    EXPECT_EQ(f.Flags, 0u);
    EXPECT_THAT(Fake.KeyRequests, ElementsAre(true, false));
    EXPECT_GE(Ui.PumpCount, 2);
    // A frame bitmap resized behind the encoder's back is not read.
    c.GetCurrentBitmap().SetSize(32, 32);
    EXPECT_FALSE(c.CompressFrame(f));
}

TEST_F(AviCompressFake, CompressorErrorRaisesWithFrameAndCode) {
    TFakeCompressorSpec s{"ffff", "F", "Good one"};
    s.FailAt = 0;
    s.FailCode = -7;
    TAviCompress& c = Prepared(s);
    TVideoFrameInfo f;
    f.FrameNumber = 12;
    try {
        c.CompressFrame(f);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetMessage(), "Fail to compress frame 12 Error code: -7");
    }
}

TEST_F(AviCompressFake, PrepareFailureEndsNothingBegun) {
    TFakeCompressorSpec s{"ffff", "F", "Good one"};
    s.Begins = false;
    TAviCompress& c = Prepared(s, false, false);
    EXPECT_FALSE(c.Prepare(P));
    EXPECT_FALSE(c.IsBegun());
    EXPECT_TRUE(Ui.Messages.empty());
    P = Params(0, 48);
    EXPECT_FALSE(c.Prepare(P));
}

TEST_F(AviCompressFake, UncompressedFramesAreBottomUpDibs) {
    TAviCompress c(Ui, Fake);
    auto p = Params(320, 240);
    ASSERT_TRUE(c.Prepare(p));
    TBitmapInfoHeader want{40, 320, 240, 1, 24, BI_RGB, 230400, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&p.VideoFormat, &want, sizeof(want)), 0);

    p = Params(321, 2);
    ASSERT_TRUE(c.Prepare(p));
    EXPECT_EQ(p.VideoFormat.biSizeImage, 964u * 2); // rows padded to 4 bytes
    c.GetCurrentBitmap().Canvas().SetPixel(0, 0, 0x0000FF);
    TVideoFrameInfo f;
    f.Flags = 0x1234;
    ASSERT_TRUE(c.CompressFrame(f));
    ASSERT_EQ(f.Size, 964 * 2);
    const uint8_t* d = static_cast<const uint8_t*>(f.Data);
    // The top row is stored last.
    EXPECT_EQ(d[964], 0);
    EXPECT_EQ(d[965], 0);
    EXPECT_EQ(d[966], 255);
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(f.Flags, 0x1234u); // left as it was
    EXPECT_EQ(f.Bitmap, &c.GetCurrentBitmap());
}

// ---- The installed compressors through the AVI writer --------------------------------------

namespace {

const char* const Encoders[][2] = {{"mjpg", "mjpeg"},     {"xvid", "mpeg4"},    {"divx", "mpeg4"},
                                   {"mp42", "msmpeg4v2"}, {"mp43", "msmpeg4"},  {"wmv1", "wmv1"},
                                   {"cvid", "cinepak"},   {"msvc", "msvideo1"}, {"zmbv", "zmbv"}};

// Selects handler's compressor, prepares it for 64 x 48 frames at 15 per second and opens file
// for its output.
void BeginAvi(TAviCompress& c, uint32_t handler, TAviWriter& writer, const std::string& file,
              int32_t frameCount = 0) {
    ASSERT_TRUE(c.SelectCompressor(handler));
    TExportSettings settings;
    settings.FrameRate = 15;
    settings.Width = 64;
    settings.Height = 48;
    settings.FrameCount = frameCount;
    TAviCompressParams p = Params(64, 48);
    ASSERT_TRUE(c.Prepare(p));
    ASSERT_TRUE(writer.Open(file, settings, c.GetFourCC(), p.VideoFormat));
}

// Compresses the current bitmap as frame f and writes it.
void CompressAndWrite(TAviCompress& c, TAviWriter& writer, TVideoFrameInfo& f) {
    ASSERT_TRUE(c.CompressFrame(f));
    ASSERT_TRUE(writer.WriteVideoFrame(f.Data, uint32_t(f.Size), (f.Flags & AVIIF_KEYFRAME) != 0));
    ++f.FrameNumber;
}

} // namespace

TEST(AviCompressReal, ListOffersEveryInstalledEncoder) {
    TFakeUiServices ui;
    TAviCompress c(ui);
    std::vector<TCompressorListItem> items;
    c.FillCompressorList(items);
    std::vector<std::string> want{"0"};
    for (const auto& e : Encoders)
        if (avcodec_find_encoder_by_name(e[1]))
            want.push_back(e[0]);
    std::vector<std::string> got;
    for (const auto& i : items)
        got.push_back(i.Object->Handler ? FourCCToText(i.Object->Handler) : "0");
    EXPECT_EQ(got, want);
    for (const auto& i : items)
        EXPECT_TRUE(i.Object->Handler != Code("divx") || i.Text == "DivX") << i.Text;
}

TEST(AviCompressReal, EveryOfferedCompressorRoundTripsThroughAnAviFile) {
    TFakeUiServices ui;
    TTempDir dir;
    TAviCompress c(ui);
    std::vector<TCompressorListItem> items;
    c.FillCompressorList(items);
    constexpr int Frames = 6;
    for (const auto& item : items) {
        const uint32_t handler = item.Object->Handler;
        SCOPED_TRACE(item.Text);
        TAviWriter writer(ui, dir.Path);
        const std::string file =
            dir.Path + "/" + (handler ? FourCCToText(handler) : "dib") + ".avi";
        ASSERT_NO_FATAL_FAILURE(BeginAvi(c, handler, writer, file, Frames));
        TVideoFrameInfo f;
        for (int i = 0; i < Frames; ++i) {
            TBitmap& bmp = c.GetCurrentBitmap();
            bmp.Canvas().Brush.Color = 0x3050F0;
            bmp.Canvas().FillRect(Rect(0, 0, 64, 48));
            bmp.Canvas().Brush.Color = 0xF05030;
            bmp.Canvas().FillRect(Rect(i * 8, 0, i * 8 + 16, 48)); // a moving bar
            f.KeyRequest = i == 0 || i == 4;
            ASSERT_NO_FATAL_FAILURE(CompressAndWrite(c, writer, f)) << i;
        }
        ASSERT_TRUE(writer.Close(0));
        EXPECT_TRUE(c.EndCompress());

        const TProbedFile probe = ProbeMedia(file, true);
        ASSERT_TRUE(probe.Opened);
        ASSERT_EQ(probe.Streams.size(), 1u);
        const TProbedStream& v = probe.Streams[0];
        EXPECT_EQ(v.Width * 100 + v.Height, 6448);
        EXPECT_EQ(v.DecodedFrames, Frames);
        EXPECT_EQ(v.DecodeErrors, 0);
        ASSERT_EQ(v.KeyFlags.size(), size_t(Frames));
        EXPECT_TRUE(v.KeyFlags[0] && v.KeyFlags[4]);
        // The last picture shows the bar at 40..55 (blue-ish 0xF05030 is B=0xF0) on red-ish.
        ASSERT_EQ(v.Pictures.size(), size_t(Frames));
        const std::vector<uint8_t>& last = v.Pictures.back();
        const uint8_t* bar = &last[size_t((24 * 64 + 48) * 3)];
        const uint8_t* ground = &last[size_t((24 * 64 + 10) * 3)];
        EXPECT_TRUE(bar[0] > 180 && bar[2] < 90) << int(bar[0]) << " " << int(bar[2]);
        EXPECT_TRUE(ground[2] > 180 && ground[0] < 90) << int(ground[0]) << " " << int(ground[2]);
    }
}

// Black, white and mid grey read back by libavcodec + libswscale within 2 levels of what was
// rendered, for every compressor. 15-bit Video-1 can only come as close as its 5-bit steps.
TEST(AviCompressReal, BlackWhiteAndGreyKeepTheirLevels) {
    TFakeUiServices ui;
    TTempDir dir;
    TAviCompress c(ui);
    std::vector<TCompressorListItem> items;
    c.FillCompressorList(items);
    const uint32_t levels[] = {0x000000, 0xFFFFFF, 0x808080, 0x101010, 0xEBEBEB};
    for (const auto& item : items) {
        const uint32_t handler = item.Object->Handler;
        SCOPED_TRACE(item.Text);
        TAviWriter writer(ui, dir.Path);
        const std::string file = dir.Path + "/levels.avi";
        ASSERT_NO_FATAL_FAILURE(BeginAvi(c, handler, writer, file));
        TVideoFrameInfo f;
        for (uint32_t level : levels) {
            TBitmap& bmp = c.GetCurrentBitmap();
            bmp.Canvas().Brush.Color = level;
            bmp.Canvas().FillRect(Rect(0, 0, 64, 48));
            f.KeyRequest = true;
            ASSERT_NO_FATAL_FAILURE(CompressAndWrite(c, writer, f));
        }
        ASSERT_TRUE(writer.Close(0));
        c.EndCompress();
        const TProbedFile probe = ProbeMedia(file, true);
        ASSERT_TRUE(probe.Opened);
        const auto& pictures = probe.Streams.at(0).Pictures;
        ASSERT_EQ(pictures.size(), std::size(levels));
        const int slack = handler == Code("msvc") ? 5 : 2;
        for (size_t i = 0; i < pictures.size(); ++i) {
            const int want = int(levels[i] & 0xFF);
            const auto [lo, hi] = std::minmax_element(pictures[i].begin(), pictures[i].end());
            EXPECT_NEAR(*lo, want, slack) << "level " << want;
            EXPECT_NEAR(*hi, want, slack) << "level " << want;
        }
    }
}
