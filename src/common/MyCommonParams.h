// Small stateless helpers every part of the program uses: time and number texts, FOURCC and
// GUID texts, file and shell helpers, bitmap header and audio format helpers, and the two small
// stored classes of clip ranges and fonts.
#pragma once

#include <cstdint>
#include <string>

#include "MyBase.h"
#include "MyRiffFormat.h"

class TValueWriter;
class TValueReader;
class IUiServices;

// ---- Binary records shared with files and codecs --------------------------------------------

#pragma pack(push, 1)
// The wave format header as stored in RIFF files (18 bytes).
struct TWaveFormatEx {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};

// Audio format block: the wave format header and room for a codec's extra bytes.
struct TAudioFormat {
    TWaveFormatEx Wfx;
    uint8_t Extra[110];
};

// Device-independent bitmap header (40 bytes).
struct TBitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == WAVE_FORMAT_EX_SIZE);
static_assert(sizeof(TAudioFormat) == 128);
static_assert(sizeof(TBitmapInfoHeader) == 40);

// ---- Time and number texts --------------------------------------------------------------------

// "1h:02m:03s:45ms"; hours count modulo 24.
std::string FormatTimeText(Extended seconds);
// "2 hour 5 minutes" or "less than 3 minutes"; span in days.
std::string FormatDurationInWords(Extended spanDays);
// The text without whitespace and control characters at either end.
std::string TrimText(const std::string& s);
std::string FitText(const std::string& s, int width, bool padLeft);
std::string IntToZeroPadded(int64_t value, int digits);
std::string MakeTimeStampText();
std::string CleanDecimalText(const std::string& s, int maxDecimals, bool allowTrailingPoint);
// Keeps only the digits; 0 when none. EConvertError when they do not fit 32 bits.
int32_t DigitsToInt(const std::string& s);
std::string CleanFloatText(const std::string& s);

// The decimal separator the number texts use ('.' unless changed; the main window forces '.').
char GetDecimalSeparator();
void SetDecimalSeparator(char c);

// ---- Codes and identifiers --------------------------------------------------------------------

uint32_t MakeFourCC(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);
std::string FourCCToText(uint32_t code);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case; empty on failure.
std::string NewGuidText();
void ColorToBGR(uint32_t color, uint8_t bgr[3]);

// ---- Files and shell --------------------------------------------------------------------------

// Moves a file to the user's trash; false when it is missing or cannot be trashed.
bool RecycleFile(const std::string& fileName);
// True when another program holds the file (a lock on it) or it cannot be opened for writing.
bool IsFileInUse(const std::string& fileName);
// Trimmed, "\" read as "/", repeated separators dropped, "/" at the end; empty stays empty.
void NormalizeFolderPath(const std::string& path, std::string& result);
// True for anything but a folder.
bool FileExists(const std::string& fileName);
bool DirectoryExists(const std::string& folder);
// Lets the user pick a folder, starting at Folder (the current folder when empty); on OK Folder
// becomes the chosen folder with a trailing "/" and the result is true.
bool BrowseForFolder(IUiServices& ui, std::string& folder);

// ---- Bitmaps ----------------------------------------------------------------------------------

int32_t DIBRowBytes(int32_t width, int32_t bitsPerPixel, int32_t alignBits);

// ---- Audio format -----------------------------------------------------------------------------

// The highest sample rate taken from any file; above it a format is as impossible as one with
// no channels, and its per-frame sizes would run to gigabytes.
constexpr uint32_t MaxPcmSampleRate = 768000;

void MakePcmFormat(TAudioFormat& format, uint32_t rate, uint16_t channels, uint16_t bits);
int32_t GetBlockAlign(const TAudioFormat& format);
void ParseAudioFormatText(const std::string& text, TAudioFormat& format);
std::string FormatAudioFormatText(const TAudioFormat& format);

// ---- Stored classes ---------------------------------------------------------------------------

// In and out points of a clip inside its source.
class TPartialInfo {
public:
    bool FromStart = true;
    Extended InTime = 0;
    bool ToEnd = true;
    Extended OutTime = 0;

    void SaveToWriter(TValueWriter& writer) const;
    void LoadFromReader(TValueReader& reader);
};

// Font style bits, as stored.
enum : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// Font of a text key point.
class TFontInfo {
public:
    int32_t Version = 1;
    int32_t VersionRead = 0;
    int32_t Size = 14;
    std::string Name = "Arial";
    uint8_t Style = 0;
    uint32_t Color = 255;
    uint8_t Reserved1 = 0;
    Extended Reserved2 = 1.0L;
    bool Reserved3 = false;

    // Copies size, name, colour and style (what a curve hands from point to point).
    void AssignLook(const TFontInfo& other) {
        Size = other.Size;
        Name = other.Name;
        Color = other.Color;
        Style = other.Style;
    }
    void SaveToWriter(TValueWriter& writer) const;
    void LoadFromReader(TValueReader& reader);
};

// Cuts a text to at most 255 bytes of UTF-8, backing off to a character boundary.
std::string CutShortString(const std::string& s);
