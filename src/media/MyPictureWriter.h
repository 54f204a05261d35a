// Still-picture files of a frame bitmap: JPEG through libjpeg-turbo at a chosen quality, and
// uncompressed 24-bit BMP through our own writer. One writer serves a whole picture sequence and
// keeps its compressor and buffer between pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MyGraphics.h"

class TPictureWriter {
public:
    TPictureWriter();
    ~TPictureWriter();
    TPictureWriter(const TPictureWriter&) = delete;
    TPictureWriter& operator=(const TPictureWriter&) = delete;

    // Quality 1..100 (clamped). False when the picture is empty or the file cannot be written;
    // a file that could not be completed is removed.
    bool SaveJpeg(const TBitmap& bitmap, int quality, const std::string& fileName);
    bool SaveBmp(const TBitmap& bitmap, const std::string& fileName);
    // Why the last save failed, in the system's words where it refused ("No space left on
    // device"); empty after a save that succeeded.
    const std::string& ErrorText() const { return Error; }

    // The JPEG bytes of the last SaveJpeg or EncodeJpeg.
    const uint8_t* JpegData() const { return Buffer.data(); }
    size_t JpegSize() const { return JpegBytes; }
    // Compresses into the writer's buffer without writing a file.
    bool EncodeJpeg(const TBitmap& bitmap, int quality);

private:
    void* Compressor = nullptr;
    std::vector<uint8_t> Buffer;
    size_t JpegBytes = 0;
    std::string Error;
};

// The 54 bytes that open a 24-bit bottom-up BMP file of the given size.
std::vector<uint8_t> BmpFileHeader(int32_t width, int32_t height);
