#include "MyClipNode.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ModelRig.h"
#include "MyEffectNodes.h"
#include "MyValueStream.h"
#include "PictureFixtures.h"
#include "TempFolders.h"

namespace {

// Colour of picture i of a numbered folder: distinct in every channel.
uint32_t PictureColour(int i) {
    return uint32_t(0x102030 + i * 0x0A0B0C);
}

std::string Numbered(int i, const char* ext) {
    // Appended, not joined, only to quiet g++ 12's false overlapping-copy warning at -O3.
    std::string name = "p";
    name += char('0' + i / 10);
    name += char('0' + i % 10);
    return name + ext;
}

// A 2 x 2 solid BMP for picture i.
void SavePicture(const std::string& fileName, uint32_t colour) {
    TBmpSpec s;
    s.Width = 2;
    s.Height = 2;
    s.Pixel = [colour](int32_t, int32_t) { return colour; };
    SaveBytes(fileName, BuildBmp(s));
}

// A clip node that keeps the silence blocks it hands over.
class TRecordingClip : public TClipNode {
public:
    using TClipNode::TClipNode;
    std::vector<TFrameSilence> Handed;

protected:
    void HandFrameSilence(TFrameSilence& silence) override { Handed.push_back(silence); }
};

struct ClipProject : TModelRig {
    TTreeNodeData* Queue = Root->VideoTrack;
    TTempDir Dir;

    TClipNode* AddClip() { return Add<TClipNode>(Queue, nkClip, "Clip"); }
    // n pictures p00.bmp .. in Dir, with the given rate, laid out with automatic duration.
    TClipNode* AddNumberedClip(int n, Extended rate) {
        for (int i = 0; i < n; ++i)
            SavePicture(Dir.Path + "/" + Numbered(i, ".bmp"), PictureColour(i));
        TClipNode* c = AddClip();
        c->SetFolder(Dir.Path);
        c->SetSourceFrameRate(rate);
        c->AutoDuration = true;
        Relayout();
        return c;
    }
};

TBitmap White(int32_t w = 320, int32_t h = 240) {
    TBitmap b(w, h);
    FillBitmap(&b, 0xFFFFFF);
    return b;
}

bool AllPixels(const TBitmap& b, uint32_t colour) {
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            if (b.Canvas().GetPixel(x, y) != colour)
                return false;
    return true;
}

} // namespace

TEST(ClipFolder, PicturesByExactExtensionInNameOrder) {
    ClipProject p;
    for (const char* n : {"d.gif", "B.bmp", "a.JPG", "c.txt", "e.j", "f.bm", "g", "C.jpeg", ".x"})
        p.Dir.File(n);
    std::filesystem::create_directory(p.Dir.Path + "/h.jpg"); // a folder is no picture
    TClipNode* c = p.AddClip();
    c->SetFolder(p.Dir.Path);
    const std::vector<std::string> want = {"a.JPG", "B.bmp", "C.jpeg", "d.gif"};
    EXPECT_EQ(c->GetPictures(), want);
    EXPECT_EQ(c->Folder, p.Dir.Path);
    // Rescanning replaces the list; a missing folder gives none.
    c->SetFolder(p.Dir.Path + "/none");
    EXPECT_EQ(c->GetPictureCount(), 0);
    c->SetFolder("");
    EXPECT_EQ(c->GetPictureCount(), 0);
}

TEST(ClipFolder, EmptyClipDrawsNothingAndFails) {
    ClipProject p;
    TClipNode* c = p.AddClip();
    c->SetFolder(p.Dir.Path);
    EXPECT_EQ(c->GetNaturalDuration(), 1.0L);
    c->SetSourceFrameRate(5);
    EXPECT_EQ(c->GetNaturalDuration(), 0.0L);
    TBitmap b = White();
    EXPECT_FALSE(c->PrepareFrame(&b, 0));
    EXPECT_TRUE(AllPixels(b, 0xFFFFFF)); // pixels nobody draws keep what was there
}

TEST(ClipTiming, RateDurationAndPictureIndex) {
    ClipProject p;
    TClipNode* c = p.AddNumberedClip(10, 5);
    EXPECT_EQ(c->GetDuration(), 2.0L);
    c->SetSourceFrameRate(0);
    c->SetSourceFrameRate(-3);
    EXPECT_EQ(c->GetSourceFrameRate(), 5.0L);
    // 0.5 and 1.5 pictures round to even.
    const std::pair<Extended, int> at[] = {{0, 0},    {-1, 0},    {0.1L, 0}, {0.3L, 2},
                                           {1.0L, 5}, {1.99L, 9}, {1e30L, 9}};
    for (const auto& [t, index] : at)
        EXPECT_EQ(c->GetPictureIndex(t), index) << double(t);
    // An in-point shifts the pictures, not the clip.
    c->ClipRange.FromStart = false;
    c->ClipRange.InTime = 0.4L;
    EXPECT_EQ(c->GetPictureIndex(0), 2);
}

