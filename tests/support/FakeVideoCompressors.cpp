#include "FakeVideoCompressors.h"

#include "MyCommonParams.h"

namespace {

uint32_t HandlerCode(const std::string& s) {
    return MakeFourCC(uint8_t(s[0]), uint8_t(s[1]), uint8_t(s[2]), uint8_t(s[3]));
}

class TFakeCompressor : public IVideoCompressor {
public:
    TFakeCompressor(TFakeVideoCompressors& owner, const TFakeCompressorSpec& spec)
        : Owner(owner), Spec(spec) {}

    void GetInfo(TVideoCompressorInfo& info) override {
        info.Type = VideoCompressorType;
        info.Handler = HandlerCode(Spec.Handler);
        info.Name = Spec.Name;
        info.Description = Spec.Description;
        info.Driver = "fake";
    }
    std::string GetAboutText() override { return Spec.About; }
    bool Begin(const TVideoCompressFormat& format, TVideoOutputFormat& out) override {
        ++Owner.Begins;
        if (!Spec.Begins)
            return false;
        out.Width = format.Width;
        out.Height = format.Height;
        out.BitCount = 24;
        out.Compression = HandlerCode(Spec.Handler);
        out.ImageSize = uint32_t(format.Width * format.Height * 3);
        Frame = 0;
        Begun = true;
        return true;
    }
    int32_t Compress(const uint8_t* bits, ptrdiff_t stride, bool keyFrame,
                     TCompressedFrame& out) override {
        if (!Begun)
            return CompressNotBegun;
        if (Spec.Independent) {
            if (bits[0] == Spec.FailOnBlue)
                return Spec.FailCode;
            Data.assign(bits, bits + 3);
            out.Data = Data.data();
            out.Size = uint32_t(Data.size());
            out.Flags = AVIIF_KEYFRAME;
            return 0;
        }
        if (Spec.FailAt >= 0 && Frame >= Spec.FailAt)
            return Spec.FailCode;
        ++Owner.Compressed;
        Owner.KeyRequests.push_back(keyFrame);
        // Three bytes: the first pixel, so a test sees what the encoder was given.
        Data.assign(bits, bits + 3);
        Data.push_back(uint8_t(Frame));
        out.Data = Data.data();
        out.Size = uint32_t(Data.size());
        out.Flags = (keyFrame || Frame == 0) ? AVIIF_KEYFRAME : 0;
        ++Frame;
        return 0;
    }
    bool IndependentFrames() const override { return Spec.Independent; }
    bool End() override {
        if (!Begun)
            return false;
        ++Owner.Ends;
        Begun = false;
        return true;
    }

private:
    TFakeVideoCompressors& Owner;
    TFakeCompressorSpec Spec;
    std::vector<uint8_t> Data;
    int32_t Frame = 0;
    bool Begun = false;
};

} // namespace

bool TFakeVideoCompressors::GetInfo(uint32_t type, int32_t index, TVideoCompressorInfo& info) {
    if (index < 0 || size_t(index) >= Specs.size())
        return false;
    info = TVideoCompressorInfo{};
    info.Type = VideoCompressorType;
    info.Handler = HandlerCode(Specs[size_t(index)].Handler);
    return true;
}

std::unique_ptr<IVideoCompressor> TFakeVideoCompressors::Open(uint32_t type, uint32_t handler,
                                                              TVideoCompressorMode mode) {
    for (const auto& spec : Specs) {
        if (HandlerCode(spec.Handler) != handler)
            continue;
        const bool query = mode == TVideoCompressorMode::Query;
        Opened.push_back((query ? "q:" : "c:") + spec.Handler);
        if (query ? !spec.OpensForQuery : !spec.OpensForCompress)
            return nullptr;
        return std::make_unique<TFakeCompressor>(*this, spec);
    }
    return nullptr;
}
