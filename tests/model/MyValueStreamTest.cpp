#include "MyValueStream.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "TestData.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(const std::function<void(TValueWriter&)>& f) {
    Bytes out;
    TValueWriter w(out);
    f(w);
    return out;
}

Bytes FloatBytes(Extended v) {
    return Written([&](TValueWriter& w) { w.WriteFloat(v); });
}

Bytes StringBytes(const std::string& s) {
    return Written([&](TValueWriter& w) { w.WriteString(s); });
}

// Runs f on a reader over data and returns the EReadError it raised (fails when none).
EReadError ReadError(const Bytes& data, const std::function<void(TValueReader&)>& f) {
    TValueReader r(data.data(), data.size(), "test.mpr");
    try {
        f(r);
    } catch (const EReadError& e) {
        return e;
    }
    ADD_FAILURE() << "no read error";
    return EReadError("");
}

// Reads one value of the kind f reads, which must take the whole of data.
template <class F> auto ReadWhole(const Bytes& data, F f) {
    TValueReader r(data.data(), data.size());
    auto v = f(r);
    EXPECT_TRUE(r.AtEnd());
    return v;
}

// Integers of every width, a Float, a Boolean and texts of each length form and of UTF-8.
void WriteEveryKind(TValueWriter& w) {
    w.WriteInteger(5);
    w.WriteInteger(1000);
    w.WriteInteger(100000);
    w.WriteInteger64(int64_t(1) << 40);
    w.WriteFloat(2.5L);
    w.WriteBoolean(true);
    w.WriteString("abc");
    w.WriteString(std::string(300, 'x'));
    w.WriteString("\xC3\xA9");
}

} // namespace

TEST(ValueStreamInteger, SmallestTagThatHoldsTheValue) {
    const std::pair<int32_t, const char*> cases[] = {
        {100, "0264"},     {1000, "03e803"},   {100000, "04a0860100"}, {-1, "02ff"},
        {127, "027f"},     {-128, "0280"},     {128, "038000"},        {-129, "037fff"},
        {32767, "03ff7f"}, {-32768, "030080"}, {32768, "0400800000"},  {INT32_MIN, "0400000080"}};
    for (const auto& [value, hex] : cases) {
        const Bytes bytes = HexBytes(hex);
        EXPECT_EQ(Written([&](TValueWriter& w) { w.WriteInteger(value); }), bytes) << value;
        TValueReader r(bytes.data(), bytes.size());
        EXPECT_EQ(r.ReadInteger(), value); // sign-extended from every width
    }
}

TEST(ValueStreamInteger, SixtyFourBitPathUsesTag13OnlyOutside32Bits) {
    const std::pair<int64_t, const char*> cases[] = {{1, "0201"},
                                                     {44100, "0444ac0000"},
                                                     {INT32_MAX, "04ffffff7f"},
                                                     {int64_t(1) << 31, "13 00000080 00000000"}};
    for (const auto& [value, hex] : cases) {
        EXPECT_EQ(Written([&](TValueWriter& w) { w.WriteInteger64(value); }), HexBytes(hex));
        EXPECT_EQ(ReadWhole(HexBytes(hex), [](TValueReader& r) { return r.ReadInteger64(); }),
                  value);
    }
}

TEST(ValueStreamBoolean, OneTagByteAndOnlyTrueIsTrue) {
    EXPECT_EQ(Written([](TValueWriter& w) { w.WriteBoolean(true); }), Bytes{0x09});
    EXPECT_EQ(Written([](TValueWriter& w) { w.WriteBoolean(false); }), Bytes{0x08});
    // Any other tag reads as False and only the tag byte is taken; nothing is left to read.
    Bytes data = {0x09, 0x08, 0x02, 0x01, 0x05, 0x00, 0xFF};
    TValueReader r(data.data(), data.size());
    EXPECT_TRUE(r.ReadBoolean());
    EXPECT_FALSE(r.ReadBoolean());
    for (size_t at = 3; at <= data.size(); ++at) {
        EXPECT_FALSE(r.ReadBoolean());
        EXPECT_EQ(r.GetPosition(), at);
    }
    EXPECT_THROW(r.ReadBoolean(), EReadError);
}

