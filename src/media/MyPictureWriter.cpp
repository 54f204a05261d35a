#include "MyPictureWriter.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "MyFileReplace.h"
#include "MyRiffFormat.h"

namespace {

struct TFileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<FILE, TFileCloser>;

void PutLE16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void PutLE32(std::vector<uint8_t>& out, uint32_t v) {
    PutLE16(out, v & 0xFFFF);
    PutLE16(out, v >> 16);
}

// Writes the picture beside its name and puts it in place once complete; on any failure the
// partial file goes and a picture already at the name stays as it was. Only a picture that
// replaces another is synced to disk first: a sequence of new pictures is not slowed by it.
// A failure leaves the system's reason in error.
bool WriteWhole(const std::string& fileName, std::string& error, const auto& writeBody) {
    TFileReplacement replacement(fileName);
    errno = 0;
    const auto failed = [&error] {
        error = std::strerror(errno ? errno : EIO);
        return false;
    };
    TFile file(std::fopen(replacement.TempName().c_str(), "wb"));
    if (!file)
        return failed();
    // The first step that fails names the reason; the file is closed in any case.
    bool ok = writeBody(file.get()) && std::fflush(file.get()) == 0;
    if (!ok)
        failed();
    if (std::fclose(file.release()) != 0 && ok)
        ok = failed();
    if (ok && !replacement.Commit(replacement.ReplacesFile())) {
        error = replacement.ErrorText();
        return false;
    }
    return ok;
}

} // namespace

std::vector<uint8_t> BmpFileHeader(int32_t width, int32_t height) {
    const uint32_t row = (uint32_t(width) * 3 + 3) & ~3u;
    const uint32_t image = row * uint32_t(height);
    std::vector<uint8_t> h;
    h.reserve(54);
    // File header.
    h.push_back('B');
    h.push_back('M');
    PutLE32(h, 54 + image); // file size
    PutLE32(h, 0);          // reserved, must be 0
    PutLE32(h, 54);         // offset of the pixels
    // Info header.
    PutLE32(h, 40);               // header size
    PutLE32(h, uint32_t(width));  // width
    PutLE32(h, uint32_t(height)); // height, positive: rows bottom-up
    PutLE16(h, 1);                // planes
    PutLE16(h, 24);               // bits per pixel
    PutLE32(h, BI_RGB);           // compression: none
    PutLE32(h, image);            // image size
    PutLE32(h, 0);                // horizontal pixels per metre, unknown
    PutLE32(h, 0);                // vertical pixels per metre, unknown
    PutLE32(h, 0);                // colours used: none, no palette
    PutLE32(h, 0);                // important colours: all
    return h;
}

TPictureWriter::TPictureWriter() : Compressor(tjInitCompress()) {}

TPictureWriter::~TPictureWriter() {
    if (Compressor)
        tjDestroy(static_cast<tjhandle>(Compressor));
}

bool TPictureWriter::EncodeJpeg(const TBitmap& bitmap, int quality) {
    JpegBytes = 0;
    if (bitmap.Empty() || !Compressor)
        return false;
    const unsigned long bound = tjBufSize(bitmap.Width(), bitmap.Height(), TJSAMP_420);
    if (bound == static_cast<unsigned long>(-1))
        return false;
    // Grows to the largest picture once; every later picture reuses it.
    if (Buffer.size() < bound)
        Buffer.resize(bound);
    unsigned char* out = Buffer.data();
    unsigned long size = 0;
    if (tjCompress2(static_cast<tjhandle>(Compressor), bitmap.Bits(), bitmap.Width(),
                    bitmap.RowBytes(), bitmap.Height(), TJPF_BGR, &out, &size, TJSAMP_420,
                    std::clamp(quality, 1, 100), TJFLAG_NOREALLOC) != 0)
        return false;
    JpegBytes = size;
    return true;
}

bool TPictureWriter::SaveJpeg(const TBitmap& bitmap, int quality, const std::string& fileName) {
    Error.clear();
    if (!EncodeJpeg(bitmap, quality)) {
        Error = "the picture could not be compressed";
        return false;
    }
    return WriteWhole(fileName, Error, [this](FILE* f) {
        return std::fwrite(Buffer.data(), 1, JpegBytes, f) == JpegBytes;
    });
}

bool TPictureWriter::SaveBmp(const TBitmap& bitmap, const std::string& fileName) {
    Error.clear();
    if (bitmap.Empty()) {
        Error = "the picture is empty";
        return false;
    }
    const std::vector<uint8_t> header = BmpFileHeader(bitmap.Width(), bitmap.Height());
    const size_t pixels = size_t(bitmap.Width()) * 3;
    const size_t pad = ((pixels + 3) & ~size_t(3)) - pixels;
    static constexpr uint8_t Zeros[3] = {0, 0, 0};
    return WriteWhole(fileName, Error, [&](FILE* f) {
        if (std::fwrite(header.data(), 1, header.size(), f) != header.size())
            return false;
        // Rows bottom-up, each padded with zeros to whole four bytes.
        for (int32_t y = bitmap.Height() - 1; y >= 0; --y)
            if (std::fwrite(bitmap.ScanLine(y), 1, pixels, f) != pixels ||
                std::fwrite(Zeros, 1, pad, f) != pad)
                return false;
        return true;
    });
}
