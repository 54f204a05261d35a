// Still pictures for the bitmap clip: JPEG through libjpeg-turbo, BMP through our own reader,
// GIF through TGIFBitmap. Every reader checks sizes against the bytes present and refuses
// pictures too large to hold, with an EReadError naming the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "MyExceptions.h"
#include "MyGraphics.h"

enum class TPictureKind { None, Jpeg, Bmp, Gif };

// The loader for a file name, by its extension compared exactly and without regard to case:
// ".jpg" and ".jpeg", ".bmp", ".gif". Anything else (".j", ".bm", no extension) is None.
TPictureKind PictureKindOf(const std::string& fileName);

// Largest picture accepted: each side, and width x height.
constexpr int32_t MaxPictureSide = 32768;
constexpr int64_t MaxPicturePixels = int64_t(1) << 26;
// Largest picture file read into memory.
constexpr int64_t MaxPictureFileBytes = int64_t(1) << 28;

// Raises EReadError when a width or height is not positive or past the limits above.
void CheckPictureSize(int64_t width, int64_t height, const std::string& fileName,
                      int64_t widthOffset = -1, int64_t heightOffset = -1);

// A BMP file image (file header, then a core, info or later header; 1, 4, 8, 16, 24 or 32 bits;
// palettes; BI_RGB or BI_BITFIELDS; bottom-up or top-down) into bitmap.
void ReadBmp(const uint8_t* data, size_t size, TBitmap& bitmap, const std::string& fileName = {});
// The size a BMP file image declares, after the same checks ReadBmp makes.
void ReadBmpSize(const uint8_t* data, size_t size, int32_t& width, int32_t& height,
                 const std::string& fileName = {});

// Loads pictures of any kind. Holds a JPEG decompressor, so one loader serves many pictures.
// On failure the target bitmap's content is unspecified; callers draw black instead.
class TPictureLoader {
public:
    TPictureLoader();
    ~TPictureLoader();
    TPictureLoader(const TPictureLoader&) = delete;
    TPictureLoader& operator=(const TPictureLoader&) = delete;

    // Loads the file's picture. With fitWidth and fitHeight above 0, a JPEG much larger than
    // that may be decoded at a reduced scale, never below the fit size in either direction.
    void LoadFromFile(const std::string& fileName, TBitmap& bitmap, int32_t fitWidth = 0,
                      int32_t fitHeight = 0);
    void LoadFromMemory(const uint8_t* data, size_t size, TPictureKind kind, TBitmap& bitmap,
                        int32_t fitWidth = 0, int32_t fitHeight = 0,
                        const std::string& fileName = {});
    // The picture's full size from its header; false when the file cannot be read as its kind.
    bool ReadSize(const std::string& fileName, int32_t& width, int32_t& height);

private:
    void ReadJpeg(const uint8_t* data, size_t size, TBitmap& bitmap, int32_t fitWidth,
                  int32_t fitHeight, const std::string& fileName);
    void* FDecompressor = nullptr;
};
