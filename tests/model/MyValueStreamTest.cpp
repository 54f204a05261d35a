#include "MyValueStream.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(const std::function<void(TValueWriter&)>& f) {
    Bytes out;
    TValueWriter w(out);
    f(w);
    return out;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Of(const std::string& s) {
    return Bytes(s.begin(), s.end());
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

std::string ReadStringOf(const Bytes& data) {
    TValueReader r(data.data(), data.size());
    std::string s = r.ReadString();
    EXPECT_TRUE(r.AtEnd());
    return s;
}

Bytes FloatBytes(Extended v) {
    return Written([&](TValueWriter& w) { w.WriteFloat(v); });
}

Extended ReadFloatOf(const Bytes& data) {
    TValueReader r(data.data(), data.size());
    Extended v = r.ReadFloat();
    EXPECT_TRUE(r.AtEnd());
    return v;
}

} // namespace

// ---- Integers -------------------------------------------------------------------------------

TEST(ValueStreamInteger, SmallestTagThatHoldsTheValue) {
    const std::pair<int32_t, Bytes> cases[] = {
        {100, {0x02, 0x64}},
        {1000, {0x03, 0xE8, 0x03}},
        {100000, {0x04, 0xA0, 0x86, 0x01, 0x00}},
        {-1, {0x02, 0xFF}},
        {127, {0x02, 0x7F}},
        {-128, {0x02, 0x80}},
        {128, {0x03, 0x80, 0x00}},
        {-129, {0x03, 0x7F, 0xFF}},
        {32767, {0x03, 0xFF, 0x7F}},
        {-32768, {0x03, 0x00, 0x80}},
        {32768, {0x04, 0x00, 0x80, 0x00, 0x00}},
        {INT32_MIN, {0x04, 0x00, 0x00, 0x00, 0x80}},
    };
    for (const auto& [value, bytes] : cases) {
        EXPECT_EQ(Written([&](TValueWriter& w) { w.WriteInteger(value); }), bytes) << value;
        TValueReader r(bytes.data(), bytes.size());
        EXPECT_EQ(r.ReadInteger(), value); // sign-extended from every width
    }
}

TEST(ValueStreamInteger, SixtyFourBitPathUsesTag13OnlyOutside32Bits) {
    auto w = [](int64_t v) { return Written([&](TValueWriter& w) { w.WriteInteger64(v); }); };
    EXPECT_EQ(w(1), (Bytes{0x02, 0x01}));
    EXPECT_EQ(w(44100), (Bytes{0x04, 0x44, 0xAC, 0x00, 0x00}));
    EXPECT_EQ(w(INT32_MAX), (Bytes{0x04, 0xFF, 0xFF, 0xFF, 0x7F}));
    Bytes big = w(int64_t(1) << 31);
    EXPECT_EQ(big, (Bytes{0x13, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00}));

    TValueReader r(big.data(), big.size());
    EXPECT_EQ(r.ReadInteger64(), int64_t(1) << 31);
}