// A clip made new follows its pictures: the length its property page shows is the one it plays.
TEST(ClipTiming, NewClipLastsAsLongAsItsPictures) {
    ClipProject p;
    TClipNode* c = p.AddClip();
    p.Relayout();
    EXPECT_EQ(c->GetDuration(), 1.0L); // no rate yet
    for (int i = 0; i < 10; ++i)
        SavePicture(p.Dir.Path + "/" + Numbered(i, ".bmp"), PictureColour(i));
    c->SetFolder(p.Dir.Path);
    c->SetSourceFrameRate(4);
    p.Relayout();
    EXPECT_EQ(c->GetDuration(), 2.5L);
    EXPECT_EQ(p.Queue->GetDuration(), 2.5L);
    // A stored clip keeps the length it was saved with.
    c->AutoDuration = false;
    std::vector<uint8_t> bytes;
    p.Root->SaveToStream(bytes);
    ClipProject back;
    ASSERT_TRUE(back.Root->LoadFromStream(bytes));
    back.Relayout();
    EXPECT_EQ(back.Root->GetChild(0)->GetChild(0)->GetDuration(), 1.0L);
}

TEST(ClipTiming, RateZeroShowsTheFirstPictureThroughout) {
    ClipProject p;
    TClipNode* c = p.AddNumberedClip(3, 0);
    c->ClipRate = 0;
    p.Relayout();
    EXPECT_EQ(c->GetDuration(), 1.0L);
    TBitmap b = White(8, 8);
    for (Extended t : {0.0L, 0.5L, 0.99L}) {
        ASSERT_TRUE(c->PrepareFrame(&b, t));
        EXPECT_TRUE(AllPixels(b, PictureColour(0)));
    }
}

TEST(ClipTiming, FirstPictureAtTheStartOfAnIncomingTransition) {
    ClipProject p;
    p.Blank(p.Queue, 2);
    TTreeNodeData* t = p.Add(p.Queue, nkTransition);
    t->AutoDuration = false;
    t->UserDuration = 1;
    TClipNode* c = p.AddNumberedClip(10, 5);
    ASSERT_EQ(c->GetStartTime(), 1.0L);
    for (const auto& [t, index] : {std::pair{1.0L, 0}, {1.2L, 1}, {2.0L, 5}})
        EXPECT_EQ(c->GetPictureIndex(t), index);
    TBitmap b = White(4, 4);
    ASSERT_TRUE(c->PrepareFrame(&b, 1.0L));
    EXPECT_TRUE(AllPixels(b, PictureColour(0)));
}

TEST(ClipRender, PicturesFillTheFrameAtTheirTimes) {
    ClipProject p;
    TClipNode* c = p.AddNumberedClip(10, 5);
    TBitmap b = White();
    for (int i : {0, 5, 9}) {
        ASSERT_TRUE(c->RenderFrame(&b, false, true, i / 5.0L));
        EXPECT_TRUE(AllPixels(b, PictureColour(i))) << i;
    }
    ASSERT_TRUE(c->RenderFrame(&b, false, true, 3.0L)); // past the end: the last picture
    EXPECT_TRUE(AllPixels(b, PictureColour(9)));
}

TEST(ClipRender, StretchedPixelsMatchTheSource) {
    ClipProject p;
    // 4 x 2 source with a distinct colour per pixel, stretched onto 320 x 240.
    TBmpSpec s;
    s.Width = 4;
    s.Height = 2;
    s.Pixel = [](int32_t x, int32_t y) { return uint32_t(0x203040 + x * 0x30 + y * 0x300000); };
    SaveBytes(p.Dir.Path + "/only.bmp", BuildBmp(s));
    const uint32_t q[4] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF};
    SaveBytes(p.Dir.Path + "/zz.jpg", BuildJpeg(MakeQuarters(64, 48, q)));
    TClipNode* c = p.AddClip();
    c->SetFolder(p.Dir.Path);
    c->SetSourceFrameRate(1);
    TBitmap b = White();
    ASSERT_TRUE(c->PrepareFrame(&b, 0));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            for (int dx : {0, 79})
                for (int dy : {0, 119})
                    EXPECT_EQ(b.Canvas().GetPixel(x * 80 + dx, y * 120 + dy), s.Pixel(x, y))
                        << x << "," << y;
    ASSERT_TRUE(c->PrepareFrame(&b, 1)); // the JPEG quarters
    EXPECT_EQ(b.Canvas().GetPixel(10, 10) & 0xF0F0F0, 0x0000F0u);
    EXPECT_EQ(b.Canvas().GetPixel(310, 230) & 0xF0F0F0, 0xF0F0F0u);
}

