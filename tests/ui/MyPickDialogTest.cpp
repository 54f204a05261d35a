// The colour pick dialog: the last click wins, clicks outside the picture and Cancel change
// nothing, and large pictures scroll.
#include "MyPickDialog.h"

#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include "DialogRig.h"

namespace {

// A 40 x 30 picture whose pixel (x, y) has red x and green y.
TBitmap Gradient(int32_t w = 40, int32_t h = 30) {
    TBitmap b(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            b.Canvas().SetPixel(x, y, uint32_t(x & 0xFF) | uint32_t(y & 0xFF) << 8 | 0x400000);
    return b;
}

void Release(QWidget* w, QPoint at, Qt::MouseButton button) {
    QMouseEvent e(QEvent::MouseButtonRelease, QPointF(at), QPointF(w->mapToGlobal(at)), button,
                  Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

} // namespace

TEST(PickColor, ClickTakesThePixelAndIgnoresPointsOutside) {
    const TBitmap b = Gradient();
    TPickColor pick;
    pick.Selected = 0x123456;
    // x, y, taken, the colour selected after.
    const std::tuple<int32_t, int32_t, bool, uint32_t> cases[] = {
        {3, 7, true, 0x400703},   {39, 29, true, 0x401D27}, {40, 5, false, 0x401D27},
        {-1, 5, false, 0x401D27}, {5, 30, false, 0x401D27}, {0, 0, true, 0x400000}};
    for (const auto& [x, y, taken, colour] : cases) {
        EXPECT_EQ(pick.Click(b, x, y), taken) << x << "," << y;
        EXPECT_EQ(pick.Selected, colour) << x << "," << y;
    }
}

// Cancel keeps the colour; on OK the last click wins, also in a large picture scrolled
// at its own size.
TEST(PickDialog, LastClickWinsOnOkAndCancelKeepsTheColour) {
    TFakeUiServices ui;
    TMainForm form(&ui);
    auto reset = ResetHooks(TPickDialog::ExecHook);
    const TBitmap picture = Gradient(1200, 900);
    uint32_t colour = 0xABCDEF;
    TPickDialog::ExecHook = [&](TPickDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), "Pick the color");
        EXPECT_EQ(d.GetSelected(), 0xABCDEFu);
        Release(d.Image1, {2, 3}, Qt::LeftButton);
        Release(d.Image1, {10, 20}, Qt::RightButton);
        EXPECT_EQ(d.GetSelected(), 0x40140Au);
        d.BitBtn2->click();
        return d.result();
    };
    EXPECT_FALSE(TPickDialog::Execute(picture, colour, &form));
    EXPECT_EQ(colour, 0xABCDEFu);
    TPickDialog::ExecHook = [&](TPickDialog& d) {
        d.show();
        // Centred on the screen, 508 x 463, with a close button and nothing else.
        EXPECT_EQ(d.size(), QSize(508, 463));
        EXPECT_EQ(d.frameGeometry().center(), d.screen()->availableGeometry().center());
        const Qt::WindowFlags f = d.windowFlags();
        EXPECT_TRUE(f.testFlag(Qt::WindowCloseButtonHint) && f.testFlag(Qt::WindowSystemMenuHint));
        EXPECT_FALSE(f.testFlag(Qt::WindowMinMaxButtonsHint) ||
                     f.testFlag(Qt::WindowContextHelpButtonHint));
        EXPECT_EQ(d.Image1->size(), QSize(1200, 900));
        EXPECT_LT(d.Scroller->viewport()->width(), 1200);
        Release(d.Image1, {5, 6}, Qt::RightButton);
        d.Scroller->horizontalScrollBar()->setValue(1000);
        Release(d.Image1, {1100, 800}, Qt::LeftButton);
        d.BitBtn1->click();
        return d.result();
    };
    EXPECT_TRUE(TPickDialog::Execute(picture, colour, &form));
    EXPECT_EQ(colour, 0x40204Cu); // x 1100 & 255 = 76, y 800 & 255 = 32
}
