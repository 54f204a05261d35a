#include "MyCommonParams.h"

#include <QDateTime>
#include <QUuid>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "IUiServices.h"
#include "MyShell.h"

namespace {

constexpr int64_t MSecsPerDay = 86400000;

std::string TwoDigits(int v) {
    char buf[3] = {char('0' + v / 10 % 10), char('0' + v % 10), 0};
    return buf;
}

// Milliseconds into the day of a date-time value. The whole value is rounded to milliseconds
// before the day is dropped, so 0.9999 s reads as one full second and a value just short of
// midnight reads as midnight.
int64_t TimeOfDayMs(Extended days) {
    int64_t ms = Round64(days * static_cast<Extended>(MSecsPerDay)) % MSecsPerDay;
    return ms < 0 ? -ms : ms;
}

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::atomic<char> DecimalSeparator{'.'};

} // namespace

// Whitespace and control characters at either end go, as a typed text is trimmed.
std::string TrimText(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

// ---- Time and number texts --------------------------------------------------------------------

std::string FormatTimeText(Extended seconds) {
    int64_t ms = TimeOfDayMs(seconds / 86400);
    int hours = static_cast<int>(ms / 3600000);
    int minutes = static_cast<int>(ms / 60000 % 60);
    int secs = static_cast<int>(ms / 1000 % 60);
    int msecs = static_cast<int>(ms % 1000);
    return std::to_string(hours) + "h:" + TwoDigits(minutes) + "m:" + TwoDigits(secs) +
           "s:" + TwoDigits(msecs / 10) + "ms";
}

std::string FormatDurationInWords(Extended spanDays) {
    // Whole hours are counted past a day: an estimate of 25 hours must not read as one.
    int64_t ms = Round64(spanDays * static_cast<Extended>(MSecsPerDay));
    if (ms < 0)
        ms = -ms;
    int64_t hours = ms / 3600000;
    int64_t minutes = ms / 60000 % 60;
    if (hours > 0)
        return std::to_string(hours) + " hour " + std::to_string(minutes) + " minutes";
    std::string s = "less than " + std::to_string(minutes + 1) + " minute";
    if (minutes > 0)
        s += "s";
    return s;
}

std::string FitText(const std::string& s, int width, bool padLeft) {
    if (width <= 0)
        return {};
    // Widths count characters, so a multi-byte character is never split.
    size_t end = 0;
    int chars = 0;
    while (end < s.size() && chars < width) {
        ++end;
        while (end < s.size() && IsUtf8Continuation(s[end]))
            ++end;
        ++chars;
    }
    std::string pad(static_cast<size_t>(width - chars), ' ');
    return padLeft ? pad + s.substr(0, end) : s.substr(0, end) + pad;
}

std::string IntToZeroPadded(int64_t value, int digits) {
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) >= digits)
        return s;
    // Zeros go behind a minus sign, so a negative value still reads as a number.
    size_t at = value < 0 ? 1 : 0;
    s.insert(at, static_cast<size_t>(digits) - s.size(), '0');
    return s;
}

std::string MakeTimeStampText() {
    // Local date-time in days since 30 December 1899 (day 25569 is 1 January 1970).
    const QDateTime now = QDateTime::currentDateTime();
    const int64_t localMs = now.toMSecsSinceEpoch() + int64_t(now.offsetFromUtc()) * 1000;
    const Extended days = 25569 + static_cast<Extended>(localMs) / MSecsPerDay;
    return std::to_string(Round64(days * 1000000));
}

std::string CleanDecimalText(const std::string& s, int maxDecimals, bool allowTrailingPoint) {
    const std::string text = TrimText(s);
    std::string result;
    bool pointTaken = false;
    int behindPoint = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool isDigit = c >= '0' && c <= '9';
        if (!isDigit && c != '.')
            continue;
        if (pointTaken) {
            // Further points count as places behind the point but are not copied.
            if (++behindPoint > maxDecimals)
                break;
            if (isDigit)
                result += c;
        } else if (c == '.') {
            pointTaken = true;
            if (i == 0)
                result += '0'; // appended only to quiet g++ 12's false overlap warning at -O3
            result += '.';
        } else {
            result += c;
        }
    }
    if (!allowTrailingPoint && (result.empty() || result.back() == '.'))
        result += '0';
    return result;
}

int32_t DigitsToInt(const std::string& s) {
    std::string digits;
    for (char c : s)
        if (c >= '0' && c <= '9')
            digits += c;
    if (digits.empty())
        return 0;
    int64_t v = 0;
    for (char c : digits) {
        v = v * 10 + (c - '0');
        if (v > INT32_MAX)
            throw EConvertError("'" + digits + "' is not a valid integer value");
    }
    return static_cast<int32_t>(v);
}

std::string CleanFloatText(const std::string& s) {
    const char sep = GetDecimalSeparator();
    size_t p = s.find(sep);
    if (p == std::string::npos) {
        if (sep == '.')
            p = s.find(',');
        else if (sep == ',')
            p = s.find('.');
    }
    if (p == std::string::npos)
        return std::to_string(DigitsToInt(s));
    return std::to_string(DigitsToInt(s.substr(0, p))) + sep +
           std::to_string(DigitsToInt(s.substr(p + 1)));
}