TEST(ClipRender, MissingOrDamagedPicturesGiveBlackAndFalse) {
    ClipProject p;
    TClipNode* c = p.AddNumberedClip(4, 1);
    SaveBytes(p.Dir.Path + "/" + Numbered(2, ".bmp"), {'B', 'M', 1, 2, 3});
    const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0};
    SaveBytes(p.Dir.Path + "/" + Numbered(3, ".bmp"), jpeg); // a JPEG named .bmp
    // Half a JPEG, a GIF header alone and the first 20 bytes of a GIF.
    const uint32_t q[4] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF};
    std::vector<uint8_t> half = BuildJpeg(MakeQuarters(32, 32, q));
    half.resize(half.size() / 2);
    SaveBytes(p.Dir.Path + "/" + Numbered(4, ".jpg"), half);
    std::vector<uint8_t> gif = BuildGif(4, 4, {0x0000FF, 0xFF0000}, std::vector<uint8_t>(16, 1));
    SaveBytes(p.Dir.Path + "/" + Numbered(6, ".gif"), {gif.begin(), gif.begin() + 20});
    SaveBytes(p.Dir.Path + "/" + Numbered(5, ".GIF"), {'G', 'I', 'F', '8', '9', 'a', 1, 0});
    c->SetFolder(p.Dir.Path);
    ASSERT_EQ(c->GetPictureCount(), 7);
    std::filesystem::remove(p.Dir.Path + "/" + Numbered(1, ".bmp")); // gone after the listing
    for (int i = 1; i < 7; ++i) {
        TBitmap b = White();
        EXPECT_FALSE(c->RenderFrame(&b, false, true, i)) << i;
        EXPECT_TRUE(AllPixels(b, 0)) << i;
        FillBitmap(&b, 0xFFFFFF);
        EXPECT_FALSE(c->PrepareFrame(&b, i)) << i;
        EXPECT_TRUE(AllPixels(b, 0)) << i;
    }
    TBitmap b = White();
    EXPECT_TRUE(c->RenderFrame(&b, false, true, 0)); // the good one still shows
    EXPECT_TRUE(AllPixels(b, PictureColour(0)));
}

// A picture cut short is named once with the loader's reason, after the frame that first meets
// it, however often it is decoded again; the export runs on with its frames black.
TEST(ClipRender, AnUnreadablePictureIsNamedOnceAndTheExportGoesOn) {
    ClipProject p;
    const uint32_t q[4] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF};
    std::vector<uint8_t> cut = BuildJpeg(MakeQuarters(32, 32, q));
    cut.resize(cut.size() / 2);
    const std::string bad = p.Dir.Path + "/" + Numbered(2, ".jpg");
    SaveBytes(bad, cut);
    TClipNode* c = p.AddNumberedClip(2, 2); // p00.bmp, p01.bmp, p02.jpg: 1.5 s
    p.Root->Refresh();
    const std::string avi = p.Dir.Path + "/out.avi";
    ASSERT_TRUE(p.Root->ExportMovie(0, p.Root->GetFrameCount(), nullptr, nullptr, avi));
    EXPECT_TRUE(p.Ui.Messages.empty());
    // Picture 2, then 0, then 2 again: decoded twice, named once.
    for (Extended t : {1.0L, 0.0L, 1.0L}) {
        TBitmap b = White();
        c->RenderFrame(&b, false, true, t);
    }
    ASSERT_EQ(p.Ui.RunPosted(), 1);
    ASSERT_EQ(p.Ui.Messages.size(), 1u);
    const std::string& said = p.Ui.Messages[0];
    EXPECT_EQ(said.rfind("The picture " + bad + " cannot be read (Invalid JPEG file: ", 0), 0u)
        << said;
    EXPECT_TRUE(said.ends_with("); its frames are black.")) << said;
    EXPECT_EQ(p.Ui.MessageKinds[0], TMsgKind::Warning);
}