TEST(ValueStreamInteger, Tag13AndNonIntegerTagsAreRefused) {
    Bytes big = {0x13, 0, 0, 0, 0x80, 0, 0, 0, 0};
    EReadError e = ReadError(big, [](TValueReader& r) { r.ReadInteger(); });
    EXPECT_STREQ(e.what(), "Invalid property value");
    EXPECT_EQ(e.Offset, 0);
    EXPECT_EQ(e.FileName, "test.mpr");

    for (uint8_t tag : std::initializer_list<uint8_t>{vaString, vaTrue, vaFalse, vaExtended,
                                                      vaUTF8String, uint8_t(0x00)}) {
        EXPECT_STREQ(
            ReadError({tag, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, [](TValueReader& r) { r.ReadInteger(); })
                .what(),
            "Invalid property value")
            << int(tag);
    }
    // The offset is that of the bad value, not of the start of the data.
    e = ReadError({0x02, 0x05, 0x09}, [](TValueReader& r) {
        r.ReadInteger();
        r.ReadInteger();
    });
    EXPECT_EQ(e.Offset, 2);
}

// ---- Booleans -------------------------------------------------------------------------------

TEST(ValueStreamBoolean, OneByteEachAndOnlyTheTwoTags) {
    EXPECT_EQ(Written([](TValueWriter& w) { w.WriteBoolean(true); }), Bytes{0x09});
    EXPECT_EQ(Written([](TValueWriter& w) { w.WriteBoolean(false); }), Bytes{0x08});
    Bytes data = {0x09, 0x08, 0x02, 0x01};
    TValueReader r(data.data(), data.size());
    EXPECT_TRUE(r.ReadBoolean());
    EXPECT_FALSE(r.ReadBoolean());
    EXPECT_THROW(r.ReadBoolean(), EReadError); // an integer where a Boolean belongs
    EXPECT_EQ(r.GetPosition(), 2u);
}

// ---- Floats ---------------------------------------------------------------------------------

TEST(ValueStreamFloat, ExactBitPatterns) {
    EXPECT_EQ(FloatBytes(1.0L), (Bytes{0x05, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}));
    EXPECT_EQ(FloatBytes(-2.5L), (Bytes{0x05, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0x00, 0xC0}));
    EXPECT_EQ(FloatBytes(1.0L / 3),
              (Bytes{0x05, 0xAB, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xFD, 0x3F}));
    EXPECT_EQ(FloatBytes(0.0L), (Bytes{0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(FloatBytes(-0.0L), (Bytes{0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(FloatBytes(29.97L),
              (Bytes{0x05, 0x8F, 0xC2, 0xF5, 0x28, 0x5C, 0x8F, 0xC2, 0xEF, 0x03, 0x40}));
    EXPECT_EQ(FloatBytes(LDBL_TRUE_MIN), (Bytes{0x05, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
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
    EXPECT_EQ(Bytes(b, b + 10), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF}));
    EXPECT_EQ(BytesToExtended(b), -HUGE_VALL);
    ExtendedToBytes(std::numeric_limits<Extended>::quiet_NaN(), b);
    EXPECT_TRUE(std::isnan(BytesToExtended(b)));
    // A pseudo-infinity (integer bit clear) is still read as infinity, not as a huge number.
    uint8_t pseudo[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x7F};
    EXPECT_EQ(BytesToExtended(pseudo), HUGE_VALL);
    // An unnormal (integer bit clear, exponent non-zero) reads as the value its bits describe.
    uint8_t unnormal[10] = {0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0x3F};
    EXPECT_EQ(BytesToExtended(unnormal), 0.5L);
}

TEST(ValueStreamFloat, NonFiniteValuesAreNeitherWrittenNorRead) {
    EXPECT_THROW(FloatBytes(HUGE_VALL), EWriteError);
    EXPECT_THROW(FloatBytes(std::numeric_limits<Extended>::quiet_NaN()), EWriteError);
    Bytes inf = {0x05, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F};
    EXPECT_STREQ(ReadError(inf, [](TValueReader& r) { r.ReadFloat(); }).what(),
                 "Invalid property value");
}

TEST(ValueStreamFloat, IntegerTagsReadAsFloat) {
    EXPECT_EQ(ReadFloatOf({0x02, 0x0F}), 15.0L);
    EXPECT_EQ(ReadFloatOf({0x02, 0xFF}), -1.0L);
    EXPECT_EQ(ReadFloatOf({0x04, 0xA0, 0x86, 0x01, 0x00}), 100000.0L);
    EXPECT_STREQ(
        ReadError({0x13, 1, 0, 0, 0, 0, 0, 0, 0}, [](TValueReader& r) { r.ReadFloat(); }).what(),
        "Invalid property value");
    EXPECT_STREQ(ReadError({0x06, 0x00}, [](TValueReader& r) { r.ReadFloat(); }).what(),
                 "Invalid property value");
}

// ---- Strings --------------------------------------------------------------------------------

TEST(ValueStreamString, AsciiUsesByteTags) {
    auto w = [](const std::string& s) {
        return Written([&](TValueWriter& w) { w.WriteString(s); });
    };
    EXPECT_EQ(w(""), (Bytes{0x06, 0x00}));
    EXPECT_EQ(w("abc"), (Bytes{0x06, 0x03, 'a', 'b', 'c'}));
    EXPECT_EQ(w(std::string(255, 'x')), Concat({0x06, 0xFF}, Of(std::string(255, 'x'))));
    EXPECT_EQ(w(std::string(256, 'x')),
              Concat({0x0C, 0x00, 0x01, 0x00, 0x00}, Of(std::string(256, 'x'))));
}

TEST(ValueStreamString, NonAsciiIsUtf8Tag) {
    auto w = [](const std::string& s) {
        return Written([&](TValueWriter& w) { w.WriteString(s); });
    };
    EXPECT_EQ(w("Caf\xC3\xA9"), (Bytes{0x14, 0x05, 0x00, 0x00, 0x00, 'C', 'a', 'f', 0xC3, 0xA9}));
    // Short non-ASCII texts still take the 4-byte length of tag 0x14.
    EXPECT_EQ(w("\xE2\x82\xAC"), (Bytes{0x14, 0x03, 0x00, 0x00, 0x00, 0xE2, 0x82, 0xAC}));
    // Malformed bytes never reach the file as they are.
    EXPECT_EQ(w("a\xFF"), (Bytes{0x14, 0x04, 0x00, 0x00, 0x00, 'a', 0xEF, 0xBF, 0xBD}));
}

TEST(ValueStreamString, ByteTagsKeepUtf8ElseDecodeWindows1252) {
    EXPECT_EQ(ReadStringOf({0x06, 0x02, 0xC3, 0xA9}), "\xC3\xA9");
    EXPECT_EQ(ReadStringOf({0x06, 0x04, 'C', 'a', 'f', 0xE9}), "Caf\xC3\xA9");
    EXPECT_EQ(ReadStringOf({0x06, 0x03, 0x80, 0x9F, 0xFF}), "\xE2\x82\xAC\xC5\xB8\xC3\xBF");
    // Bytes the code page leaves undefined become the C1 control of the same value.
    EXPECT_EQ(ReadStringOf({0x06, 0x01, 0x81}), "\xC2\x81");
    // Overlong and surrogate forms are not UTF-8, so the whole text is taken as Windows-1252.
    EXPECT_EQ(ReadStringOf({0x06, 0x02, 0xC0, 0x80}), "\xC3\x80\xE2\x82\xAC");
    EXPECT_EQ(ReadStringOf({0x0C, 0x03, 0, 0, 0, 0xED, 0xA0, 0x80}),
              "\xC3\xAD\xC2\xA0\xE2\x82\xAC");
    EXPECT_EQ(ReadStringOf({0x0C, 0x02, 0, 0, 0, 'o', 0xF6}), "o\xC3\xB6");
}

TEST(ValueStreamString, Utf8TagReplacesMalformedSequences) {
    EXPECT_EQ(ReadStringOf({0x14, 0x02, 0, 0, 0, 0xC3, 0x28}), "\xEF\xBF\xBD(");
    EXPECT_EQ(ReadStringOf({0x14, 0x03, 0, 0, 0, 0xF4, 0x90, 0x80}),
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(ReadStringOf({0x14, 0x02, 0, 0, 0, 0xE2, 0x82}), "\xEF\xBF\xBD");
}

TEST(ValueStreamString, WideTagIsUtf16LE) {
    // 'A', U+00E9, U+20AC, U+1F600 as a surrogate pair.
    EXPECT_EQ(
        ReadStringOf({0x12, 0x05, 0, 0, 0, 'A', 0, 0xE9, 0, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}),
        "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    // Lone surrogates, high at the end, low alone, high followed by a non-surrogate.
    EXPECT_EQ(ReadStringOf({0x12, 0x01, 0, 0, 0, 0x3D, 0xD8}), "\xEF\xBF\xBD");
    EXPECT_EQ(ReadStringOf({0x12, 0x01, 0, 0, 0, 0x00, 0xDE}), "\xEF\xBF\xBD");
    EXPECT_EQ(ReadStringOf({0x12, 0x02, 0, 0, 0, 0x3D, 0xD8, 'x', 0}), "\xEF\xBF\xBDx");
    EXPECT_EQ(ReadStringOf({0x12, 0x00, 0, 0, 0}), "");
}

TEST(ValueStreamString, OtherTagsAreRefused) {
    for (uint8_t tag :
         std::initializer_list<uint8_t>{vaInt8, vaInt16, vaInt32, vaInt64, vaExtended, vaTrue,
                                        vaFalse, uint8_t(0x07), uint8_t(0xFF)}) {
        EXPECT_STREQ(
            ReadError({tag, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, [](TValueReader& r) { r.ReadString(); })
                .what(),
            "Invalid property value")
            << int(tag);
    }
}

// ---- Chars ----------------------------------------------------------------------------------

TEST(ValueStreamChar, OneCharacterString) {
    EXPECT_EQ(Written([](TValueWriter& w) { w.WriteChar('\x0D'); }), (Bytes{0x06, 0x01, 0x0D}));
    EXPECT_EQ(Written([](TValueWriter& w) { w.WriteChar('\xE9'); }),
              (Bytes{0x14, 0x02, 0, 0, 0, 0xC3, 0xA9}));
    Bytes data = Written([](TValueWriter& w) { w.WriteChar('\x80'); });
    TValueReader r(data.data(), data.size());
    EXPECT_EQ(r.ReadChar(), '\x80');
    // A byte text of one Windows-1252 character.
    Bytes b = {0x06, 0x01, 0xE9};
    TValueReader r2(b.data(), b.size());
    EXPECT_EQ(r2.ReadChar(), '\xE9');
}

TEST(ValueStreamChar, RefusesAnythingButOneCharacter) {
    auto fails = [](const Bytes& b) {
        return std::string(ReadError(b, [](TValueReader& r) { r.ReadChar(); }).what());
    };
    EXPECT_EQ(fails({0x06, 0x02, 'A', 'B'}), "Invalid property value");
    EXPECT_EQ(fails({0x06, 0x00}), "Invalid property value");
    EXPECT_EQ(fails({0x14, 0x03, 0, 0, 0, 0xE4, 0xB8, 0xAD}), "Invalid property value");
    EXPECT_EQ(fails({0x02, 0x05}), "Invalid property value");
}

// ---- Bounds ---------------------------------------------------------------------------------

TEST(ValueStreamBounds, EveryTruncationIsAReadError) {
    Bytes full = Written([](TValueWriter& w) {
        w.WriteInteger(5);
        w.WriteInteger(1000);
        w.WriteInteger(100000);
        w.WriteInteger64(int64_t(1) << 40);
        w.WriteFloat(2.5L);
        w.WriteBoolean(true);
        w.WriteString("abc");
        w.WriteString(std::string(300, 'x'));
        w.WriteString("\xC3\xA9");
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

TEST(ValueStreamBounds, HostileLengthsFailWithoutAllocating) {
    // Lengths far beyond the data; reading them must fail before any buffer is sized from them.
    const Bytes cases[] = {
        {0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
        {0x14, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'},
        {0x12, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 0},
        {0x12, 0x00, 0x00, 0x00, 0x80},
        {0x12, 0x02, 0x00, 0x00, 0x00, 'a', 0, 'b'}, // half a code unit short
        {0x06, 0x05, 'a', 'b'},
        {0x0C, 0x01, 0x00},
    };
    for (const Bytes& b : cases) {
        EReadError e = ReadError(b, [](TValueReader& r) { r.ReadString(); });
        EXPECT_STREQ(e.what(), "Read beyond end of data");
        EXPECT_EQ(e.Offset, 0);
    }
}
