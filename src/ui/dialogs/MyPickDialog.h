// The "Pick the color" dialog: shows an effect's picture and takes the colour of the pixel the
// user clicks. TPickColor keeps the choice; TPickDialog is the window over it.
#pragma once

#include <QDialog>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "MyGraphics.h"

class QLabel;
class QPushButton;
class QScrollArea;

class TPickColor {
public:
    // Colour 0x00BBGGRR.
    uint32_t Selected = 0xFFFFFF;

    // Takes the colour of pixel (x, y) of picture; a point outside it changes nothing and
    // gives False.
    bool Click(const TBitmap& picture, int32_t x, int32_t y);
};

// The picture at its own size, pixel for pixel; a release of any mouse button picks.
class TPickImage : public QWidget {
    Q_OBJECT
public:
    explicit TPickImage(QWidget* parent = nullptr);
    void SetPicture(const TBitmap& picture);
    const TBitmap& Picture() const { return Bitmap; }
    std::function<void(int32_t x, int32_t y)> OnPick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TBitmap Bitmap;
};

class TPickDialog : public QDialog {
    Q_OBJECT
public:
    // Shows picture with color preselected; on OK color becomes the picked colour and the
    // result is True, otherwise color is untouched.
    static bool Execute(const TBitmap& picture, uint32_t& color, QWidget* parent = nullptr);
    // Tests replace the modal run: called with the filled dialog, returns its result.
    static inline std::function<int(TPickDialog&)> ExecHook;

    explicit TPickDialog(QWidget* parent = nullptr);

    void SetSelected(uint32_t color);
    uint32_t GetSelected() const { return Logic.Selected; }

    QScrollArea* Scroller;
    TPickImage* Image1;
    QLabel* pSelected;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QLabel* StatusBar1;

protected:
    void showEvent(QShowEvent* event) override;

private:
    TPickColor Logic;
};
