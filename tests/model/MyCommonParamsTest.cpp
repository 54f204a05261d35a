#include "MyCommonParams.h"

#include <QRegularExpression>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "TempFolders.h"

namespace fs = std::filesystem;

// ---- Time and duration texts ------------------------------------------------------------------

TEST(FormatTimeText, Fields) {
    EXPECT_EQ(FormatTimeText(0), "0h:00m:00s:00ms");
    EXPECT_EQ(FormatTimeText(3723.456L), "1h:02m:03s:45ms");
    EXPECT_EQ(FormatTimeText(23 * 3600 + 59 * 60 + 59.994L), "23h:59m:59s:99ms");
    EXPECT_EQ(FormatTimeText(0.0104L), "0h:00m:00s:01ms");
}

TEST(FormatTimeText, DaysAreDroppedAndHoursWrap) {
    EXPECT_EQ(FormatTimeText(90061.5L), "1h:01m:01s:50ms");
    EXPECT_EQ(FormatTimeText(86400), "0h:00m:00s:00ms");
    EXPECT_EQ(FormatTimeText(25 * 3600), "1h:00m:00s:00ms");
    EXPECT_EQ(FormatTimeText(3 * 86400 + 10 * 3600 + 5), "10h:00m:05s:00ms");
}

TEST(FormatTimeText, MillisecondsRoundBeforeTheFieldsSplit) {
    EXPECT_EQ(FormatTimeText(0.9999L), "0h:00m:01s:00ms");
    EXPECT_EQ(FormatTimeText(59.9996L), "0h:01m:00s:00ms");
    EXPECT_EQ(FormatTimeText(3599.9999L), "1h:00m:00s:00ms");
    // Just short of midnight rounds to midnight, which is the start of the next day.
    EXPECT_EQ(FormatTimeText(86399.9999L), "0h:00m:00s:00ms");
    EXPECT_EQ(FormatTimeText(1.0004L), "0h:00m:01s:00ms");
}

TEST(FormatDurationInWords, UnderAnHour) {
    EXPECT_EQ(FormatDurationInWords(0), "less than 1 minute");
    EXPECT_EQ(FormatDurationInWords(59.0L / 86400), "less than 1 minute");
    EXPECT_EQ(FormatDurationInWords(60.0L / 86400), "less than 2 minutes");
    EXPECT_EQ(FormatDurationInWords(150.0L / 86400), "less than 3 minutes");
    EXPECT_EQ(FormatDurationInWords(3599.0L / 86400), "less than 60 minutes");
}

TEST(FormatDurationInWords, HoursAndMinutes) {
    EXPECT_EQ(FormatDurationInWords((2 * 3600 + 5 * 60) / 86400.0L), "2 hour 5 minutes");
    EXPECT_EQ(FormatDurationInWords(3600 / 86400.0L), "1 hour 0 minutes");
    // A span past a day keeps its hours rather than wrapping to the time of day.
    EXPECT_EQ(FormatDurationInWords((25 * 3600 + 30 * 60) / 86400.0L), "25 hour 30 minutes");
}

TEST(MakeTimeStampText, IsTheLocalDateTimeInMillionthsOfADay) {
    const std::string text = MakeTimeStampText();
    ASSERT_FALSE(text.empty());
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }));

    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    const long double days = 25569.0L + static_cast<long double>(t + local.tm_gmtoff) / 86400;
    const long double stamp = std::stold(text);
    // One unit is 86.4 ms; the two clocks were read within a few units of each other.
    EXPECT_NEAR(static_cast<double>(stamp), static_cast<double>(days * 1000000), 30.0);
    EXPECT_LE(std::stoll(text), std::stoll(MakeTimeStampText()));
}

// ---- Padding and short texts ------------------------------------------------------------------

TEST(FitText, CutsAndPads) {
    EXPECT_EQ(FitText("abcdef", 3, false), "abc");
    EXPECT_EQ(FitText("abcdef", 3, true), "abc");
    EXPECT_EQ(FitText("ab", 4, false), "ab  ");
    EXPECT_EQ(FitText("ab", 4, true), "  ab");
    EXPECT_EQ(FitText("", 2, true), "  ");
    EXPECT_EQ(FitText("abc", 0, false), "");
    EXPECT_EQ(FitText("abc", -3, false), "");
}

