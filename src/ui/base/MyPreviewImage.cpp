#include "MyPreviewImage.h"

#include <QImage>
#include <QPainter>

TPreviewImage::TPreviewImage(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPreviewImage::SetPicture(const TBitmap& src) {
    Bitmap.Assign(src);
    update();
}

void TPreviewImage::CopyFrom(const TBitmap& src, const TRect& r) {
    if (Bitmap.Empty() || src.Empty())
        return;
    Bitmap.Canvas().CopyRect(r, src, r);
    update(QRect(r.Left, r.Top, r.Width(), r.Height()));
}

void TPreviewImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (Bitmap.Empty())
        return;
    // A view on the bitmap's own rows: the same B, G, R bytes, no copy.
    const QImage view(Bitmap.Bits(), Bitmap.Width(), Bitmap.Height(), Bitmap.RowBytes(),
                      QImage::Format_BGR888);
    p.drawImage(0, 0, view);
}
