#include "MyCommonParams.h"

#include <QRegularExpression>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "TempFolders.h"
#include "TestData.h"

namespace fs = std::filesystem;

TEST(FormatTimeText, FieldsAndRounding) {
    // Days are dropped and hours wrap; milliseconds round before the fields split, so just
    // short of midnight is the start of the next day.
    const std::pair<Extended, const char*> cases[] = {
        {0, "0h:00m:00s:00ms"},           {3723.456L, "1h:02m:03s:45ms"},
        {86399.994L, "23h:59m:59s:99ms"}, {0.0104L, "0h:00m:00s:01ms"},
        {90061.5L, "1h:01m:01s:50ms"},    {86400, "0h:00m:00s:00ms"},
        {295205, "10h:00m:05s:00ms"},     {0.9999L, "0h:00m:01s:00ms"},
        {59.9996L, "0h:01m:00s:00ms"},    {3599.9999L, "1h:00m:00s:00ms"},
        {86399.9999L, "0h:00m:00s:00ms"}, {1.0004L, "0h:00m:01s:00ms"}};
    for (const auto& [t, text] : cases)
        EXPECT_EQ(FormatTimeText(t), text) << double(t);
    // A span past a day keeps its hours rather than wrapping to the time of day.
    const std::pair<Extended, const char*> words[] = {{59, "less than 1 minute"},
                                                      {60, "less than 2 minutes"},
                                                      {3599, "less than 60 minutes"},
                                                      {3600, "1 hour 0 minutes"},
                                                      {91800, "25 hour 30 minutes"}};
    for (const auto& [seconds, text] : words)
        EXPECT_EQ(FormatDurationInWords(seconds / 86400), text);
}

TEST(FitText, CutsAndPadsCharactersNotBytes) {
    const struct {
        const char* In;
        int Width;
        bool Right;
        const char* Out;
    } cases[] = {{"abcdef", 3, true, "abc"},
                 {"ab", 4, false, "ab  "},
                 {"ab", 4, true, "  ab"},
                 {"abc", -3, false, ""},
                 {"\xC3\xA4\xC3\xB6\xC3\xBC", 2, false, "\xC3\xA4\xC3\xB6"},
                 {"\xE2\x82\xAC", 3, true, "  \xE2\x82\xAC"}};
    for (const auto& c : cases)
        EXPECT_EQ(FitText(c.In, c.Width, c.Right), c.Out) << c.In;
    EXPECT_EQ(IntToZeroPadded(7, 3), "007");
    EXPECT_EQ(IntToZeroPadded(1234, 3), "1234");
    EXPECT_EQ(IntToZeroPadded(-5, 3), "-05");
}

TEST(CutShortString, KeepsAtMost255BytesOfWholeCharacters) {
    // A two-byte character across the limit goes whole; a three-byte one ending at it stays.
    const std::string a252(252, 'a'), euro = "\xE2\x82\xAC";
    const std::pair<std::string, std::string> cases[] = {
        {std::string(255, 'a'), std::string(255, 'a')},
        {std::string(300, 'a'), std::string(255, 'a')},
        {a252 + "aa\xC3\xA9", a252 + "aa"},
        {a252 + euro + "b", a252 + euro},
        {a252 + "a" + euro, a252 + "a"}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(CutShortString(in), out);
}

TEST(CleanDecimalText, Table) {
    struct Case {
        const char* In;
        int Decimals;
        bool Trailing;
        const char* Out;
    } cases[] = {{" 2a9.97 ", 2, false, "29.97"},
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
                 {"-3.5", 2, false, "3.5"}};
    for (const Case& c : cases)
        EXPECT_EQ(CleanDecimalText(c.In, c.Decimals, c.Trailing), c.Out)
            << "'" << c.In << "' " << c.Decimals << " " << c.Trailing;
}

TEST(DigitsToInt, KeepsOnlyDigitsAndRefusesOverflow) {
    EXPECT_EQ(DigitsToInt("abc"), 0);
    EXPECT_EQ(DigitsToInt("-a1b2c3"), 123);
    EXPECT_EQ(DigitsToInt("0000000000000000000012"), 12);
    EXPECT_EQ(DigitsToInt("2147483647"), 2147483647);
    EXPECT_THROW(DigitsToInt("2147483648"), EConvertError);
    EXPECT_THROW(DigitsToInt("9,999,999,999"), EConvertError);
}

TEST(CleanFloatText, BothSeparatorsAndTheRateEditsRewriting) {
    ASSERT_EQ(GetDecimalSeparator(), '.');
    const std::pair<const char*, const char*> point[] = {
        {"1,5", "1.5"},    {"1.05", "1.5"},   {"abc", "0"},       {".5", "0.5"},
        {"1.2.3", "1.23"}, {"1.5,7", "1.57"}, // the separator wins over the comma
        {"29.", "29.0"},   {"29.09", "29.9"}, {"29.97", "29.97"}, {"29.0", "29.0"}};
    for (const auto& [in, out] : point)
        EXPECT_EQ(CleanFloatText(in), out) << in;
    SetDecimalSeparator(',');
    EXPECT_EQ(CleanFloatText("1.5"), "1,5");
    EXPECT_EQ(CleanFloatText("1,05"), "1,5");
    SetDecimalSeparator('.');
}

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
    for (int i = 0; i < 100; ++i) {
        const std::string g = NewGuidText();
        ASSERT_TRUE(form.match(QString::fromStdString(g)).hasMatch()) << g;
        seen.insert(g);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(ColorToBGR, PixelByteOrder) {
    uint8_t bgr[3];
    ColorToBGR(0xFF112233, bgr); // blue 0x11, green 0x22, red 0x33; the top byte is ignored
    EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 3), (std::vector<uint8_t>{0x11, 0x22, 0x33}));
}