TEST(FitText, CountsCharactersNotBytes) {
    EXPECT_EQ(FitText("\xC3\xA4\xC3\xB6\xC3\xBC", 2, false), "\xC3\xA4\xC3\xB6");
    EXPECT_EQ(FitText("\xE2\x82\xAC", 3, true), "  \xE2\x82\xAC");
}

TEST(IntToZeroPadded, PadsToDigits) {
    EXPECT_EQ(IntToZeroPadded(7, 3), "007");
    EXPECT_EQ(IntToZeroPadded(0, 5), "00000");
    EXPECT_EQ(IntToZeroPadded(1234, 3), "1234");
    EXPECT_EQ(IntToZeroPadded(42, 0), "42");
    EXPECT_EQ(IntToZeroPadded(9876543210LL, 12), "009876543210");
    EXPECT_EQ(IntToZeroPadded(-5, 3), "-05");
}

TEST(CutShortString, KeepsAtMost255BytesOfWholeCharacters) {
    EXPECT_EQ(CutShortString(std::string(255, 'a')), std::string(255, 'a'));
    EXPECT_EQ(CutShortString(std::string(300, 'a')), std::string(255, 'a'));
    // A two-byte character across the limit goes whole.
    const std::string twoByte = std::string(254, 'a') + "\xC3\xA9";
    EXPECT_EQ(CutShortString(twoByte), std::string(254, 'a'));
    // A three-byte character ending exactly at the limit stays.
    const std::string fits = std::string(252, 'a') + "\xE2\x82\xAC" + "b";
    EXPECT_EQ(CutShortString(fits), std::string(252, 'a') + "\xE2\x82\xAC");
    const std::string threeByte = std::string(253, 'a') + "\xE2\x82\xAC";
    EXPECT_EQ(CutShortString(threeByte), std::string(253, 'a'));
}

// ---- Typed numbers ----------------------------------------------------------------------------

