// Fuzz target for drawing text: arbitrary lines in an arbitrary font (name, size, style, colour)
// rendered as the text, opaque text and subtitle overlays draw them onto frames of any size and
// at any position, and the rendered block scrolled as credits. The first ten bytes set the
// numbers, the rest up to a newline is the font name, and every further line is a text line.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <QGuiApplication>

#include "MyCommonParams.h"
#include "MyOverlays.h"
#include "MyTextOverlays.h"

namespace {

struct TInput {
    TFontInfo Font;
    std::vector<std::string> Lines;
    TNodeInfo Info;
    int32_t FrameW = 1, FrameH = 1;
    Extended Scale = 1;
};

int16_t S16(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

TInput Parse(const uint8_t* data, size_t size) {
    TInput in;
    uint8_t head[10] = {};
    if (size > 0)
        std::memcpy(head, data, std::min<size_t>(size, sizeof head));
    in.Font.Style = head[0];
    in.Font.Size = S16(head + 1);
    in.Font.Color = uint32_t(head[3]) * 0x010101u ^ 0x00FF00u;
    in.Scale = Extended(head[4]) / 64; // 0 to 4
    in.Info.X = int8_t(head[5]) * 8;
    in.Info.Y = int8_t(head[6]) * 8;
    in.Info.Level = Extended(int8_t(head[7])) / 64;
    in.FrameW = 1 + head[8] % 160;
    in.FrameH = 1 + head[9] % 120;
    const std::string rest = size > 10
                                 ? std::string(reinterpret_cast<const char*>(data) + 10, size - 10)
                                 : std::string();
    size_t at = rest.find('\n');
    in.Font.Name = rest.substr(0, at);
    while (at != std::string::npos) {
        const size_t next = rest.find('\n', at + 1);
        in.Lines.push_back(rest.substr(at + 1, next == std::string::npos ? next : next - at - 1));
        at = next;
    }
    return in;
}

template <class T> void Overlay(TAddOnBridge& bridge, TBitmap& frame, int32_t n) {
    T overlay(bridge);
    overlay.Bitmap = &frame;
    overlay.Run(n, n, n / 25.0L, 25);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);

    TInput in = Parse(data, size);
    TAddOnBridge bridge;
    bridge.GetNodeInfo = [&in](TNodeInfo& info) {
        info = in.Info;
        info.Lines = &in.Lines;
        info.Font = &in.Font;
        return true;
    };
    bridge.RegisterTimeEffect = [](uint8_t, const std::string&) {
        return static_cast<TTimeData*>(nullptr);
    };

    TSimpleTextOverlay text(bridge);
    text.RenderText(&in.Lines, &in.Font, in.Scale, TPoint{in.Info.X, in.Info.Y}, in.FrameW,
                    in.FrameH);
    TBitmap frame(in.FrameW, in.FrameH);
    Overlay<TSimpleTextOverlay>(bridge, frame, 0);
    Overlay<TOpaqueSimpleTextOverlay>(bridge, frame, 1);
    Overlay<TSubTitleOverlay>(bridge, frame, 2);
    // The rendered block as the credits' picture, a few frames into its climb.
    bridge.WorkBitmap.Assign(text.TextImage);
    Overlay<TCreditOverlay>(bridge, frame, int32_t(size % 50));
    return 0;
}
