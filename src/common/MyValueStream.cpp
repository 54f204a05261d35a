#include "MyValueStream.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const char* const InvalidValue = "Invalid property value";
const char* const BeyondEnd = "Read beyond end of data";

constexpr uint32_t ReplacementChar = 0xFFFD;

// Characters of Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves undefined map
// to the C1 control of the same value, as the platform's own conversion does.
constexpr uint16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t Cp1252ToCodePoint(uint8_t b) {
    return (b >= 0x80 && b < 0xA0) ? Cp1252High[b - 0x80] : b;
}

// The Windows-1252 byte of a character, or -1 when the code page has none.
int CodePointToCp1252(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
        if (Cp1252High[i] == cp)
            return 0x80 + i;
    return -1;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one strictly well-formed UTF-8 sequence at s[i] (no overlong forms, no surrogates,
// nothing above U+10FFFF) and advances i past it. A malformed sequence gives -1 and advances i
// past its longest valid prefix (at least one byte).
int32_t DecodeUtf8(const uint8_t* s, size_t n, size_t& i) {
    uint8_t b0 = s[i];
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len;
    uint8_t lo = 0x80, hi = 0xBF; // allowed range of the second byte
    uint32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;
        if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        ++i;
        return -1;
    }
    size_t j = i + 1;
    for (int k = 1; k < len; ++k, ++j) {
        uint8_t lower = (k == 1) ? lo : 0x80;
        uint8_t upper = (k == 1) ? hi : 0xBF;
        if (j >= n || s[j] < lower || s[j] > upper) {
            i = j;
            return -1;
        }
        cp = (cp << 6) | (s[j] & 0x3F);
    }
    i = j;
    return static_cast<int32_t>(cp);
}

void PutLE(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int k = 0; k < bytes; ++k)
        out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

uint64_t GetLE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int k = bytes - 1; k >= 0; --k)
        v = (v << 8) | p[k];
    return v;
}

} // namespace

// ---- Text helpers ---------------------------------------------------------------------------

bool IsValidUtf8(const char* s, size_t n) {
    const auto* u = reinterpret_cast<const uint8_t*>(s);
    size_t i = 0;
    while (i < n)
        if (DecodeUtf8(u, n, i) < 0)
            return false;
    return true;
}

std::string SanitizeUtf8(const char* s, size_t n) {
    const auto* u = reinterpret_cast<const uint8_t*>(s);
    std::string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        size_t start = i;
        if (DecodeUtf8(u, n, i) < 0)
            AppendUtf8(out, ReplacementChar);
        else
            out.append(s + start, i - start);
    }
    return out;
}

std::string Windows1252ToUtf8(const char* s, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i)
        AppendUtf8(out, Cp1252ToCodePoint(static_cast<uint8_t>(s[i])));
    return out;
}