TEST(CleanDecimalText, Table) {
    struct Case {
        const char* In;
        int Decimals;
        bool Trailing;
        const char* Out;
    } cases[] = {
        {" 2a9.97 ", 2, false, "29.97"},
        {"1.2.3", 3, false, "1.23"},
        {".5", 2, false, "0.5"},
        {"  .5", 2, false, "0.5"}, // the point is first once the text is trimmed
        {"a.5", 2, false, ".5"},   // not first: nothing is put in front
        {"25.", 2, false, "25.0"},
        {"25.", 2, true, "25."},
        {"", 2, false, "0"},
        {"", 2, true, ""},
        {"abc", 2, false, "0"},
        {"29.976", 2, false, "29.97"},
        {"1..5", 2, false, "1.5"},  // the second point uses up a place
        {"1...5", 2, false, "1.0"}, // two dropped points use up both
        {"7.5", 0, false, "7.0"},
        {"7.5", 0, true, "7."},
        {"12x34", 2, false, "1234"},
        {"-3.5", 2, false, "3.5"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CleanDecimalText(c.In, c.Decimals, c.Trailing), c.Out)
            << "'" << c.In << "' " << c.Decimals << " " << c.Trailing;
}

TEST(DigitsToInt, KeepsOnlyDigits) {
    EXPECT_EQ(DigitsToInt(""), 0);
    EXPECT_EQ(DigitsToInt("abc"), 0);
    EXPECT_EQ(DigitsToInt("a1b2c3"), 123);
    EXPECT_EQ(DigitsToInt("-42"), 42);
    EXPECT_EQ(DigitsToInt("0000000000000000000012"), 12);
    EXPECT_EQ(DigitsToInt("2147483647"), 2147483647);
}

TEST(DigitsToInt, TooManyDigitsRaise) {
    EXPECT_THROW(DigitsToInt("2147483648"), EConvertError);
    EXPECT_THROW(DigitsToInt("9,999,999,999"), EConvertError);
    EXPECT_THROW(DigitsToInt(std::string(40, '9')), EConvertError);
}

class CleanFloatTextTest : public ::testing::Test {
protected:
    void TearDown() override { SetDecimalSeparator('.'); }
};

TEST_F(CleanFloatTextTest, PointSeparator) {
    ASSERT_EQ(GetDecimalSeparator(), '.');
    EXPECT_EQ(CleanFloatText("1,5"), "1.5");
    EXPECT_EQ(CleanFloatText("1.05"), "1.5");
    EXPECT_EQ(CleanFloatText("abc"), "0");
    EXPECT_EQ(CleanFloatText("25"), "25");
    EXPECT_EQ(CleanFloatText(".5"), "0.5");
    EXPECT_EQ(CleanFloatText("1.2.3"), "1.23");
    EXPECT_EQ(CleanFloatText("1.5,7"), "1.57"); // the separator wins over the comma
}

TEST_F(CleanFloatTextTest, RewritingAsTheUserTypes) {
    // What the frame-rate edit shows after each keystroke.
    EXPECT_EQ(CleanFloatText("29."), "29.0");
    EXPECT_EQ(CleanFloatText("29.09"), "29.9");
    EXPECT_EQ(CleanFloatText("29.97"), "29.97");
    EXPECT_EQ(CleanFloatText("29.0"), "29.0");
}

TEST_F(CleanFloatTextTest, CommaSeparator) {
    SetDecimalSeparator(',');
    EXPECT_EQ(CleanFloatText("1.5"), "1,5");
    EXPECT_EQ(CleanFloatText("1,05"), "1,5");
    EXPECT_EQ(CleanFloatText("7"), "7");
}

// ---- Codes and identifiers --------------------------------------------------------------------

TEST(FourCC, BytesInMemoryOrder) {
    const uint32_t code = MakeFourCC('d', 'i', 'v', 'x');
    EXPECT_EQ(code, 0x78766964u);
    char bytes[4];
    std::memcpy(bytes, &code, 4);
    EXPECT_EQ(std::string(bytes, 4), "divx");
    EXPECT_EQ(FourCCToText(code), "divx");
    EXPECT_EQ(FourCCToText(MakeFourCC('d', 0, 'v', 'x')), "d");
    EXPECT_EQ(FourCCToText(0), "");
    EXPECT_EQ(MakeFourCC(0x80, 0xFF, 0x00, 0xFE), 0xFE00FF80u);
}

TEST(NewGuidText, RegistryFormUpperCaseAndUnique) {
    const QRegularExpression form(QRegularExpression::anchoredPattern(
        R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})"));
    std::set<std::string> seen;
    for (int i = 0; i < 500; ++i) {
        const std::string g = NewGuidText();
        ASSERT_TRUE(form.match(QString::fromStdString(g)).hasMatch()) << g;
        seen.insert(g);
    }
    EXPECT_EQ(seen.size(), 500u);
}

TEST(ColorToBGR, PixelByteOrder) {
    uint8_t bgr[3];
    ColorToBGR(0x00112233, bgr); // blue 0x11, green 0x22, red 0x33
    EXPECT_EQ(bgr[0], 0x11);
    EXPECT_EQ(bgr[1], 0x22);
    EXPECT_EQ(bgr[2], 0x33);
    ColorToBGR(0xFF0000FF, bgr); // the unused top byte is ignored
    EXPECT_EQ(bgr[0], 0x00);
    EXPECT_EQ(bgr[2], 0xFF);
}

// ---- Bitmaps ----------------------------------------------------------------------------------

TEST(DIBRowBytes, RowsPadToFourBytes) {
    EXPECT_EQ(DIBRowBytes(1, 24, 32), 4);
    EXPECT_EQ(DIBRowBytes(3, 24, 32), 12);
    EXPECT_EQ(DIBRowBytes(5, 8, 32), 8);
    EXPECT_EQ(DIBRowBytes(32, 1, 32), 4);
    EXPECT_EQ(DIBRowBytes(33, 1, 32), 8);
    EXPECT_EQ(DIBRowBytes(0, 24, 32), 0);
    EXPECT_THROW(DIBRowBytes(100000000, 24, 32), EIntOverflow);
}

// ---- Audio format -----------------------------------------------------------------------------

TEST(MakePcmFormat, FillsTheBlock) {
    TAudioFormat f;
    std::memset(&f, 0xAB, sizeof(f));
    MakePcmFormat(f, 44100, 2, 16);
    EXPECT_EQ(f.Wfx.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.Wfx.nChannels, 2);
    EXPECT_EQ(f.Wfx.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.Wfx.wBitsPerSample, 16);
    EXPECT_EQ(f.Wfx.nBlockAlign, 4);
    EXPECT_EQ(f.Wfx.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(f.Wfx.cbSize, 18);
    EXPECT_TRUE(std::all_of(f.Extra, f.Extra + sizeof(f.Extra), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(GetBlockAlign(f), 4);
    EXPECT_THROW(MakePcmFormat(f, 0xFFFFFFFFu, 2, 16), EIntOverflow);
}

TEST(ParseAudioFormatText, ReadsRateBitsAndChannels) {
    TAudioFormat f;
    ParseAudioFormatText("22050, 8  bits Mono", f);
    EXPECT_EQ(f.Wfx.nSamplesPerSec, 22050u);
    EXPECT_EQ(f.Wfx.wBitsPerSample, 8);
    EXPECT_EQ(f.Wfx.nChannels, 1);
    EXPECT_EQ(f.Wfx.nBlockAlign, 1);
    EXPECT_EQ(f.Wfx.nAvgBytesPerSec, 22050u);

    ParseAudioFormatText("", f); // nothing recognised: 44100 Hz, 8 bits, mono
    EXPECT_EQ(f.Wfx.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.Wfx.wBitsPerSample, 8);
    EXPECT_EQ(f.Wfx.nChannels, 1);

    ParseAudioFormatText("44100 or 48000, 16 bits Stereo", f); // 48000 is looked for first
    EXPECT_EQ(f.Wfx.nSamplesPerSec, 48000u);
    EXPECT_EQ(f.Wfx.nBlockAlign, 4);
    EXPECT_EQ(f.Wfx.nAvgBytesPerSec, 192000u);
}

TEST(FormatAudioFormatText, Words) {
    TAudioFormat f;
    MakePcmFormat(f, 22050, 2, 16);
    EXPECT_EQ(FormatAudioFormatText(f), "22050, 16 bits Stereo");
    MakePcmFormat(f, 11025, 1, 8);
    EXPECT_EQ(FormatAudioFormatText(f), "11025, 8  bits Mono");
    MakePcmFormat(f, 48000, 1, 0);
    EXPECT_EQ(FormatAudioFormatText(f), "48000, 16 bits Mono");
    MakePcmFormat(f, 44100, 6, 24); // other widths and channel counts add no word
    EXPECT_EQ(FormatAudioFormatText(f), "44100, ");
    MakePcmFormat(f, 32000, 2, 16);
    EXPECT_EQ(FormatAudioFormatText(f), "32000, 16 bits Stereo");
}

TEST(AudioFormatText, RoundTrips) {
    for (uint32_t rate : {11025u, 22050u, 44100u, 48000u})
        for (uint16_t bits : {8, 16})
            for (uint16_t channels : {1, 2}) {
                TAudioFormat made, parsed;
                MakePcmFormat(made, rate, channels, bits);
                const std::string text = FormatAudioFormatText(made);
                ParseAudioFormatText(text, parsed);
                EXPECT_EQ(std::memcmp(&made, &parsed, sizeof(made)), 0) << text;
                EXPECT_EQ(FormatAudioFormatText(parsed), text);
            }
}

// ---- Files and folders ------------------------------------------------------------------------

TEST(NormalizeFolderPath, SlashesAndTrailingSeparator) {
    std::string r = "left over";
    NormalizeFolderPath(" C:/data//clips ", r);
    EXPECT_EQ(r, "C:/data/clips/");
    NormalizeFolderPath("D:", r);
    EXPECT_EQ(r, "D:/");
    NormalizeFolderPath("/home/x", r);
    EXPECT_EQ(r, "/home/x/");
    NormalizeFolderPath("/home/x/", r);
    EXPECT_EQ(r, "/home/x/");
    NormalizeFolderPath("a\\b\\\\c\\/d", r);
    EXPECT_EQ(r, "a/b/c/d/");
    NormalizeFolderPath("//server/share", r);
    EXPECT_EQ(r, "/server/share/");
    NormalizeFolderPath("/", r);
    EXPECT_EQ(r, "/");
    NormalizeFolderPath("", r);
    EXPECT_EQ(r, "");
    NormalizeFolderPath(" \t ", r);
    EXPECT_EQ(r, "");
}

TEST(FileExists, FilesAndFolders) {
    TTempDir dir;
    const std::string file = dir.File("a.avi");
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir.Path));
    EXPECT_FALSE(FileExists(dir.Path + "/missing.avi"));
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(DirectoryExists(dir.Path));
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_FALSE(DirectoryExists(dir.Path + "/missing"));
}

TEST(RecycleFile, MovesTheFileToTheTrash) {
    TTempDir dir;
    TScratchHome home(dir.Path);
    const std::string file = dir.File("capture 1.avi");
    ASSERT_TRUE(RecycleFile(file));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::exists(dir.Path + "/.local/share/Trash/files/capture 1.avi"));
    EXPECT_TRUE(fs::exists(dir.Path + "/.local/share/Trash/info/capture 1.avi.trashinfo"));
}

TEST(RecycleFile, LongNamesAreNotCut) {
    TTempDir dir;
    TScratchHome home(dir.Path);
    // Deeper than 256 characters in all.
    std::string folder = dir.Path;
    for (int i = 0; i < 6; ++i)
        folder += "/" + std::string(50, char('a' + i));
    fs::create_directories(folder);
    const std::string file = folder + "/" + std::string(60, 'f') + ".avi";
    { std::ofstream(file) << "data"; }
    ASSERT_GT(file.size(), 256u);
    EXPECT_TRUE(RecycleFile(file));
    EXPECT_FALSE(fs::exists(file));
}

TEST(RecycleFile, MissingFileOrFolderIsRefused) {
    TTempDir dir;
    TScratchHome home(dir.Path);
    EXPECT_FALSE(RecycleFile(dir.Path + "/missing.avi"));
    EXPECT_FALSE(RecycleFile(dir.Path));
    EXPECT_TRUE(fs::exists(dir.Path));
}

TEST(IsFileInUse, MissingFileIsNotInUse) {
    TTempDir dir;
    EXPECT_FALSE(IsFileInUse(dir.Path + "/missing.avi"));
    EXPECT_FALSE(IsFileInUse(dir.Path));
    EXPECT_FALSE(IsFileInUse(dir.File("free.avi")));
}

namespace {
// Records where the folder dialog was asked to start.
class TFolderUi : public TFakeUiServices {
public:
    std::vector<std::string> Starts;
    std::optional<std::string> BrowseForFolder(const std::string& title,
                                               const std::string& initialFolder) override {
        Starts.push_back(initialFolder);
        return TFakeUiServices::BrowseForFolder(title, initialFolder);
    }
};
} // namespace

TEST(BrowseForFolder, ChosenFolderGetsASeparator) {
    TFolderUi ui;
    ui.FolderAnswers = {std::string("/data/clips"), std::string("/data/out/"), std::nullopt};
    std::string folder = "/data";
    EXPECT_TRUE(BrowseForFolder(ui, folder));
    EXPECT_EQ(folder, "/data/clips/");
    EXPECT_TRUE(BrowseForFolder(ui, folder));
    EXPECT_EQ(folder, "/data/out/");
    EXPECT_FALSE(BrowseForFolder(ui, folder)); // cancelled: the folder stays
    EXPECT_EQ(folder, "/data/out/");
    EXPECT_EQ(ui.Starts, (std::vector<std::string>{"/data", "/data/clips/", "/data/out/"}));
}

TEST(BrowseForFolder, EmptyFolderStartsAtTheCurrentFolder) {
    TFolderUi ui;
    ui.FolderAnswers = {std::nullopt};
    std::string folder;
    EXPECT_FALSE(BrowseForFolder(ui, folder));
    EXPECT_EQ(folder, "");
    ASSERT_EQ(ui.Starts.size(), 1u);
    EXPECT_EQ(ui.Starts[0], fs::current_path().string());
}
