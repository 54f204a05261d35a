#include "MyRiffIO.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

#include "TempFolders.h"
#include "WavFixtures.h"

namespace {

std::vector<uint8_t> Bytes(const char* s, size_t n) {
    return {s, s + n};
}

// RIFF 'TEST' { 'abcd' (3 bytes, padded), LIST 'lst ' { 'xy  ' (2 bytes) } }
std::vector<uint8_t> WriteSample(const std::string& name) {
    TRiffFile f;
    EXPECT_TRUE(f.Open(name, TRiffMode::Create));
    TRiffChunk riff, a, list, xy;
    riff.FormType = RiffId("TEST");
    EXPECT_TRUE(f.CreateChunk(riff, TRiffCreate::Riff));
    a.Id = RiffId("abcd");
    EXPECT_TRUE(f.CreateChunk(a));
    EXPECT_EQ(f.Write("ABC", 3), 3);
    EXPECT_TRUE(f.Ascend(a));
    list.FormType = RiffId("lst ");
    EXPECT_TRUE(f.CreateChunk(list, TRiffCreate::List));
    xy.Id = RiffId("xy  ");
    EXPECT_TRUE(f.CreateChunk(xy));
    EXPECT_EQ(f.Write("XY", 2), 2);
    EXPECT_TRUE(f.Ascend(xy));
    EXPECT_TRUE(f.Ascend(list));
    EXPECT_TRUE(f.Ascend(riff));
    EXPECT_TRUE(f.Close());
    return ReadBytesFile(name);
}

} // namespace

TEST(RiffWriter, ChunkOverFourGigabytesOrEndingBeforeItsDataIsRefused) {
    TTempDir tmp;
    TRiffFile f;
    ASSERT_TRUE(f.Open(tmp.Path + "/big.riff", TRiffMode::Create));
    TRiffChunk c;
    c.Id = RiffId("big ");
    ASSERT_TRUE(f.CreateChunk(c));
    // Positions past 4 GiB are plain 64-bit offsets (the file stays sparse).
    int64_t far = c.DataOffset + 0x100000000LL;
    ASSERT_EQ(f.Seek(far, TRiffOrigin::Begin), far);
    ASSERT_EQ(f.Write("z", 1), 1);
    EXPECT_EQ(f.FileSize(), far + 1);
    EXPECT_FALSE(f.Ascend(c));
    ASSERT_EQ(f.Seek(c.DataOffset - 1, TRiffOrigin::Begin), c.DataOffset - 1);
    EXPECT_FALSE(f.Ascend(c));
    char back = 0;
    ASSERT_EQ(f.Seek(far, TRiffOrigin::Begin), far);
    EXPECT_EQ(f.Read(&back, 1), 1);
    EXPECT_EQ(back, 'z');
}

// Written with sizes patched and odd chunks padded, then found again inside their parents.
TEST(RiffFile, WrittenChunksAreFoundInsideTheirParent) {
    TTempDir tmp;
    std::vector<uint8_t> bytes = WriteSample(tmp.Path + "/a.riff");
    const char expected[] = "RIFF\x26\0\0\0TEST"
                            "abcd\x03\0\0\0ABC\0"
                            "LIST\x0E\0\0\0lst "
                            "xy  \x02\0\0\0XY";
    EXPECT_EQ(bytes, Bytes(expected, sizeof(expected) - 1));
    TRiffFile f;
    ASSERT_TRUE(f.OpenMemory(bytes.data(), bytes.size()));
    TRiffChunk riff, list, xy, abcd;
    riff.FormType = RiffId("TEST");
    ASSERT_TRUE(f.Descend(riff, nullptr, TRiffFind::Riff));
    EXPECT_EQ(riff.Size, 0x26u);
    EXPECT_EQ(f.Position(), 12);
    list.FormType = RiffId("lst ");
    ASSERT_TRUE(f.Descend(list, &riff, TRiffFind::List)); // skips 'abcd' and its pad byte
    EXPECT_EQ(list.DataOffset, 32);
    xy.Id = RiffId("xy  ");
    ASSERT_TRUE(f.Descend(xy, &list, TRiffFind::Chunk));
    char data[2];
    ASSERT_EQ(f.Read(data, 2), 2);
    EXPECT_EQ(std::memcmp(data, "XY", 2), 0);
    // 'abcd' lies in RIFF but before the LIST: a search inside the LIST does not reach it.
    ASSERT_TRUE(f.Seek(list.DataOffset + 4, TRiffOrigin::Begin) >= 0);
    abcd.Id = RiffId("abcd");
    EXPECT_FALSE(f.Descend(abcd, &list, TRiffFind::Chunk));
    ASSERT_TRUE(f.Seek(12, TRiffOrigin::Begin) >= 0);
    ASSERT_TRUE(f.Descend(abcd, &riff, TRiffFind::Chunk));
    EXPECT_EQ(abcd.Size, 3u);
    ASSERT_TRUE(f.Ascend(abcd));
    EXPECT_EQ(f.Position(), 24); // past the pad byte
}