std::string Utf16LEToUtf8(const uint8_t* s, size_t units) {
    std::string out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = s[2 * i] | (uint32_t(s[2 * i + 1]) << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            uint32_t u2 = s[2 * i + 2] | (uint32_t(s[2 * i + 3]) << 8);
            if (u2 >= 0xDC00 && u2 <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (u2 - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? ReplacementChar : u);
    }
    return out;
}

// ---- 80-bit float codec ---------------------------------------------------------------------

void ExtendedToBytes(Extended value, uint8_t out[10]) {
    uint64_t mantissa;
    uint32_t exponent;
    const bool negative = std::signbit(value);
    if (std::isnan(value)) {
        exponent = 0x7FFF;
        mantissa = 0xC000000000000000ull; // quiet NaN
    } else if (std::isinf(value)) {
        exponent = 0x7FFF;
        mantissa = 0x8000000000000000ull;
    } else if (value == 0) {
        exponent = 0;
        mantissa = 0;
    } else {
        int e2;
        Extended f = std::frexp(std::fabs(value), &e2); // |value| = f * 2^e2, f in [0.5, 1)
        int biased = e2 + 16382;
        if (biased > 0) {
            exponent = static_cast<uint32_t>(biased);
            // f * 2^64 is below 2^64 and exact: the mantissa with its integer bit set.
            mantissa = static_cast<uint64_t>(std::ldexp(f, 64));
        } else {
            // Denormal: exponent field 0, value = mantissa * 2^-16445 exactly.
            exponent = 0;
            mantissa = static_cast<uint64_t>(std::ldexp(std::fabs(value), 16445));
        }
    }
    for (int k = 0; k < 8; ++k)
        out[k] = static_cast<uint8_t>(mantissa >> (8 * k));
    uint32_t top = exponent | (negative ? 0x8000u : 0u);
    out[8] = static_cast<uint8_t>(top);
    out[9] = static_cast<uint8_t>(top >> 8);
}

Extended BytesToExtended(const uint8_t in[10]) {
    uint64_t mantissa = GetLE(in, 8);
    uint32_t top = in[8] | (uint32_t(in[9]) << 8);
    bool negative = (top & 0x8000) != 0;
    int exponent = static_cast<int>(top & 0x7FFF);
    Extended v;
    if (exponent == 0x7FFF) {
        // The integer bit is ignored, so the unit's pseudo-forms read as infinity or NaN too.
        v = (mantissa << 1) == 0 ? std::numeric_limits<Extended>::infinity()
                                 : std::numeric_limits<Extended>::quiet_NaN();
    } else {
        // Every finite pattern, unnormal forms included, is mantissa * 2^(exponent - 16383 - 63)
        // with exponent 0 read as 1; each such product is representable, so ldexp is exact.
        v = std::ldexp(static_cast<Extended>(mantissa), (exponent == 0 ? 1 : exponent) - 16446);
    }
    return negative ? -v : v;
}

// ---- Writer ---------------------------------------------------------------------------------

void TValueWriter::WriteInteger(int32_t value) {
    if (value >= -128 && value <= 127) {
        Out.push_back(vaInt8);
        PutLE(Out, static_cast<uint64_t>(value), 1);
    } else if (value >= -32768 && value <= 32767) {
        Out.push_back(vaInt16);
        PutLE(Out, static_cast<uint64_t>(value), 2);
    } else {
        Out.push_back(vaInt32);
        PutLE(Out, static_cast<uint64_t>(value), 4);
    }
}

void TValueWriter::WriteInteger64(int64_t value) {
    if (value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max()) {
        WriteInteger(static_cast<int32_t>(value));
        return;
    }
    Out.push_back(vaInt64);
    PutLE(Out, static_cast<uint64_t>(value), 8);
}

void TValueWriter::WriteFloat(Extended value) {
    if (!std::isfinite(value))
        throw EWriteError("Invalid floating point value");
    uint8_t bytes[10];
    ExtendedToBytes(value, bytes);
    Out.push_back(vaExtended);
    Out.insert(Out.end(), bytes, bytes + 10);
}

void TValueWriter::WriteBoolean(bool value) {
    Out.push_back(value ? vaTrue : vaFalse);
}

namespace {

// Readers take a 4-byte length as a signed 32-bit count.
void CheckTextLength(size_t bytes) {
    if (bytes > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw EWriteError("Text too long to store");
}

// Bytes of a byte text (tags 0x06 and 0x0C): a length byte when it fits, else 4 bytes.
void PutByteText(std::vector<uint8_t>& out, const std::string& bytes) {
    if (bytes.size() <= 255) {
        out.push_back(vaString);
        out.push_back(static_cast<uint8_t>(bytes.size())); // length byte
    } else {
        CheckTextLength(bytes.size());
        out.push_back(vaLString);
        PutLE(out, bytes.size(), 4); // byte count
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
}

} // namespace

void TValueWriter::WriteString(const std::string& text) {
    bool ascii = true;
    for (unsigned char c : text)
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        PutByteText(Out, text);
        return;
    }
    const std::string utf8 = SanitizeUtf8(text.data(), text.size());
    CheckTextLength(utf8.size());
    Out.push_back(vaUTF8String);
    PutLE(Out, utf8.size(), 4); // byte count
    Out.insert(Out.end(), utf8.begin(), utf8.end());
}

void TValueWriter::WriteFileName(const std::string& name) {
    if (IsValidUtf8(name.data(), name.size()))
        WriteString(name);
    else
        PutByteText(Out, name);
}

void TValueWriter::WriteRaw(const std::vector<uint8_t>& bytes) {
    Out.insert(Out.end(), bytes.begin(), bytes.end());
}

void TValueWriter::WriteChar(char c) {
    auto b = static_cast<uint8_t>(c);
    if (b < 0x80)
        WriteString(std::string(1, c));
    else
        WriteString(Windows1252ToUtf8(&c, 1));
}

// ---- Reader ---------------------------------------------------------------------------------

void TValueReader::Fail(const std::string& message, size_t offset) const {
    throw EReadError(message, FileName, static_cast<int64_t>(offset));
}

std::string ReadErrorText(const Exception& e) {
    const auto* read = dynamic_cast<const EReadError*>(&e);
    if (!read || read->Offset < 0)
        return e.GetMessage();
    return e.GetMessage() + " at offset " + std::to_string(read->Offset);
}

const uint8_t* TValueReader::Take(size_t count, size_t valueStart) {
    if (count > Size - Pos)
        Fail(BeyondEnd, valueStart);
    const uint8_t* p = Data + Pos;
    Pos += count;
    return p;
}

uint8_t TValueReader::NextValue() const {
    if (Pos >= Size)
        Fail(BeyondEnd, Pos);
    return Data[Pos];
}

int64_t TValueReader::ReadIntegerPayload(uint8_t tag, size_t valueStart, bool allow64) {
    switch (tag) {
    case vaInt8:
        return static_cast<int8_t>(*Take(1, valueStart));
    case vaInt16:
        return static_cast<int16_t>(GetLE(Take(2, valueStart), 2));
    case vaInt32:
        return static_cast<int32_t>(GetLE(Take(4, valueStart), 4));
    case vaInt64:
        if (allow64)
            return static_cast<int64_t>(GetLE(Take(8, valueStart), 8));
        break;
    default:
        break;
    }
    Fail(InvalidValue, valueStart);
}

int32_t TValueReader::ReadInteger() {
    size_t start = Pos;
    uint8_t tag = *Take(1, start);
    return static_cast<int32_t>(ReadIntegerPayload(tag, start, false));
}

int64_t TValueReader::ReadInteger64() {
    size_t start = Pos;
    uint8_t tag = *Take(1, start);
    return ReadIntegerPayload(tag, start, true);
}

Extended TValueReader::ReadFloat() {
    size_t start = Pos;
    uint8_t tag = *Take(1, start);
    if (tag != vaExtended)
        return static_cast<Extended>(ReadIntegerPayload(tag, start, false));
    Extended v = BytesToExtended(Take(10, start));
    // Times, rates and levels are finite; an infinity or NaN only comes from a damaged file and
    // would poison every comparison made with it later.
    if (!std::isfinite(v))
        Fail(InvalidValue, start);
    return v;
}

bool TValueReader::ReadBoolean() {
    // One tag byte and nothing more, whatever the tag: only 0x09 is True.
    return *Take(1, Pos) == vaTrue;
}

uint32_t TValueReader::ReadLength32(size_t valueStart) {
    return static_cast<uint32_t>(GetLE(Take(4, valueStart), 4));
}

std::string TValueReader::ReadTextPayload(uint8_t tag, size_t start) {
    size_t len;
    switch (tag) {
    case vaString:
        len = *Take(1, start);
        break;
    case vaLString:
    case vaUTF8String:
        len = ReadLength32(start);
        break;
    case vaWString: {
        size_t units = ReadLength32(start);
        if (units > (Size - Pos) / 2)
            Fail(BeyondEnd, start);
        return Utf16LEToUtf8(Take(units * 2, start), units);
    }
    default:
        Fail(InvalidValue, start);
    }
    const char* p = reinterpret_cast<const char*>(Take(len, start));
    return std::string(p, len);
}

std::string TValueReader::ReadString() {
    size_t start = Pos;
    uint8_t tag = *Take(1, start);
    std::string text = ReadTextPayload(tag, start);
    if (tag == vaUTF8String)
        return SanitizeUtf8(text.data(), text.size());
    // Byte texts of older files are in the writer's code page; text that already reads as UTF-8
    // is kept, anything else is taken as Windows-1252.
    if (tag == vaWString || IsValidUtf8(text.data(), text.size()))
        return text;
    return Windows1252ToUtf8(text.data(), text.size());
}

std::string TValueReader::ReadFileName() {
    size_t start = Pos;
    uint8_t tag = *Take(1, start);
    return ReadTextPayload(tag, start);
}

void TValueReader::SkipValue() {
    const size_t start = Pos;
    const uint8_t tag = *Take(1, start);
    switch (tag) {
    case vaFalse:
    case vaTrue:
        return;
    case vaExtended:
        Take(10, start);
        return;
    case vaString:
    case vaLString:
    case vaUTF8String:
    case vaWString:
        ReadTextPayload(tag, start);
        return;
    default:
        ReadIntegerPayload(tag, start, true);
    }
}

std::vector<uint8_t> TValueReader::BytesSince(size_t from) const {
    if (from > Pos)
        from = Pos;
    return std::vector<uint8_t>(Data + from, Data + Pos);
}

char TValueReader::ReadChar() {
    size_t start = Pos;
    std::string s = ReadString();
    const auto* u = reinterpret_cast<const uint8_t*>(s.data());
    size_t i = 0;
    int32_t cp = s.empty() ? -1 : DecodeUtf8(u, s.size(), i);
    if (cp < 0 || i != s.size())
        Fail(InvalidValue, start);
    int b = CodePointToCp1252(static_cast<uint32_t>(cp));
    if (b < 0)
        Fail(InvalidValue, start);
    return static_cast<char>(b);
}