char GetDecimalSeparator() {
    return DecimalSeparator.load(std::memory_order_relaxed);
}

void SetDecimalSeparator(char c) {
    DecimalSeparator.store(c, std::memory_order_relaxed);
}

std::string CutShortString(const std::string& s) {
    if (s.size() <= 255)
        return s;
    size_t n = 255;
    while (n > 0 && IsUtf8Continuation(s[n]))
        --n;
    return s.substr(0, n);
}

// ---- Codes and identifiers --------------------------------------------------------------------

uint32_t MakeFourCC(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    // Unsigned throughout, so codes with a high byte >= 0x80 (seen in damaged files) are values.
    return uint32_t(b0) | (uint32_t(b1) << 8) | (uint32_t(b2) << 16) | (uint32_t(b3) << 24);
}

std::string FourCCToText(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((code >> (8 * i)) & 0xFF);
        if (c == 0)
            break;
        s += c;
    }
    return s;
}

std::string NewGuidText() {
    const QUuid id = QUuid::createUuid();
    if (id.isNull())
        return {};
    return id.toString(QUuid::WithBraces).toUpper().toStdString();
}

void ColorToBGR(uint32_t color, uint8_t bgr[3]) {
    bgr[0] = static_cast<uint8_t>(color >> 16); // blue
    bgr[1] = static_cast<uint8_t>(color >> 8);  // green
    bgr[2] = static_cast<uint8_t>(color);       // red
}

// ---- Files and shell --------------------------------------------------------------------------

bool FileExists(const std::string& fileName) {
    std::error_code ec;
    const auto st = std::filesystem::status(fileName, ec);
    return !ec && std::filesystem::exists(st) && !std::filesystem::is_directory(st);
}

bool DirectoryExists(const std::string& folder) {
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec);
}

bool RecycleFile(const std::string& fileName) {
    if (!FileExists(fileName))
        return false;
    return ShellMoveToTrash(fileName);
}

bool IsFileInUse(const std::string& fileName) {
    if (!FileExists(fileName))
        return false;
    return ShellIsFileLocked(fileName);
}

bool BrowseForFolder(IUiServices& ui, std::string& folder) {
    std::string start = folder;
    if (start.empty()) {
        std::error_code ec;
        start = std::filesystem::current_path(ec).string();
    }
    const std::optional<std::string> chosen = ui.BrowseForFolder("Select Directory", start);
    if (!chosen || chosen->empty())
        return false;
    folder = *chosen;
    if (folder.back() != '/')
        folder += '/';
    return true;
}

void NormalizeFolderPath(const std::string& path, std::string& result) {
    result.clear();
    for (char c : TrimText(path)) {
        if (c == '\\')
            c = '/';
        if (c == '/' && !result.empty() && result.back() == '/')
            continue;
        result += c;
    }
    if (!result.empty() && result.back() != '/')
        result += '/';
}

// ---- Bitmaps ----------------------------------------------------------------------------------

int32_t DIBRowBytes(int32_t width, int32_t bitsPerPixel, int32_t alignBits) {
    int32_t bits = CheckedAdd(CheckedMul(width, bitsPerPixel), CheckedSub(alignBits, 1));
    return (bits / alignBits * alignBits) / 8;
}

// ---- Audio format -----------------------------------------------------------------------------

void MakePcmFormat(TAudioFormat& format, uint32_t rate, uint16_t channels, uint16_t bits) {
    std::memset(&format, 0, sizeof(format));
    format.Wfx.wFormatTag = WAVE_FORMAT_PCM;
    format.Wfx.nChannels = channels;
    format.Wfx.nSamplesPerSec = rate;
    format.Wfx.wBitsPerSample = bits;
    format.Wfx.nBlockAlign = CheckedCast<uint16_t>(CheckedMul<uint32_t>(bits / 8, channels));
    format.Wfx.nAvgBytesPerSec = CheckedMul<uint32_t>(format.Wfx.nBlockAlign, rate);
    format.Wfx.cbSize = 18;
}

int32_t GetBlockAlign(const TAudioFormat& format) {
    return (format.Wfx.wBitsPerSample / 8) * format.Wfx.nChannels;
}

void ParseAudioFormatText(const std::string& text, TAudioFormat& format) {
    auto has = [&text](const char* word) { return text.find(word) != std::string::npos; };
    uint32_t rate = 44100;
    for (uint32_t r : {48000u, 44100u, 22050u, 11025u}) {
        if (has(std::to_string(r).c_str())) {
            rate = r;
            break;
        }
    }
    const uint16_t bits = has("16 bits") ? 16 : 8;
    const uint16_t channels = has("tereo") ? 2 : 1;
    MakePcmFormat(format, rate, channels, bits);
}

std::string FormatAudioFormatText(const TAudioFormat& format) {
    std::string s = std::to_string(format.Wfx.nSamplesPerSec) + ", ";
    switch (format.Wfx.wBitsPerSample) {
    case 8:
        s += "8  bits ";
        break;
    case 0:
    case 16:
        s += "16 bits ";
        break;
    default:
        break;
    }
    if (format.Wfx.nChannels == 1)
        s += "Mono";
    else if (format.Wfx.nChannels == 2)
        s += "Stereo";
    return s;
}
