// A picture control: shows its own bitmap unscaled from the top-left corner, clipped.
#pragma once

#include <QWidget>

#include "MyGraphics.h"

class TPreviewImage : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewImage(QWidget* parent = nullptr);

    // Takes a copy of src as the picture.
    void SetPicture(const TBitmap& src);
    // Copies r of src into the same rectangle of the picture.
    void CopyFrom(const TBitmap& src, const TRect& r);
    const TBitmap& Picture() const { return Bitmap; }
    TBitmap& Picture() { return Bitmap; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TBitmap Bitmap;
};
