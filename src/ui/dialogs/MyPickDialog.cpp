#include "MyPickDialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "MyMsgDlg.h"
#include "MyUiServices.h"

bool TPickColor::Click(const TBitmap& picture, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= picture.Width() || y >= picture.Height())
        return false;
    Selected = picture.Canvas().GetPixel(x, y);
    return true;
}

// ---- TPickImage -------------------------------------------------------------------------------

TPickImage::TPickImage(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::PointingHandCursor);
}

void TPickImage::SetPicture(const TBitmap& picture) {
    Bitmap.Assign(picture);
    setFixedSize(std::max(Bitmap.Width(), 1), std::max(Bitmap.Height(), 1));
    update();
}

void TPickImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (Bitmap.Empty())
        return;
    const QImage view(Bitmap.Bits(), Bitmap.Width(), Bitmap.Height(), Bitmap.RowBytes(),
                      QImage::Format_BGR888);
    p.drawImage(0, 0, view);
}

void TPickImage::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (OnPick)
        OnPick(at.x(), at.y());
}

// ---- TPickDialog ------------------------------------------------------------------------------

bool TPickDialog::Execute(const TBitmap& picture, uint32_t& color, QWidget* parent) {
    TPickDialog dlg(parent);
    dlg.Image1->SetPicture(picture);
    dlg.SetSelected(color);
    const int result = ExecHook ? ExecHook(dlg) : dlg.exec();
    if (result != QDialog::Accepted)
        return false;
    color = dlg.GetSelected();
    return true;
}

TPickDialog::TPickDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Pick the color"));
    // A title bar with its close button only: no help, no minimising or maximising.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    resize(508, 463);
    auto* v = new QVBoxLayout(this);
    // Pictures larger than the window scroll instead of being cut off.
    Scroller = new QScrollArea(this);
    Image1 = new TPickImage;
    Scroller->setWidget(Image1);
    v->addWidget(Scroller, 1);
    auto* bottom = new QHBoxLayout;
    auto* box = new QGroupBox(QStringLiteral("Selected color "), this);
    auto* boxLayout = new QHBoxLayout(box);
    pSelected = new QLabel(box);
    pSelected->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pSelected->setAutoFillBackground(true);
    pSelected->setMinimumSize(60, 20);
    boxLayout->addWidget(pSelected);
    bottom->addWidget(box);
    bottom->addStretch();
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    bottom->addWidget(BitBtn1);
    bottom->addWidget(BitBtn2);
    v->addLayout(bottom);
    StatusBar1 = new QLabel(this);
    v->addWidget(StatusBar1);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    Image1->OnPick = [this](int32_t x, int32_t y) {
        if (Logic.Click(Image1->Picture(), x, y))
            SetSelected(Logic.Selected);
    };
    SetSelected(0xFFFFFF);
}

void TPickDialog::showEvent(QShowEvent* event) {
    // Centred on the screen, wherever the window that opened it stands.
    CentreOnScreen(this);
    QDialog::showEvent(event);
}

void TPickDialog::SetSelected(uint32_t color) {
    Logic.Selected = color;
    SetPanelColor(pSelected, color);
}
