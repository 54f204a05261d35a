#include "MyYuvPicture.h"

#include <cstring>

#include <turbojpeg.h>

namespace {

// One decoder handle per thread for the conversions: a handle serves one call at a time.
struct TThreadDecoder {
    tjhandle Handle = tjInitDecompress();
    ~TThreadDecoder() {
        if (Handle)
            tjDestroy(Handle);
    }
};

} // namespace

int JpegRowsDecodeFlags() {
    return TJFLAG_FASTUPSAMPLE;
}

bool TYuvPicture::SetSize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0)
        return false;
    if (width == FWidth && height == FHeight)
        return true;
    const size_t cw = size_t(tjPlaneWidth(1, width, TJSAMP_420));
    const size_t ch = size_t(tjPlaneHeight(1, height, TJSAMP_420));
    FBytes.resize(size_t(width) * size_t(height) + 2 * cw * ch);
    FStrides[0] = width;
    FStrides[1] = FStrides[2] = int(cw);
    FWidth = width;
    FHeight = height;
    return true;
}

std::array<uint8_t*, 3> TYuvPicture::Planes() {
    uint8_t* y = FBytes.data();
    uint8_t* cb = y + size_t(FStrides[0]) * size_t(FHeight);
    return {y, cb, cb + size_t(FStrides[1]) * size_t((FHeight + 1) / 2)};
}

std::array<const uint8_t*, 3> TYuvPicture::Planes() const {
    const auto p = const_cast<TYuvPicture*>(this)->Planes();
    return {p[0], p[1], p[2]};
}

void TYuvPicture::Assign(const TYuvPicture& src) {
    if (this == &src || !SetSize(src.FWidth, src.FHeight))
        return;
    std::memcpy(FBytes.data(), src.FBytes.data(), FBytes.size());
}

bool TYuvPicture::ToRows(uint8_t* rows, int32_t rowBytes) const {
    thread_local TThreadDecoder decoder;
    if (!decoder.Handle || FWidth <= 0)
        return false;
    auto planes = Planes();
    return tjDecodeYUVPlanes(decoder.Handle, planes.data(), FStrides, TJSAMP_420, rows, FWidth,
                             rowBytes, FHeight, TJPF_BGR, JpegRowsDecodeFlags()) == 0;
}