TEST(ClipRender, PictureIsDecodedOnceAndReadAgainWhenEdited) {
    ClipProject p;
    TClipNode* c = p.AddNumberedClip(1, 1);
    const std::string file = p.Dir.Path + "/" + Numbered(0, ".bmp");
    TBitmap b = White(8, 8);
    ASSERT_TRUE(c->PrepareFrame(&b, 0));
    // Same size and change time: the cached picture is shown without reading the file.
    const auto stamp = std::filesystem::last_write_time(file);
    SavePicture(file, 0x00FFFF);
    std::filesystem::last_write_time(file, stamp);
    ASSERT_TRUE(c->PrepareFrame(&b, 0));
    EXPECT_TRUE(AllPixels(b, PictureColour(0)));
    // A new change time makes it read again.
    std::filesystem::last_write_time(file, stamp + std::chrono::seconds(2));
    ASSERT_TRUE(c->PrepareFrame(&b, 0));
    EXPECT_TRUE(AllPixels(b, 0x00FFFF));
}

TEST(ClipRender, OneFrameOfSilencePerFrame) {
    ClipProject p;
    p.Queue->AddNode("Blank", amLastChild, nkBlank);
    // A recording clip on its own item, after the blank.
    ITreeItem* item = p.Queue->Item->AddChild("Clip");
    TRecordingClip clip(p.Root.get(), "Clip", item);
    item->SetData(&clip);
    TBitmap b = White(8, 8);
    clip.AudioHandler = [](TAudioSourceInfo&) { return true; };
    clip.RenderFrame(&b, false, false, 0); // sound not wanted: nothing
    EXPECT_TRUE(clip.Handed.empty());
    // The clip has no pictures, so its picture fails, but the sound keeps its pace.
    EXPECT_FALSE(clip.RenderFrame(&b, true, true, 0));
    ASSERT_EQ(clip.Handed.size(), 1u);
    const TFrameSilence& s = clip.Handed[0];
    EXPECT_EQ(s.Data.size(), 1470u * 4u); // 22050 / 15 sample frames of 4 bytes
    EXPECT_EQ(std::count(s.Data.begin(), s.Data.end(), 0), long(s.Data.size()));
    EXPECT_EQ(s.SourceId, 3); // project, track, blank, clip
    p.Root->FrameRate = 0;
    clip.RenderFrame(&b, true, false, 0);
    EXPECT_EQ(clip.Handed.size(), 1u);
}

// File names are bytes: a folder named in Latin-1 keeps its exact bytes through a save and a
// reopen, and the clip still finds its pictures; saving again gives the same file.
TEST(ClipFile, NonUtf8FolderNameRoundTripsByteForByte) {
    ClipProject p;
    const std::string folder = p.Dir.Path + "/Vid\xE9os d'\xE9t\xE9";
    std::filesystem::create_directory(folder);
    for (int i = 0; i < 3; ++i)
        SavePicture(folder + "/" + Numbered(i, ".bmp"), PictureColour(i));
    TClipNode* c = p.AddClip();
    c->SetFolder(folder);
    c->SetSourceFrameRate(2);
    c->AutoDuration = true;
    ASSERT_EQ(c->GetPictureCount(), 3);
    const std::string name = p.Dir.Path + "/latin.mpr";
    ASSERT_TRUE(p.Root->SaveToFile(name));
    const std::vector<uint8_t> saved = ReadBytes(name);
    // Stored as the bytes the folder has, under the byte-text tag.
    ASSERT_LE(folder.size(), 255u);
    std::vector<uint8_t> stored = {0x06, uint8_t(folder.size())};
    stored.insert(stored.end(), folder.begin(), folder.end());
    EXPECT_NE(std::search(saved.begin(), saved.end(), stored.begin(), stored.end()), saved.end());

    ClipProject q;
    ASSERT_TRUE(q.Root->LoadFromFile(name));
    auto* back = static_cast<TClipNode*>(q.Root->VideoTrack->GetChild(0));
    EXPECT_EQ(back->Folder, folder);
    EXPECT_EQ(back->GetPictureCount(), 3);
    EXPECT_EQ(back->GetDuration(), 1.5L);
    TBitmap b = White(8, 8);
    ASSERT_TRUE(back->PrepareFrame(&b, back->GetStartTime() + 1.0L));
    EXPECT_TRUE(AllPixels(b, PictureColour(2)));
    EXPECT_TRUE(q.Save() == saved);
}