TEST(DIBRowBytes, RowsPadToFourBytes) {
    const int cases[][4] = {{1, 24, 4}, {3, 24, 12}, {5, 8, 8}, {32, 1, 4}, {33, 1, 8}, {0, 24, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(DIBRowBytes(c[0], c[1], 32), c[2]) << c[0] << "x" << c[1];
    EXPECT_THROW(DIBRowBytes(100000000, 24, 32), EIntOverflow);
}

TEST(MakePcmFormat, FillsTheBlock) {
    TAudioFormat f;
    std::memset(&f, 0xAB, sizeof(f));
    MakePcmFormat(f, 44100, 2, 16);
    const auto* raw = reinterpret_cast<const uint8_t*>(&f);
    EXPECT_EQ(std::vector<uint8_t>(raw, raw + 18),
              HexBytes("0100 0200 44ac0000 10b10200 0400 1000 1200"));
    EXPECT_TRUE(std::all_of(f.Extra, f.Extra + sizeof(f.Extra), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(GetBlockAlign(f), 4);
    EXPECT_THROW(MakePcmFormat(f, 0xFFFFFFFFu, 2, 16), EIntOverflow);
}

TEST(ParseAudioFormatText, DefaultsAndPreferredRate) {
    TAudioFormat f;
    ParseAudioFormatText("", f); // nothing recognised: 44100 Hz, 8 bits, mono
    EXPECT_EQ(f.Wfx.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.Wfx.wBitsPerSample, 8);
    EXPECT_EQ(f.Wfx.nChannels, 1);
    ParseAudioFormatText("44100 or 48000, 16 bits Stereo", f); // 48000 is looked for first
    EXPECT_EQ(f.Wfx.nSamplesPerSec, 48000u);
    EXPECT_EQ(f.Wfx.nAvgBytesPerSec, 192000u);
}

TEST(FormatAudioFormatText, Words) {
    // Other widths and channel counts add no word; no width means 16 bits.
    const struct {
        uint32_t Rate;
        uint16_t Channels, Bits;
        const char* Text;
    } cases[] = {{22050, 2, 16, "22050, 16 bits Stereo"},
                 {11025, 1, 8, "11025, 8  bits Mono"},
                 {48000, 1, 0, "48000, 16 bits Mono"},
                 {44100, 6, 24, "44100, "},
                 {32000, 2, 16, "32000, 16 bits Stereo"}};
    for (const auto& c : cases) {
        TAudioFormat f;
        MakePcmFormat(f, c.Rate, c.Channels, c.Bits);
        EXPECT_EQ(FormatAudioFormatText(f), c.Text);
    }
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

TEST(NormalizeFolderPath, SlashesAndTrailingSeparator) {
    const std::pair<const char*, const char*> rows[] = {{" C:/data//clips ", "C:/data/clips/"},
                                                        {"D:", "D:/"},
                                                        {"/home/x/", "/home/x/"},
                                                        {"a\\b\\\\c\\/d", "a/b/c/d/"},
                                                        {"//server/share", "/server/share/"},
                                                        {"/", "/"},
                                                        {" \t ", ""}};
    for (const auto& [in, out] : rows) {
        std::string r = "left over";
        NormalizeFolderPath(in, r);
        EXPECT_EQ(r, out) << in;
    }
}

TEST(RecycleFile, MovesToTheTrashWithoutCuttingLongNames) {
    TTempDir dir;
    TScratchHome home(dir.Path);
    const std::string file = dir.File("capture 1.avi");
    ASSERT_TRUE(RecycleFile(file));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::exists(dir.Path + "/.local/share/Trash/files/capture 1.avi"));
    EXPECT_TRUE(fs::exists(dir.Path + "/.local/share/Trash/info/capture 1.avi.trashinfo"));
    // Deeper than 256 characters in all.
    std::string folder = dir.Path;
    for (int i = 0; i < 6; ++i)
        folder += "/" + std::string(50, char('a' + i));
    fs::create_directories(folder);
    const std::string deep = folder + "/" + std::string(60, 'f') + ".avi";
    { std::ofstream(deep) << "data"; }
    EXPECT_TRUE(RecycleFile(deep));
    EXPECT_FALSE(fs::exists(deep));
    // Missing files and folders are refused.
    EXPECT_FALSE(RecycleFile(dir.Path + "/missing.avi"));
    EXPECT_FALSE(RecycleFile(dir.Path));
    EXPECT_TRUE(fs::exists(dir.Path));
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
    // An empty folder starts the dialog at the current folder.
    folder.clear();
    ui.FolderAnswers = {std::nullopt};
    EXPECT_FALSE(BrowseForFolder(ui, folder));
    EXPECT_EQ(ui.Starts.back(), fs::current_path().string());
}