TEST(ValueStreamFloat, ExactBitPatterns) {
    const std::pair<Extended, const char*> cases[] = {
        {1.0L, "05 0000000000000080 ff3f"},         {-2.5L, "05 00000000000000a0 00c0"},
        {1.0L / 3, "05 abaaaaaaaaaaaaaa fd3f"},     {0.0L, "05 0000000000000000 0000"},
        {-0.0L, "05 0000000000000000 0080"},        {29.97L, "05 8fc2f5285c8fc2ef 0340"},
        {LDBL_TRUE_MIN, "05 0100000000000000 0000"}};
    for (const auto& [value, hex] : cases)
        EXPECT_EQ(FloatBytes(value), HexBytes(hex)) << hex;
    // Integer tags read as floats too.
    const std::pair<const char*, Extended> ints[] = {
        {"020f", 15}, {"02ff", -1}, {"04a0860100", 100000}};
    for (const auto& [hex, value] : ints)
        EXPECT_EQ(ReadWhole(HexBytes(hex), [](TValueReader& r) { return r.ReadFloat(); }), value);
}

TEST(ValueStreamFloat, RoundTripsBitExact) {
    std::vector<Extended> values = {
        1.0L,      0.5L,     -2.5L,         1.0L / 3,     -1.0L / 3,
        1e-300L,   1e300L,   1e4000L,       -1e-4000L,    LDBL_MAX,
        -LDBL_MAX, LDBL_MIN, LDBL_TRUE_MIN, LDBL_MIN / 3, -LDBL_TRUE_MIN * 12345,
        25.0L,     29.97L,   0.04L};
    std::mt19937_64 rng(7);
    for (int i = 0; i < 500; ++i) {
        uint64_t m = rng() | 0x8000000000000000ull;
        int e = static_cast<int>(rng() % 32000) - 16000;
        values.push_back(std::ldexp(static_cast<Extended>(m), e - 63) * ((i & 1) ? -1 : 1));
    }
    for (Extended v : values) {
        uint8_t b[10];
        ExtendedToBytes(v, b);
        Extended back = BytesToExtended(b);
        EXPECT_TRUE(back == v && std::signbit(back) == std::signbit(v)) << double(v);
#if defined(__x86_64__) || defined(__i386__)
        // On x87 hardware the stored layout is the register layout itself.
        uint8_t native[sizeof(Extended)];
        std::memcpy(native, &v, sizeof(v));
        EXPECT_EQ(0, std::memcmp(native, b, 10)) << double(v);
#endif
    }
}

TEST(ValueStreamFloat, CodecKeepsInfinityAndNaN) {
    uint8_t b[10];
    ExtendedToBytes(-HUGE_VALL, b);
    EXPECT_EQ(Bytes(b, b + 10), HexBytes("0000000000000080 ffff"));
    EXPECT_EQ(BytesToExtended(b), -HUGE_VALL);
    ExtendedToBytes(std::numeric_limits<Extended>::quiet_NaN(), b);
    EXPECT_TRUE(std::isnan(BytesToExtended(b)));
    // A pseudo-infinity (integer bit clear) is still read as infinity, not as a huge number.
    uint8_t pseudo[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x7F};
    EXPECT_EQ(BytesToExtended(pseudo), HUGE_VALL);
    // An unnormal (integer bit clear, exponent non-zero) reads as the value its bits describe.
    uint8_t unnormal[10] = {0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0x3F};
    EXPECT_EQ(BytesToExtended(unnormal), 0.5L);
    EXPECT_THROW(FloatBytes(HUGE_VALL), EWriteError);
    EXPECT_THROW(FloatBytes(std::numeric_limits<Extended>::quiet_NaN()), EWriteError);
}

TEST(ValueStreamString, WrittenTags) {
    // ASCII takes the byte tags; other texts tag 0x14 with a 4-byte length, even short ones;
    // malformed bytes never reach the file as they are.
    const std::pair<std::string, const char*> cases[] = {{"", "0600"},
                                                         {"abc", "0603616263"},
                                                         {"Caf\xC3\xA9", "1405000000 436166c3a9"},
                                                         {"\xE2\x82\xAC", "1403000000 e282ac"},
                                                         {"a\xFF", "1404000000 61efbfbd"}};
    for (const auto& [text, hex] : cases)
        EXPECT_EQ(StringBytes(text), HexBytes(hex)) << hex;
    for (size_t n : {255, 256}) {
        const std::string x(n, 'x');
        Bytes want = HexBytes(n == 255 ? "06ff" : "0c00010000");
        want.insert(want.end(), x.begin(), x.end());
        EXPECT_EQ(StringBytes(x), want);
    }
}

