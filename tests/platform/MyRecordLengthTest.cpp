// The length check the RIFF writers close their records with: the data written must match the
// size the header declares, start on an even offset and fit the 32-bit size field.
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "MyRiffIO.h"
#include "TempFolders.h"
#include "TestData.h"

TEST(RecordLength, ClosingChecksWhatWasWritten) {
    struct TCase {
        int64_t DataOffset, Declared, End;
        bool Ok;
        uint32_t Size;
        const char* Why;
    };
    const TCase cases[] = {
        {44, -1, 55, true, 11, ""}, // patched; the pad byte is not counted
        {20, 16, 36, true, 16, ""},
        {8, -1, 8 + 0xFFFFFFFFLL, true, 0xFFFFFFFFu, ""},
        {20, 16, 35, false, 0, "Record \"fmt \" at offset 12 holds 15 bytes, its header says 16"},
        {20, 16, 37, false, 0, "Record \"fmt \" at offset 12 holds 17 bytes, its header says 16"},
        {20, 0, 20 + 0x100000000LL, false, 0,
         "Record \"fmt \" at offset 12 holds 4294967296 bytes, more than its size field can give"},
        {21, -1, 31, false, 0, "Record \"fmt \" at offset 13 starts on an odd offset"},
        {20, -1, 19, false, 0, "Record \"fmt \" at offset 12 ends before its data"},
    };
    for (const TCase& c : cases) {
        uint32_t size = 7;
        std::string why = "stale";
        const TRiffRecord record{RIFF_ID_FMT, c.DataOffset, c.Declared};
        EXPECT_EQ(record.SizeAt(c.End, size, why), c.Ok) << c.DataOffset << " .. " << c.End;
        EXPECT_EQ(size, c.Size) << c.DataOffset << " .. " << c.End;
        EXPECT_EQ(why, c.Why);
    }
}

TEST(RecordLength, RiffFileKeepsADeclaredChunkOpenUntilItsDataIsComplete) {
    TTempDir tmp;
    const std::string name = tmp.Path + "/fixed.riff";
    TRiffFile f;
    ASSERT_TRUE(f.Open(name, TRiffMode::Create));
    TRiffChunk riff, fixed, odd;
    riff.FormType = RiffId("TEST");
    fixed.Id = RiffId("fix ");
    odd.Id = RiffId("odd ");
    ASSERT_TRUE(f.CreateChunk(riff, TRiffCreate::Riff));
    ASSERT_TRUE(f.CreateChunk(fixed, TRiffCreate::Chunk, 4));
    ASSERT_EQ(f.Write("abc", 3), 3);
    EXPECT_FALSE(f.Ascend(fixed));
    EXPECT_EQ(f.ErrorText(), "Record \"fix \" at offset 12 holds 3 bytes, its header says 4");
    ASSERT_EQ(f.Write("d", 1), 1);
    EXPECT_TRUE(f.Ascend(fixed));
    EXPECT_EQ(f.ErrorText(), "");
    ASSERT_TRUE(f.CreateChunk(odd));
    ASSERT_EQ(f.Write("xyz", 3), 3);
    EXPECT_TRUE(f.Ascend(odd));
    EXPECT_TRUE(f.Ascend(riff));
    ASSERT_TRUE(f.Close());

    std::ifstream in(name, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(bytes, HexBytes("52494646 1c000000 54455354"     // RIFF, 28 bytes, "TEST"
                              "66697820 04000000 61626364"     // "fix ", 4 bytes
                              "6f646420 03000000 78797a 00")); // "odd ", 3 bytes and the pad
    // A size too large for the header is refused before anything is written.
    ASSERT_TRUE(f.Open(name, TRiffMode::Create));
    EXPECT_FALSE(f.CreateChunk(fixed, TRiffCreate::Chunk, 0x100000000LL));
    EXPECT_EQ(f.Position(), 0);
}
