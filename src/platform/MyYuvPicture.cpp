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
    const size_t luma = size_t(width) * size_t(height);
    FBytes.resize(luma + 2 * cw * ch);
    FPlanes[0] = FBytes.data();
    FPlanes[1] = FPlanes[0] + luma;
    FPlanes[2] = FPlanes[1] + cw * ch;
    FStrides[0] = width;
    FStrides[1] = FStrides[2] = int(cw);
    FWidth = width;
    FHeight = height;
    return true;
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
    return tjDecodeYUVPlanes(decoder.Handle, Planes(), FStrides, TJSAMP_420, rows, FWidth, rowBytes,
                             FHeight, TJPF_BGR, JpegRowsDecodeFlags()) == 0;
}
