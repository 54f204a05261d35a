// Reads tagged values from arbitrary bytes until the reader refuses them. The first byte picks
// how: even values read each value as the kind its tag announces, odd values cycle through every
// kind whatever the tag says. Every value read must survive a write and a second read unchanged,
// and every text must be well-formed UTF-8.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "MyCommonParams.h"
#include "MyValueStream.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

template <typename W, typename R> void RoundTrip(W write, R readBack) {
    std::vector<uint8_t> out;
    TValueWriter w(out);
    write(w);
    TValueReader r(out.data(), out.size());
    readBack(r);
    Check(r.AtEnd());
}

void ReadOne(TValueReader& r, int kind) {
    switch (kind) {
    case 0: {
        int32_t v = r.ReadInteger();
        RoundTrip([&](TValueWriter& w) { w.WriteInteger(v); },
                  [&](TValueReader& b) { Check(b.ReadInteger() == v); });
        break;
    }
    case 1: {
        int64_t v = r.ReadInteger64();
        RoundTrip([&](TValueWriter& w) { w.WriteInteger64(v); },
                  [&](TValueReader& b) { Check(b.ReadInteger64() == v); });
        break;
    }
    case 2: {
        Extended v = r.ReadFloat();
        Check(std::isfinite(v));
        RoundTrip([&](TValueWriter& w) { w.WriteFloat(v); },
                  [&](TValueReader& b) {
                      Extended back = b.ReadFloat();
                      Check(back == v && std::signbit(back) == std::signbit(v));
                  });
        break;
    }
    case 3: {
        bool v = r.ReadBoolean();
        RoundTrip([&](TValueWriter& w) { w.WriteBoolean(v); },
                  [&](TValueReader& b) { Check(b.ReadBoolean() == v); });
        break;
    }
    case 4: {
        std::string v = r.ReadString();
        Check(IsValidUtf8(v.data(), v.size()));
        RoundTrip([&](TValueWriter& w) { w.WriteString(v); },
                  [&](TValueReader& b) { Check(b.ReadString() == v); });
        break;
    }
    case 5: {
        char v = r.ReadChar();
        RoundTrip([&](TValueWriter& w) { w.WriteChar(v); },
                  [&](TValueReader& b) { Check(b.ReadChar() == v); });
        break;
    }
    case 6: {
        TFontInfo f;
        f.LoadFromReader(r);
        Check(f.Name.size() <= 255 && IsValidUtf8(f.Name.data(), f.Name.size()));
        break;
    }
    default: {
        TPartialInfo p;
        p.LoadFromReader(r);
        break;
    }
    }
}

int KindOfTag(uint8_t tag, size_t step) {
    switch (tag) {
    case vaInt8:
    case vaInt16:
    case vaInt32:
        return step % 3 == 0 ? 2 : static_cast<int>(step % 2); // integer, 64-bit or float
    case vaInt64:
        return 1;
    case vaExtended:
        return 2;
    case vaFalse:
    case vaTrue:
        return step % 4 == 0 ? 7 : 3; // now and then a whole clip range record
    case vaString:
    case vaLString:
    case vaUTF8String:
    case vaWString:
        return step % 2 == 0 ? 5 : 4;
    default:
        return static_cast<int>(step % 8);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const bool byTag = (data[0] & 1) == 0;
    TValueReader r(data + 1, size - 1);
    try {
        for (size_t step = 0; !r.AtEnd(); ++step) {
            size_t before = r.GetPosition();
            int kind = byTag ? KindOfTag(r.NextValue(), step) : static_cast<int>(step % 8);
            ReadOne(r, kind);
            Check(r.GetPosition() > before && r.GetPosition() <= size - 1);
        }
    } catch (const EReadError&) {
    }
    return 0;
}