TEST(RiffReader, SizesBeyondTheBytesPresentAreBoundedAndCutHeadersFail) {
    // RIFF claims 1000 bytes; its one chunk claims 0xFFFFFFFF with 4 bytes present.
    const char raw[] = "RIFF\xE8\x03\0\0WAVE"
                       "data\xFF\xFF\xFF\xFF"
                       "1234";
    std::vector<uint8_t> bytes = Bytes(raw, sizeof(raw) - 1);
    TRiffFile f;
    ASSERT_TRUE(f.OpenMemory(bytes.data(), bytes.size()));
    TRiffChunk riff, data, other;
    ASSERT_TRUE(f.Descend(riff));
    EXPECT_TRUE(riff.Truncated);
    EXPECT_EQ(riff.DeclaredSize, 1000u);
    EXPECT_EQ(riff.Size, 16u);
    data.Id = RiffId("data");
    ASSERT_TRUE(f.Descend(data, &riff, TRiffFind::Chunk));
    EXPECT_TRUE(data.Truncated);
    EXPECT_EQ(data.Size, 4u);
    // Nothing is searched for past a chunk that overruns.
    ASSERT_TRUE(f.Seek(12, TRiffOrigin::Begin) >= 0);
    other.Id = RiffId("LIST");
    EXPECT_FALSE(f.Descend(other, &riff, TRiffFind::Chunk));

    // A chunk header cut short.
    bytes = Bytes("RIFF\x04\0\0\0WAVEdat", 15);
    ASSERT_TRUE(f.OpenMemory(bytes.data(), bytes.size()));
    ASSERT_TRUE(f.Descend(riff));
    EXPECT_FALSE(f.Descend(data, &riff, TRiffFind::Chunk));

    TRiffFile empty;
    ASSERT_TRUE(empty.OpenMemory(nullptr, 0));
    EXPECT_FALSE(empty.Descend(riff));
    EXPECT_EQ(empty.Seek(-1, TRiffOrigin::Begin), -1);
    char c;
    EXPECT_EQ(empty.Read(&c, 1), 0);
    EXPECT_EQ(empty.Write("x", 1), -1);
}

TEST(RiffFile, ReadingAndWritingInterleave) {
    TTempDir tmp;
    TRiffFile f;
    ASSERT_TRUE(f.Open(tmp.Path + "/rw", TRiffMode::Create));
    ASSERT_EQ(f.Write("abcdef", 6), 6);
    ASSERT_EQ(f.Seek(2, TRiffOrigin::Begin), 2);
    char two[2];
    ASSERT_EQ(f.Read(two, 2), 2);
    EXPECT_EQ(std::memcmp(two, "cd", 2), 0);
    ASSERT_EQ(f.Write("XY", 2), 2); // straight after a read
    ASSERT_EQ(f.Seek(-1, TRiffOrigin::End), 5);
    ASSERT_EQ(f.Read(two, 2), 1);
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(ReadBytesFile(tmp.Path + "/rw"), Bytes("abcdXY", 6));
    EXPECT_FALSE(f.Open(tmp.Path + "/missing", TRiffMode::Read));
}

// Only regular files are read: a FIFO (which would block the open until a writer comes), a
// folder and a device are refused at once; the size cap holds before anything is allocated.
TEST(RegularFiles, OnlyRegularFilesOfBoundedSizeAreRead) {
    TTempDir dir;
    const std::string fifo = dir.Path + "/pipe.avi";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string file = dir.File("small.bin", "12345");
    std::vector<uint8_t> out{1};
    for (const std::string& name : {fifo, dir.Path, std::string("/dev/zero"), dir.Path + "/none"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(OpenRegularFile(name), nullptr);
        EXPECT_EQ(ReadRegularFile(name, 100, out), TReadFileResult::NotAFile);
        EXPECT_TRUE(out.empty());
        TRiffFile riff;
        EXPECT_FALSE(riff.Open(name, TRiffMode::Read));
    }
    EXPECT_EQ(ReadRegularFile(file, 4, out), TReadFileResult::TooLarge);
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(ReadRegularFile(file, 5, out), TReadFileResult::Ok);
    EXPECT_EQ(out, Bytes("12345", 5));
    int64_t size = 0;
    std::FILE* f = OpenRegularFile(file, &size);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(size, 5);
    std::fclose(f);
}
