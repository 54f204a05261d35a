// A picture kept as the 8-bit Y, Cb and Cr planes a JPEG decoder gives (4:2:0, full range), for
// frames that go from a Motion JPEG movie to a JPEG encoder untouched: coding them from their
// planes leaves out a conversion to B, G, R rows and one back.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

class TYuvPicture {
public:
    // Sizes the planes for a width x height picture; the buffer only grows. False for an empty
    // or negative size.
    bool SetSize(int32_t width, int32_t height);
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }

    // Plane 0 is Y at the full size; 1 and 2 are Cb and Cr at half the width and height, rounded
    // up. TurboJPEG's plane calls take the array's data().
    std::array<uint8_t*, 3> Planes();
    std::array<const uint8_t*, 3> Planes() const;
    int* Strides() { return FStrides; }
    const int* Strides() const { return FStrides; }

    // The same planes at the same size.
    void Assign(const TYuvPicture& src);

    // Writes the picture as B, G, R rows rowBytes apart, exactly the pixels the JPEG decoder
    // gives when it decodes straight to rows (chroma repeated over the pixels it covers). False
    // when the conversion fails.
    bool ToRows(uint8_t* rows, int32_t rowBytes) const;

private:
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    std::vector<uint8_t> FBytes;
    int FStrides[3] = {};
};

// The TurboJPEG flags of a decode to B, G, R rows, so that a picture decoded straight to rows and
// one converted from its planes are the same pixels: chroma is repeated over the block it covers,
// as libswscale's own conversion at one size does (smooth upsampling took half as long again).
int JpegRowsDecodeFlags();
