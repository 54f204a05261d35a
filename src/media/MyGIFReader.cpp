#include "MyGIFReader.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include "MyExceptions.h"
#include "MyPictureLoader.h"
#include "MyRiffIO.h"

#include <cstdio>
#include <memory>

namespace {

// One pixel of the picture over the B, G, R pixel o.
inline void DrawPixel(QRgb p, uint8_t* o) {
    const int a = qAlpha(p);
    if (a == 0)
        return;
    const int c[3] = {qBlue(p), qGreen(p), qRed(p)};
    for (int k = 0; k < 3; ++k)
        o[k] = uint8_t(a == 255 ? c[k] : (c[k] * a + o[k] * (255 - a) + 127) / 255);
}

// Decodes the reader's first frame into bitmap; the bitmap changes only when that succeeds.
void ReadFirstFrame(QImageReader& reader, TBitmap& bitmap, const std::string& fileName) {
    // The format is fixed: content that is not a GIF must fail, not be read as something else.
    reader.setFormat("gif");
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (!size.isValid())
        throw EReadError("Invalid GIF file: " + reader.errorString().toStdString(), fileName);
    CheckPictureSize(size.width(), size.height(), fileName);
    QImage image = reader.read();
    if (image.isNull())
        throw EReadError("Invalid GIF file: " + reader.errorString().toStdString(), fileName);
    CheckPictureSize(image.width(), image.height(), fileName);
    // The picture is drawn onto the bitmap as it stands: a transparent pixel leaves what was
    // there (black where the bitmap grew).
    image = image.convertToFormat(QImage::Format_ARGB32);
    bitmap.SetSize(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uint8_t* o = bitmap.ScanLine(y);
        for (int x = 0; x < image.width(); ++x, o += 3)
            DrawPixel(s[x], o);
    }
}

using TFileHandle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// A FIFO or a device is refused before the image reader could wait on it.
bool OpenGif(const std::string& fileName, TFileHandle& handle, QFile& file) {
    handle.reset(OpenRegularFile(fileName));
    return handle && file.open(handle.get(), QIODevice::ReadOnly);
}

} // namespace

void TGIFBitmap::LoadFromFile(const std::string& fileName) {
    TFileHandle handle(nullptr, &std::fclose);
    QFile file;
    if (!OpenGif(fileName, handle, file))
        throw EReadError("Cannot open file " + fileName, fileName);
    QImageReader reader(&file, "gif");
    ReadFirstFrame(reader, *this, fileName);
}

void TGIFBitmap::LoadFromMemory(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(MaxPictureFileBytes))
        throw EReadError("Picture file too large");
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    ReadFirstFrame(reader, *this, {});
}

bool TGIFBitmap::ReadSize(const std::string& fileName, int32_t& width, int32_t& height) {
    // The image reader's quick size is the first image's, while the picture it decodes has the
    // size of the logical screen; only a decode tells the size the clip will really show.
    TGIFBitmap picture;
    try {
        picture.LoadFromFile(fileName);
    } catch (const EReadError&) {
        return false;
    }
    if (picture.Empty())
        return false;
    width = picture.Width();
    height = picture.Height();
    return true;
}