TEST(ValueStreamString, ReadTags) {
    const std::pair<const char*, const char*> cases[] = {
        // Byte tags keep UTF-8, else decode Windows-1252; bytes the code page leaves undefined
        // become the C1 control of the same value.
        {"0602 c3a9", "\xC3\xA9"},
        {"0604 436166e9", "Caf\xC3\xA9"},
        {"0603 809fff", "\xE2\x82\xAC\xC5\xB8\xC3\xBF"},
        {"0601 81", "\xC2\x81"},
        // Overlong and surrogate forms are not UTF-8, so the whole text is Windows-1252.
        {"0602 c080", "\xC3\x80\xE2\x82\xAC"},
        {"0c03000000 eda080", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        {"0c02000000 6ff6", "o\xC3\xB6"},
        // The UTF-8 tag replaces malformed sequences.
        {"1402000000 c328", "\xEF\xBF\xBD("},
        {"1403000000 f49080", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"1402000000 e282", "\xEF\xBF\xBD"},
        // The wide tag is UTF-16LE: 'A', U+00E9, U+20AC, U+1F600 as a surrogate pair, then
        // lone surrogates: high at the end, low alone, high followed by a non-surrogate.
        {"1205000000 4100 e900 ac20 3dd8 00de", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"1201000000 3dd8", "\xEF\xBF\xBD"},
        {"1201000000 00de", "\xEF\xBF\xBD"},
        {"1202000000 3dd8 7800", "\xEF\xBF\xBDx"},
        {"1200000000", ""}};
    for (const auto& [hex, text] : cases)
        EXPECT_EQ(ReadWhole(HexBytes(hex), [](TValueReader& r) { return r.ReadString(); }), text)
            << hex;
}

// File names are bytes: one that is not UTF-8 is stored as its bytes under the byte tags and
// read back exactly; UTF-8 names are stored as any text.
TEST(ValueStreamFileName, BytesAsStored) {
    auto name = [](const std::string& n) {
        return Written([&n](TValueWriter& w) { w.WriteFileName(n); });
    };
    EXPECT_EQ(name("/v/caf\xE9"), HexBytes("0607 2f762f636166e9"));
    EXPECT_EQ(name("/v/Caf\xC3\xA9"), StringBytes("/v/Caf\xC3\xA9"));
    const std::string longName = "/" + std::string(300, '\xE9');
    Bytes want = HexBytes("0c2d010000");
    want.insert(want.end(), longName.begin(), longName.end());
    EXPECT_EQ(name(longName), want);

    auto readName = [](TValueReader& r) { return r.ReadFileName(); };
    const std::pair<const char*, std::string> cases[] = {{"0604 436166e9", "Caf\xE9"},
                                                         {"0c02000000 c080", "\xC0\x80"},
                                                         {"1402000000 c328", "\xC3("},
                                                         {"1201000000 e900", "\xC3\xA9"}};
    for (const auto& [hex, text] : cases)
        EXPECT_EQ(ReadWhole(HexBytes(hex), readName), text) << hex;
    for (const std::string& n : {std::string("a\xFF/b"), longName, std::string()})
        EXPECT_EQ(ReadWhole(name(n), readName), n);
    EXPECT_STREQ(ReadError(HexBytes("0201"), readName).what(), "Invalid property value");
}

// Stepping over values: every tag of the encoding, its payload and nothing more.
TEST(ValueStreamSkip, EveryTagAndItsPayload) {
    const Bytes data = Written([](TValueWriter& w) {
        WriteEveryKind(w);
        w.WriteBoolean(false);
    });
    Bytes all = data;
    const Bytes wide = HexBytes("1202000000 41004200");
    all.insert(all.end(), wide.begin(), wide.end());
    TValueReader r(all.data(), all.size());
    size_t values = 0;
    for (; !r.AtEnd(); ++values)
        r.SkipValue();
    EXPECT_EQ(values, 11u);
    EXPECT_EQ(r.BytesSince(0), all);
    for (const char* bad : {"00", "07", "0a", "ff", "0cffffffff", "05 0000"})
        EXPECT_THROW(ReadWhole(HexBytes(bad),
                               [](TValueReader& r) {
                                   r.SkipValue();
                                   return 0;
                               }),
                     EReadError)
            << bad;
}

TEST(ValueStreamChar, OneCharacterString) {
    EXPECT_EQ(Written([](TValueWriter& w) { w.WriteChar('\x0D'); }), HexBytes("06010d"));
    EXPECT_EQ(Written([](TValueWriter& w) { w.WriteChar('\xE9'); }), HexBytes("1402000000c3a9"));
    auto readChar = [](TValueReader& r) { return r.ReadChar(); };
    EXPECT_EQ(ReadWhole(Written([](TValueWriter& w) { w.WriteChar('\x80'); }), readChar), '\x80');
    EXPECT_EQ(ReadWhole(HexBytes("0601e9"), readChar), '\xE9'); // one Windows-1252 character
}

TEST(ValueStreamBounds, BadValuesNameTheirOffset) {
    enum TRead { Int, SecondInt, Float, Str, Chr };
    const char* const Invalid = "Invalid property value";
    const char* const Short = "Read beyond end of data";
    struct TCase {
        TRead Read;
        std::string Hex;
        const char* Message;
        int64_t Offset;
    };
    std::vector<TCase> cases = {
        {Int, "13 00000080 00000000", Invalid, 0},
        {SecondInt, "0205 09", Invalid, 2},
        {Float, "05 0000000000000080 ff7f", Invalid, 0}, // infinity
        {Float, "13 01000000 00000000", Invalid, 0},
        {Float, "0600", Invalid, 0},
        {Chr, "0602 4142", Invalid, 0},
        {Chr, "0600", Invalid, 0},
        {Chr, "1403000000 e4b8ad", Invalid, 0},
        {Chr, "0205", Invalid, 0},
        // Lengths far beyond the data fail before any buffer is sized from them.
        {Str, "0cffffffff 61", Short, 0},
        {Str, "14ffffff7f 6162", Short, 0},
        {Str, "12ffffffff 6100", Short, 0},
        {Str, "1200000080", Short, 0},
        {Str, "1202000000 610062", Short, 0}, // half a code unit short
        {Str, "0605 6162", Short, 0},
        {Str, "0c0100", Short, 0},
    };
    // Tags of other kinds, followed by enough bytes for any value.
    for (const char* tag : {"06", "09", "08", "05", "14", "00"})
        cases.push_back({Int, std::string(tag) + "00000000000000000000", Invalid, 0});
    for (const char* tag : {"02", "03", "04", "13", "05", "09", "08", "07", "ff"})
        cases.push_back({Str, std::string(tag) + "01000000000000000000", Invalid, 0});
    for (const auto& c : cases) {
        EReadError e = ReadError(HexBytes(c.Hex), [&c](TValueReader& r) {
            switch (c.Read) {
            case SecondInt:
                r.ReadInteger();
                [[fallthrough]];
            case Int:
                r.ReadInteger();
                break;
            case Float:
                r.ReadFloat();
                break;
            case Str:
                r.ReadString();
                break;
            case Chr:
                r.ReadChar();
                break;
            }
        });
        EXPECT_STREQ(e.what(), c.Message) << c.Hex;
        EXPECT_EQ(e.Offset, c.Offset) << c.Hex;
        EXPECT_EQ(e.FileName, "test.mpr");
    }
}

TEST(ValueStreamBounds, EveryTruncationIsAReadError) {
    Bytes full = Written([](TValueWriter& w) {
        WriteEveryKind(w);
        w.WriteChar('Z');
    });
    auto readAll = [](TValueReader& r) {
        r.ReadInteger();
        r.ReadInteger();
        r.ReadInteger();
        r.ReadInteger64();
        r.ReadFloat();
        r.ReadBoolean();
        r.ReadString();
        r.ReadString();
        r.ReadString();
        r.ReadChar();
    };
    {
        TValueReader r(full.data(), full.size());
        readAll(r);
        EXPECT_TRUE(r.AtEnd());
    }
    for (size_t n = 0; n < full.size(); ++n) {
        Bytes part(full.begin(), full.begin() + n);
        EXPECT_STREQ(ReadError(part, readAll).what(), "Read beyond end of data") << n;
    }
}
